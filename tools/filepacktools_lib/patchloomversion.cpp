#include "tools/filepacktools_lib/patchloomversion.h"

const char* PatchloomVersion() { return kPatchloomVersion; }
