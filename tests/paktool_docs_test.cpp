// paktool's manual page and bash completion, as generated at build time,
// held against what the real paktool --help prints: every command and
// option, and every command's closing text, is in the manual page; bash,
// with the completion loaded, completes commands and each command's options.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

const int kTimeoutMs = 60000;

std::vector<std::string> Lines(const std::string& strText) {
  std::vector<std::string> vecLines;
  std::istringstream in(strText);
  for (std::string strLine; std::getline(in, strLine);) vecLines.push_back(strLine);
  return vecLines;
}

// The manual page's text with roff's escapes undone, so help text compares.
std::string Unroffed(std::string strText) {
  for (const auto& [strEscape, strPlain] :
       {std::pair<std::string, std::string>{"\\&", ""}, {"\\-", "-"}, {"\\e", "\\"}}) {
    for (size_t nAt = 0; (nAt = strText.find(strEscape, nAt)) != std::string::npos; nAt += strPlain.size()) {
      strText.replace(nAt, strEscape.size(), strPlain);
    }
  }
  return strText;
}

// One command's help as paktool prints it.
struct CCommandHelp {
  std::string strName;
  std::set<std::string> setOptions;    // "-l", "--long", ...
  std::vector<std::string> vecFooter;  // the text after the option list
};

class PaktoolDocsTest : public ::testing::Test {
 protected:
  std::string Help(const std::vector<std::string>& vecArgs) {
    std::vector<std::string> vecAll = {"paktool"};
    vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
    vecAll.push_back("--help");
    const CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecAll, m_dir.Path(), kTimeoutMs);
    EXPECT_EQ(0, result.nExitCode);
    return result.strOutput;
  }

  std::vector<CCommandHelp> Commands() {
    std::vector<std::string> vecNames;
    bool bInList = false;
    for (const std::string& strLine : Lines(Help({}))) {
      if (strLine == "Subcommands:" || strLine.empty()) {
        bInList = !strLine.empty();
      } else if (bInList) {
        vecNames.push_back(strLine.substr(2, strLine.find(' ', 2) - 2));
      }
    }
    std::vector<CCommandHelp> vecCommands;
    const std::regex option("(^|[ ,])(--?[A-Za-z][-A-Za-z]*)");
    for (const std::string& strName : vecNames) {
      CCommandHelp help{strName, {}, {}};
      int nSection = 0;  // 1 the option list, 2 the text after it
      for (const std::string& strLine : Lines(Help({strName}))) {
        if (strLine == "Options:") {
          nSection = 1;
        } else if (nSection == 1 && strLine.empty()) {
          nSection = 2;
        } else if (nSection == 2) {
          help.vecFooter.push_back(strLine);
        } else if (nSection == 1 && strLine.compare(0, 3, "  -") == 0) {
          const std::string strNames = strLine.substr(0, strLine.find("  ", 2));
          for (std::sregex_iterator it(strNames.begin(), strNames.end(), option), end; it != end; ++it) {
            help.setOptions.insert((*it)[2]);
          }
        }
      }
      vecCommands.push_back(help);
    }
    return vecCommands;
  }

  // What bash's completion offers for the words typed so far (the last one
  // being completed).
  std::set<std::string> Complete(const std::string& strLine) {
    const std::string strScript = "source '" PAKTOOL_DOCS_DIR
                                  "/paktool.bash'\n"
                                  "COMP_WORDS=(" +
                                  strLine +
                                  ")\n"
                                  "[[ '" +
                                  strLine +
                                  "' == *' ' ]] && COMP_WORDS+=('')\n"
                                  "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                                  "_paktool\n"
                                  "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    const CChildResult result = RunChild("/bin/bash", {"bash", "-c", strScript}, m_dir.Path(), kTimeoutMs);
    EXPECT_EQ(0, result.nExitCode) << strLine;
    std::set<std::string> setWords;
    for (const std::string& strWord : Lines(result.strOutput)) {
      if (!strWord.empty()) setWords.insert(strWord);
    }
    return setWords;
  }

  CTempDir m_dir;
};

TEST_F(PaktoolDocsTest, TheManualPageHoldsEveryCommandOptionAndText) {
  const std::string strPage = Unroffed(ReadFileBytes(PAKTOOL_DOCS_DIR "/paktool.1"));
  EXPECT_NE(std::string::npos, strPage.find(".TH PAKTOOL 1 \"\" \"Patchloom " PATCHLOOM_PROJECT_VERSION "\""));
  const std::vector<CCommandHelp> vecCommands = Commands();
  ASSERT_LE(10u, vecCommands.size());
  for (const CCommandHelp& command : vecCommands) {
    SCOPED_TRACE(command.strName);
    const size_t nStart = strPage.find(".SS \"paktool " + command.strName + " ");
    ASSERT_NE(std::string::npos, nStart);
    const std::string strSection = strPage.substr(nStart, strPage.find(".SS", nStart + 1) - nStart);
    EXPECT_LE(1u, command.setOptions.count("--help"));
    for (const std::string& strOption : command.setOptions) {
      EXPECT_NE(std::string::npos, strSection.find(strOption)) << strOption;
    }
    EXPECT_FALSE(command.vecFooter.empty());
    for (const std::string& strLine : command.vecFooter) {
      EXPECT_NE(std::string::npos, strSection.find(strLine)) << strLine;
    }
  }
}

TEST_F(PaktoolDocsTest, BashCompletesCommandsAndTheirOptions) {
  EXPECT_EQ((std::set<std::string>{"list"}), Complete("paktool li"));
  EXPECT_EQ((std::set<std::string>{"--help", "--version"}), Complete("paktool --"));
  std::set<std::string> setNames;
  for (const CCommandHelp& command : Commands()) {
    SCOPED_TRACE(command.strName);
    setNames.insert(command.strName);
    EXPECT_EQ(command.setOptions, Complete("paktool " + command.strName + " -"));
  }
  EXPECT_EQ(setNames, Complete("paktool "));
  EXPECT_EQ((std::set<std::string>{"--json"}), Complete("paktool list res.pak --j"));
  // A value or a file is typed here: bash completes file names itself.
  EXPECT_EQ(std::set<std::string>{}, Complete("paktool verify --key "));
  EXPECT_EQ(std::set<std::string>{}, Complete("paktool list "));
}

}  // namespace
