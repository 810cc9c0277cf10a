#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <string_view>

#include "app/install_flow.h"
#include "platform/file_handles.h"
#include "platform/file_operations.h"
#include "platform/text.h"

namespace lumo {
namespace {

// One switch of the command line. `names` are the spellings QCommandLineParser
// knows after the arguments are brought to one form: lower case, "/s" as
// "-s" and "/?" as "--help". A name of one letter, and "uinst", are
// written with one dash; every other name with two.
struct Switch {
  const char* usage;  // as the usage shows it
  QStringList names;
  const char* value;  // the value's name, or nullptr for a switch without one
  const char* help;
};

const std::vector<Switch>& switches() {
  static const std::vector<Switch> table = {
      {"-h, --help, /?", {"h", "help"}, nullptr, "print this usage and end"},
      {"--version", {"version"}, nullptr, "print the installer's version and the product version it carries"},
      {"-s, /s", {"s"}, nullptr, "run silently: no window, every question gets its unattended answer"},
      {"-uinst", {"uinst"}, nullptr, "uninstall the product instead of installing it"},
      {"--target DIR", {"target"}, "DIR", "install into DIR (the product folder is added unless DIR ends with it)"},
      {"--no-launch", {"no-launch"}, nullptr, "do not start the product after the installation"},
      {"--progress-fd N", {"progress-fd"}, "N", "write progress as JSON Lines to the open descriptor N"},
      {"--dry-run", {"dry-run"}, nullptr, "print the commands that would change the machine instead of running them"},
      {"--list", {"list"}, nullptr, "list the payload's entries (path, size, modification time) and end"},
      {"--check", {"check"}, nullptr, "check every resource and the whole payload against their CRCs and end"},
      {"--log FILE", {"log"}, "FILE", "also write a UTF-8 log with timestamps to FILE"},
      {"--verify-installation", {"verify-installation"}, nullptr,
       "check the installed files against the record (not available yet)"},
      {"--repair", {"repair"}, nullptr,
       "put back what the installation check finds missing or changed (not available yet)"},
  };
  return table;
}

const Switch* switchNamed(std::string_view name) {
  for (const Switch& s : switches()) {
    if (s.names.contains(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())))) return &s;
  }
  return nullptr;
}

bool oneDashName(std::string_view name) { return name.size() == 1 || name == "uinst"; }

// Brings each argument to the form the parser knows, or says why it is none.
// A value that follows its switch as the next argument is passed on as it
// is: "--target /S" names a folder.
Result<QStringList> normalised(const std::vector<std::string>& arguments) {
  QStringList out{QStringLiteral("LumoInstaller")};
  bool valueFollows = false;
  for (const std::string& argument : arguments) {
    if (valueFollows) {
      out << QString::fromStdString(argument);
      valueFollows = false;
      continue;
    }
    const std::string lower = toLowerAscii(argument);
    if (lower == "/s") {
      out << QStringLiteral("-s");
      continue;
    }
    if (lower == "/?") {
      out << QStringLiteral("--help");
      continue;
    }
    const bool twoDashes = lower.starts_with("--") && lower.size() > 2;
    const bool oneDash = !twoDashes && lower.starts_with('-') && lower.size() > 1 && lower[1] != '-';
    if (!twoDashes && !oneDash) return Failure{"unexpected argument \"" + argument + "\""};
    const std::size_t start = twoDashes ? 2 : 1;
    const std::size_t equals = lower.find('=');
    const std::string name = lower.substr(start, equals == std::string::npos ? std::string::npos : equals - start);
    const Switch* known = switchNamed(name);
    if (!known || oneDashName(name) != oneDash) return Failure{"unknown switch \"" + argument + "\""};
    out << QString::fromStdString(lower.substr(0, start) + name +
                                  (equals == std::string::npos ? std::string() : argument.substr(equals)));
    valueFollows = known->value && equals == std::string::npos;
  }
  if (valueFollows) return Failure{"\"" + arguments.back() + "\" needs a value"};
  return out;
}

