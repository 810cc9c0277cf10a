// Statistics reports and web addresses: the verbs SendLog and OpenUrl.
// Other command families call SendLog directly, as a script line would.
#pragma once

#include <string>
#include <string_view>

namespace lumo::commands {

// "METHOD|RESULT|EXTEND|VALUE", optionally followed by "+name=value".
void SendLog(const std::string& arguments);

// A report that the program sends of its own accord: METHOD and RESULT with
// empty EXTEND and VALUE, and `extension` ("name=value") when not empty. The
// execution log shows the line "SendLog METHOD|RESULT||+EXTENSION" that a
// script would have run; a failure is logged there too and goes no further.
void sendReport(std::string_view method, std::string_view result, std::string_view extension = {});

// The same in two steps, for a caller that keeps the log in order while the
// report itself goes out on another thread: logReport() writes the line and
// returns the report's arguments, deliverReport() sends them.
std::string logReport(std::string_view method, std::string_view result, std::string_view extension = {});
void deliverReport(const std::string& arguments);

// "ADDRESS|MODE": mode "ie" opens the address in the web browser, anything
// else fetches it silently.
void OpenUrl(const std::string& arguments);

// The same for the program's own addresses (the agreement, the feedback
// page). The execution log shows the line "OpenUrl ADDRESS|MODE" a script
// would have run; an address that is not one is logged there and goes no
// further.
void openUrl(std::string_view address, std::string_view mode);

// Where reports go: the endpoint's scheme, host and port, or the value of
// LUMO_STATS_URL when it is set.
std::string statisticsEndpoint();

}  // namespace lumo::commands
