// Numbers written in script text.
#pragma once

#include <string_view>

namespace lumo {

// Reads a decimal integer as the C runtime's wide string-to-int conversion
// does: leading white space (as trimStart counts it) is skipped, an optional sign and the digits up to the
// first other character are taken, a text without digits gives 0. Values
// beyond the range of int are held at its ends.
int readDecimal(std::string_view text);

}  // namespace lumo
