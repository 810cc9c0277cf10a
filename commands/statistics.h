// Statistics reports and web addresses: the verbs SendLog and OpenUrl.
// Other command families call SendLog directly, as a script line would.
#pragma once

#include <string>

namespace lumo::commands {

// "METHOD|RESULT|EXTEND|VALUE", optionally followed by "+name=value".
void SendLog(const std::string& arguments);

// "ADDRESS|MODE": mode "ie" opens the address in the web browser, anything
// else fetches it silently.
void OpenUrl(const std::string& arguments);

// Where reports go: the endpoint's scheme, host and port, or the value of
// LUMO_STATS_URL when it is set.
std::string statisticsEndpoint();

}  // namespace lumo::commands
