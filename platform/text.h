// Text helpers shared by every layer. Text inside the program is UTF-8; the
// working script and the execution log are GBK (code page 936) on disk.
// Lengths that the Windows code counts in UTF-16 units (the 260-character
// buffers) are counted the same way here.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// GBK bytes to UTF-8. A byte sequence that is not GBK becomes U+FFFD, so a
// damaged script still reads line by line instead of failing as a whole.
std::string gbkToUtf8(std::string_view gbk);

// UTF-8 to GBK. A character that GBK cannot carry becomes "?", as the
// Windows conversion with its default character does.
std::string utf8ToGbk(std::string_view utf8);

// Number of UTF-16 code units the text would take.
std::size_t utf16Length(std::string_view utf8);

// The longest prefix of the text that fits in `maxUnits` UTF-16 units,
// never splitting a character.
std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits);

// White space as the wide-character classification of the "chs" locale
// counts it: ASCII space, tab, CR, LF, vertical tab, form feed, and the
// ideographic space U+3000.
std::string_view trimEnd(std::string_view text);
std::string_view trimStart(std::string_view text);
std::string_view trim(std::string_view text);

std::string toLowerAscii(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Replaces every occurrence of `from` in `text` with `to`, left to right.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace lumo
