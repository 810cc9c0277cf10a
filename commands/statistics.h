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

// "ADDRESS|MODE": mode "ie" opens the address in the web browser, anything
// else fetches it silently.
void OpenUrl(const std::string& arguments);

// Where reports go: the endpoint's scheme, host and port, or the value of
// LUMO_STATS_URL when it is set.
std::string statisticsEndpoint();

}  // namespace lumo::commands
