#include "tools/paktool/docs.h"

#include <sstream>
#include <vector>

namespace paktool {

namespace {

// Text for roff: a backslash is \e, and a line starting with a control
// character ('.' or '\'') is kept from being read as a request.
std::string Roff(const std::string& strText) {
  std::string strOut;
  bool bLineStart = true;
  for (char ch : strText) {
    if (bLineStart && (ch == '.' || ch == '\'')) strOut += "\\&";
    if (ch == '\\') {
      strOut += "\\e";
    } else {
      strOut += ch;
    }
    bLineStart = ch == '\n';
  }
  return strOut;
}

// An option's names as written on the command line: "-l, --long".
std::string OptionNames(const CLI::Option& option) {
  std::string strNames;
  for (const std::string& strShort : option.get_snames()) strNames += (strNames.empty() ? "-" : ", -") + strShort;
  for (const std::string& strLong : option.get_lnames()) strNames += (strNames.empty() ? "--" : ", --") + strLong;
  return strNames;
}

// False for a flag.
bool TakesValue(const CLI::Option& option) { return option.get_expected_max() != 0; }

std::vector<const CLI::Option*> Options(const CLI::App& app, bool bPositional) {
  std::vector<const CLI::Option*> vecOptions;
  for (const CLI::Option* pOption : app.get_options()) {
    if (pOption->nonpositional() != bPositional) vecOptions.push_back(pOption);
  }
  return vecOptions;
}

// "paktool list [OPTIONS] PACK [DIR]".
std::string Synopsis(const CLI::App& command) {
  std::string strLine = "paktool " + command.get_name() + " [OPTIONS]";
  for (const CLI::Option* pArg : Options(command, true)) {
    const std::string strName = pArg->get_name();
    strLine += pArg->get_required() ? " " + strName : " [" + strName + "]";
  }
  return strLine;
}

// One .TP item per option: bold names, the value's type in italics.
void WriteOptions(std::ostringstream& out, const std::vector<const CLI::Option*>& vecOptions) {
  for (const CLI::Option* pOption : vecOptions) {
    std::string strNames = pOption->nonpositional() ? OptionNames(*pOption) : pOption->get_name();
    std::string strEscaped;
    for (char ch : strNames) strEscaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
    out << ".TP\n\\fB" << strEscaped << "\\fR";
    if (TakesValue(*pOption) && pOption->nonpositional()) out << " \\fI" << pOption->get_type_name() << "\\fR";
    out << '\n' << Roff(pOption->get_description());
    if (!pOption->get_default_str().empty()) out << " (default: " << Roff(pOption->get_default_str()) << ')';
    out << '\n';
  }
}

// A footer's paragraphs: its lines as they are, filled by the formatter.
void WriteText(std::ostringstream& out, const std::string& strText) {
  if (strText.empty()) return;
  out << ".PP\n" << Roff(strText) << (strText.back() == '\n' ? "" : "\n");
}

// Words joined by spaces.
std::string Words(const std::vector<std::string>& vecWords) {
  std::string strOut;
  for (const std::string& strWord : vecWords) strOut += (strOut.empty() ? "" : " ") + strWord;
  return strOut;
}

std::vector<std::string> OptionWords(const CLI::App& app) {
  std::vector<std::string> vecWords;
  for (const CLI::Option* pOption : Options(app, false)) {
    for (const std::string& strShort : pOption->get_snames()) vecWords.push_back("-" + strShort);
    for (const std::string& strLong : pOption->get_lnames()) vecWords.push_back("--" + strLong);
  }
  return vecWords;
}

// The options of app that take a value, as a case pattern "-o|--output".
std::string ValueOptionPattern(const CLI::App& app) {
  std::string strPattern;
  for (const CLI::Option* pOption : Options(app, false)) {
    if (!TakesValue(*pOption)) continue;
    for (const std::string& strShort : pOption->get_snames())
      strPattern += (strPattern.empty() ? "-" : "|-") + strShort;
    for (const std::string& strLong : pOption->get_lnames())
      strPattern += (strPattern.empty() ? "--" : "|--") + strLong;
  }
  return strPattern;
}

}  // namespace

std::string ManPage(const CLI::App& app, const std::string& strVersion) {
  std::ostringstream out;
  const std::vector<const CLI::App*> vecCommands = app.get_subcommands({});
  out << ".TH PAKTOOL 1 \"\" \"Patchloom " << strVersion << "\" \"User Commands\"\n"
      << ".SH NAME\npaktool \\- " << Roff(app.get_description().substr(app.get_description().find(": ") + 2)) << '\n'
      << ".SH SYNOPSIS\n.B paktool\n\\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n"
      << ".br\n.B paktool\n\\fICOMMAND\\fR \\fB\\-\\-help\\fR\n"
      << ".SH DESCRIPTION\n"
      << Roff(app.get_description()) << "\nThe commands:\n";
  for (const CLI::App* pCommand : vecCommands) {
    out << ".TP\n.B " << pCommand->get_name() << '\n' << Roff(pCommand->get_description()) << '\n';
  }
  out << ".SH OPTIONS\n";
  WriteOptions(out, Options(app, false));
  out << ".SH COMMANDS\n";
  for (const CLI::App* pCommand : vecCommands) {
    out << ".SS \"" << Roff(Synopsis(*pCommand)) << "\"\n" << Roff(pCommand->get_description()) << '\n';
    WriteOptions(out, Options(*pCommand, true));
    WriteOptions(out, Options(*pCommand, false));
    WriteText(out, pCommand->get_footer());
  }
  out << ".SH NOTES\n";
  WriteText(out, app.get_footer());
  return out.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::ostringstream out;
  std::vector<std::string> vecNames;
  for (const CLI::App* pCommand : app.get_subcommands({})) vecNames.push_back(pCommand->get_name());
  out << "# bash completion for paktool, generated from its command line.\n"
      << "_paktool() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; break ;; esac\n"
      << "  done\n"
      << "  COMPREPLY=()\n"
      << "  local options\n"
      << "  case $command in\n"
      << "    '')\n"
      << "      if [[ $cur == -* ]]; then options='" << Words(OptionWords(app)) << "'\n"
      << "      else options='" << Words(vecNames) << "'; fi ;;\n";
  for (const CLI::App* pCommand : app.get_subcommands({})) {
    out << "    " << pCommand->get_name() << ")\n";
    const std::string strValues = ValueOptionPattern(*pCommand);
    // After an option that takes a value, bash completes file names.
    if (!strValues.empty()) out << "      case $prev in " << strValues << ") return ;; esac\n";
    out << "      options='" << Words(OptionWords(*pCommand)) << "' ;;\n";
  }
  out << "    *) return ;;\n"
      << "  esac\n"
      << "  if [[ -z $command || $cur == -* ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      << "  fi\n"
      << "}\n"
      << "complete -o default -F _paktool paktool\n";
  return out.str();
}

}  // namespace paktool