std::string spelled(RunMode mode) {
  switch (mode) {
    case RunMode::Install: return "an installation";
    case RunMode::Uninstall: return "-uinst";
    case RunMode::Help: return "--help";
    case RunMode::Version: return "--version";
    case RunMode::List: return "--list";
    case RunMode::Check: return "--check";
    case RunMode::VerifyInstallation: return "--verify-installation";
    case RunMode::Repair: return "--repair";
  }
  return {};
}

}  // namespace

Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments) {
  Result<QStringList> forms = normalised(arguments);
  if (!forms) return Failure{forms.why()};

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  for (const Switch& s : switches()) {
    QCommandLineOption option(s.names);
    if (s.value) option.setValueName(QString::fromUtf8(s.value));
    parser.addOption(option);
  }
  if (!parser.parse(*forms)) return Failure{parser.errorText().toStdString()};
  if (!parser.positionalArguments().isEmpty())
    return Failure{"unexpected argument \"" + parser.positionalArguments().front().toStdString() + "\""};

  CommandLine line;
  // --help answers whatever else the line holds; the other modes exclude
  // each other.
  const std::pair<const char*, RunMode> modes[] = {
      {"uinst", RunMode::Uninstall},  {"version", RunMode::Version},
      {"list", RunMode::List},        {"check", RunMode::Check},
      {"verify-installation", RunMode::VerifyInstallation}, {"repair", RunMode::Repair}};
  if (parser.isSet(QStringLiteral("help"))) {
    line.mode = RunMode::Help;
    return line;
  }
  for (const auto& [name, mode] : modes) {
    if (!parser.isSet(QString::fromUtf8(name))) continue;
    if (line.mode != RunMode::Install) return Failure{spelled(line.mode) + " and " + spelled(mode) + " exclude each other"};
    line.mode = mode;
  }

  line.silent = parser.isSet(QStringLiteral("s"));
  line.dryRun = parser.isSet(QStringLiteral("dry-run"));
  line.noLaunch = parser.isSet(QStringLiteral("no-launch"));
  if (parser.isSet(QStringLiteral("target"))) {
    line.target = parser.value(QStringLiteral("target")).toStdString();
    if (line.target->empty()) return Failure{"--target needs a folder"};
  }
  if (parser.isSet(QStringLiteral("progress-fd"))) {
    const std::string text = parser.value(QStringLiteral("progress-fd")).toStdString();
    const bool digits = !text.empty() && text.size() <= 9 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) return Failure{"--progress-fd needs the number of a descriptor, not \"" + text + "\""};
    line.progressFd = std::stoi(text);
    if (!isOpenForWriting(*line.progressFd))
      return Failure{"--progress-fd " + text + ": no descriptor " + text + " is open for writing"};
  }
  if (parser.isSet(QStringLiteral("log"))) {
    line.logFile = parser.value(QStringLiteral("log")).toStdString();
    if (line.logFile->empty() || line.logFile->ends_with('/')) return Failure{"--log needs a file"};
    const std::size_t slash = line.logFile->rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : line.logFile->substr(0, slash);
    if (!isFolder(folder)) return Failure{"--log " + *line.logFile + ": there is no folder " + folder};
  }

  // Which options each mode takes: the others would be silently ignored,
  // and a run must do what its command line says or refuse it.
  struct Taken {
    bool silent, dryRun, noLaunch, target, progressFd, logFile;
  };
  Taken taken{};
  switch (line.mode) {
    case RunMode::Install: taken = {true, true, true, true, true, true}; break;
    case RunMode::Uninstall: taken = {true, true, false, false, true, true}; break;
    case RunMode::VerifyInstallation:
    case RunMode::Repair: taken = {true, false, false, false, true, true}; break;
    case RunMode::Help:
    case RunMode::Version:
    case RunMode::List:
    case RunMode::Check: break;
  }
  const std::pair<bool, const char*> given[] = {
      {line.silent && !taken.silent, "-s"},
      {line.dryRun && !taken.dryRun, "--dry-run"},
      {line.noLaunch && !taken.noLaunch, "--no-launch"},
      {line.target && !taken.target, "--target"},
      {line.progressFd && !taken.progressFd, "--progress-fd"},
      {line.logFile && !taken.logFile, "--log"}};
  for (const auto& [refused, name] : given) {
    if (refused) return Failure{std::string(name) + " has no meaning with " + spelled(line.mode)};
  }
  return line;
}

std::string usageText() {
  std::string text = "Usage: LumoInstaller [switches]\n";
  std::size_t width = 0;
  for (const Switch& s : switches()) width = std::max(width, std::string_view(s.usage).size());
  for (const Switch& s : switches()) {
    std::string usage = s.usage;
    text += "  " + usage + std::string(width - usage.size() + 2, ' ') + s.help + "\n";
  }
  text += "Switches are matched whole and in any letter case; a value follows its switch as\n"
          "\"--target DIR\" or \"--target=DIR\".\n"
          "Exit statuses: 0 done or cancelled, 1 failed and rolled back, 2 wrong command line,\n"
          "3 not completed, 4 no window could open, 5 damaged installer, 6 uninstallation refused\n"
          "or incomplete, 7 no script, 8 another installer is running, 9 nothing installed.\n";
  return text;
}

std::string installFolderForTarget(const std::string& dir) {
  std::string folder = dir;
  if (!folder.starts_with('/')) {
    const std::string current = canonicalPath(".").value_or("");
    folder = (current == "/" ? "" : current) + "/" + folder;
  }
  while (folder.size() > 1 && folder.ends_with('/')) folder.pop_back();
  // The product folder is whatever the folder chooser adds to a folder.
  const std::string product = productFolderIn("/").substr(1);
  const std::size_t slash = folder.rfind('/');
  if (equalsIgnoreCase(std::string_view(folder).substr(slash + 1), product)) return folder;
  return productFolderIn(folder);
}

}  // namespace lumo
