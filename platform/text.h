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

// The length of the UTF-8 sequence that the byte `lead` starts; 1 for ASCII
// and for a byte that starts none.
std::size_t utf8SequenceLength(unsigned char lead);

// Decodes the character that starts at `text[pos]` into `code` and returns
// its length in bytes; 0 when the bytes there are no well-formed character
// (cut short, overlong, a surrogate, beyond U+10FFFF).
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& code);

void appendUtf8(std::string& out, char32_t code);

// The text with every byte that belongs to no well-formed character
// replaced by U+FFFD, so that whatever reads it gets clean text.
std::string toValidUtf8(std::string_view bytes);

// `text` as a quoted JSON string; bytes that are no UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

// The text without the incomplete character that cutting it may have left
// at its end.
std::string_view withoutCutCharacter(std::string_view text);

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
