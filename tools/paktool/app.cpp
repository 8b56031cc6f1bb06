#include "tools/paktool/app.h"

#include <string>

#include "tools/filepacktools_lib/patchloomversion.h"

namespace paktool {

namespace {

const char kFooter[] =
    "Names inside a pack are shown with '/' between components and may be given\n"
    "with '/' or '\\', with or without the root name (res/ui/a.txt or ui/a.txt).\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 3 nothing to update (diff).";

}  // namespace

std::vector<CCommand> SetUpApp(CLI::App& app) {
  app.name("paktool");
  app.description("paktool: build, list, extract, diff, merge, compact, verify and sign packs (.pak).");
  // Set before the commands are added, which inherit it: "/tmp/x" is a path.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("paktool ") + PatchloomVersion(), "print paktool's version and exit");
  return {AddBuildCommand(app),     AddListCommand(app),   AddInfoCommand(app),     AddExtractCommand(app),
          AddCatCommand(app),       AddDiffCommand(app),   AddManifestCommand(app), AddMergeCommand(app),
          AddCompactCommand(app),   AddVerifyCommand(app), AddKeygenCommand(app),   AddSignCommand(app),
          AddApplyDeltaCommand(app)};
}

}  // namespace paktool
