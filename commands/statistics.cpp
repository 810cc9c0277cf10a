// Statistics reports: every report is one GET whose query carries it;
// nothing is read back and nothing is kept between reports.
#include "commands/statistics.h"

#include <cstdlib>

#include "commands/download_check.h"
#include "commands/families.h"
#include "commands/identity.h"
#include "platform/debug_channel.h"
#include "platform/http_client.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo::commands {
namespace {

constexpr const char* kEndpoint = "http://stats.example.com";
constexpr const char* kInvalidUrl = "[OpenUrl] Invalid arguments (arg 2 is not a valid url )";

// The install rule: a finished or abandoned installation reports the
// recommended programs it offered and whether each was ticked.
void appendOffers(const Variables& variables, std::string& extend, std::string& value) {
  for (int n = 1; n <= 3; ++n) {
    std::string shortName(trim(variables.get("softshortname" + std::to_string(n))));
    if (!shortName.empty()) extend += shortName + "_";
    std::string check(trim(variables.get("softcheck" + std::to_string(n))));
    if (!check.empty()) value += check + "_";
  }
  if (extend.ends_with('_')) extend.pop_back();
  if (value.ends_with('_')) value.pop_back();
}

// What the verb OpenUrl does: mode "ie" opens the address in the web
// browser, anything else fetches it silently.
void visitAddress(const CommandContext& context, const std::string& address, const std::string& mode) {
  if (!namesWebAddress(address)) throw ScriptError(kInvalidUrl + address);

  if (mode == "ie") {
    // The browser's fate is not examined.
    openAddress(address);
    return;
  }

  FetchOptions options;
  options.userAgent = applicationName();
  FetchResult fetched = silentGet(address, options);
  logSecureChannelError(context, "OpenUrl", address, fetched.secureChannelError);
  debugOutput("Send log tick count: " + std::to_string(fetched.elapsedMs) + " miliseconds");
}

void SendLog(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  sendLog(context, Report{.method = fields[0],
                          .result = fields[1],
                          .extend = fields[2],
                          .value = fields[3],
                          .extension = std::string(trim(arguments.extension.value_or("")))});
}

void OpenUrl(const CommandContext& context, const CommandArguments& arguments) {
  visitAddress(context, arguments.fields[0], arguments.fields[1]);
}

}  // namespace

std::string statisticsEndpoint() {
  const char* configured = std::getenv("LUMO_STATS_URL");
  std::string endpoint = configured && *configured ? configured : kEndpoint;
  while (endpoint.ends_with('/')) endpoint.pop_back();
  return endpoint;
}

void sendReport(std::string_view method, std::string_view result, std::string_view extension) {
  sendReport(currentCommandContext(), method, result, extension);
}

std::string logReport(std::string_view method, std::string_view result, std::string_view extension) {
  return logReport(currentCommandContext(), method, result, extension);
}

void deliverReport(const std::string& arguments) { deliverReport(currentCommandContext(), arguments); }

void openUrl(std::string_view address, std::string_view mode) { openUrl(currentCommandContext(), address, mode); }

void sendReport(const CommandContext& context, std::string_view method, std::string_view result,
                std::string_view extension) {
  deliverReport(context, logReport(context, method, result, extension));
}

std::string logReport(const CommandContext& context, std::string_view method, std::string_view result,
                      std::string_view extension) {
  std::string arguments = std::string(method) + "|" + std::string(result) + "||";
  if (!extension.empty()) arguments.append("+").append(extension);
  context.log.commandLine("SendLog", arguments);
  return arguments;
}

void deliverReport(const CommandContext& context, const std::string& arguments) {
  // Through the verb's registered handler, as the script's line would go, so
  // that a run without a network (a test of the flows) can put its own there.
  if (!findHandler("SendLog")) return;
  try {
    callCommand(context, "SendLog", arguments);
  } catch (const ScriptError& error) {
    // As for a dialog's command line: logged while installing, only traced
    // while uninstalling.
    if (context.environment.installMode)
      context.log.write(std::string(error.what()) + "\r\n");
    else
      debugOutput("SendLog: " + std::string(error.what()) + " (ignored while uninstalling)\n");
  }
}

void sendLog(const CommandContext& context, const Report& report) {
  std::string extend = report.extend;
  std::string value = report.value;
  // The extension travels only when it has the form name=value.
  std::string suffix = report.extension.find('=') != std::string::npos ? "&" + report.extension : "";

  const Variables& variables = context.variables;
  std::string version = variables.get("app_version");
  std::string uid = variables.get("uid");
  std::string channel = variables.get("channelid");

  if (report.method == "install" && (report.result == "complete" || report.result == "canceled"))
    appendOffers(variables, extend, value);

  std::string machine = GetMachineId(context);

  // Values go in as they are; the transport encodes what a URL cannot carry.
  std::string address = statisticsEndpoint() + "/tarn_cli.gif?method=" + report.method + "&result=" + report.result +
                        "&extend=" + extend + "&value=" + value + "&cancelPage=&platform=pc&os=" +
                        context.environment.systemName + "&uid=" + uid + "&macid=" + machine +
                        "&version=" + version + "&type=full_install&channelid=" + channel + "&appid=0" + suffix;
  // The report has always gone out as the line "ADDRESS|" of OpenUrl: an
  // address holding a "|" (from a variable or the extension) was refused
  // there and still is.
  if (address.find('|') != std::string::npos) throwArgumentCount("OpenUrl", 2, address + "|");
  visitAddress(context, address, "");
}

void openUrl(const CommandContext& context, std::string_view address, std::string_view mode) {
  const std::string arguments = std::string(address) + "|" + std::string(mode);
  context.log.commandLine("OpenUrl", arguments);
  // Through the verb's registered handler, as for reports: a test puts its
  // own there instead of a browser.
  if (!findHandler("OpenUrl")) return;
  try {
    callCommand(context, "OpenUrl", arguments);
  } catch (const ScriptError& error) {
    context.log.write(std::string(error.what()) + "\r\n");
  }
}

void registerStatisticsCommands() {
  registerCommand("SendLog", SendLog, {.fields = 4, .extension = '+'});
  registerCommand("OpenUrl", OpenUrl, {.fields = 2});
}

}  // namespace lumo::commands
