// Statistics reports and web addresses: the verbs SendLog and OpenUrl, and
// their typed forms for other families and the program itself.
#pragma once

#include <string>
#include <string_view>

#include "script/command_context.h"

namespace lumo::commands {

// One statistics report: the fields of "METHOD|RESULT|EXTEND|VALUE" and the
// text after its "+" ("name=value"; it travels only in that form).
struct Report {
  std::string method;
  std::string result;
  std::string extend;
  std::string value;
  std::string extension{};
};

// Sends a report as the verb SendLog does, without a line in the execution
// log. Throws ScriptError where the verb fails (an address the endpoint
// cannot take).
void sendLog(const CommandContext& context, const Report& report);

// The program's own calls, for this process's run (currentCommandContext()):
// the forms below that take a context.
void sendReport(std::string_view method, std::string_view result, std::string_view extension = {});
std::string logReport(std::string_view method, std::string_view result, std::string_view extension = {});
void deliverReport(const std::string& arguments);
void openUrl(std::string_view address, std::string_view mode);

// A report that the program sends of its own accord: METHOD and RESULT with
// empty EXTEND and VALUE, and `extension` ("name=value") when not empty. The
// execution log shows the line "SendLog METHOD|RESULT||+EXTENSION" that a
// script would have run; a failure is logged there too and goes no further.
void sendReport(const CommandContext& context, std::string_view method, std::string_view result,
                std::string_view extension = {});

// The same in two steps, for a caller that keeps the log in order while the
// report itself goes out on another thread: logReport() writes the line and
// returns the report's arguments, deliverReport() sends them.
std::string logReport(const CommandContext& context, std::string_view method, std::string_view result,
                      std::string_view extension = {});
void deliverReport(const CommandContext& context, const std::string& arguments);

// Opens `address` as the verb OpenUrl does (mode "ie" in the web browser,
// anything else fetched silently), for the program's own addresses (the
// agreement, the feedback page). The execution log shows the line
// "OpenUrl ADDRESS|MODE" a script would have run; an address that is not
// one is logged there and goes no further.
void openUrl(const CommandContext& context, std::string_view address, std::string_view mode);

// Where reports go: the endpoint's scheme, host and port, or the value of
// LUMO_STATS_URL when it is set.
std::string statisticsEndpoint();

}  // namespace lumo::commands
