// The debug channel: diagnostic texts that never reach the execution log.
// They go to stderr when the environment variable LUMO_DEBUG is "1", and
// nowhere otherwise.
#pragma once

#include <string_view>

namespace lumo {

void debugOutput(std::string_view text);

}  // namespace lumo
