#include <cstdio>
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace lumo {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// A conversion descriptor per thread and direction: opening one costs far
// more than converting a line, and the engine converts every line it reads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv_open failed: ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return cd_;
  }

 private:
  iconv_t cd_;
};

// One conversion with iconv; `onInvalid` is appended for each input byte that
// cannot be converted, and that byte is skipped.
std::string convert(iconv_t cd, std::string_view input, std::string_view onInvalid, std::size_t invalidSkip) {
  std::string out;
  out.reserve(input.size() * 2 + 8);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a cut sequence at the end): replace and step over.
    out.append(onInvalid);
    std::size_t skip = invalidSkip;
    if (skip == 0) {  // skip one whole UTF-8 character
      skip = utf8SequenceLength(static_cast<unsigned char>(*in));
    }
    skip = std::min(skip, inLeft);
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool isAsciiOnly(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool isSpaceAt(std::string_view text, std::size_t pos, std::size_t& width) {
  unsigned char c = text[pos];
  if (c == ' ' || (c >= '\t' && c <= '\r')) {
    width = 1;
    return true;
  }
  if (text.substr(pos, 3) == "\xE3\x80\x80") {  // U+3000
    width = 3;
    return true;
  }
  return false;
}

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
  if (isAsciiOnly(gbk)) return std::string(gbk);
  thread_local Converter fromGbk("UTF-8", "GBK");
  return convert(fromGbk.get(), gbk, kReplacement, 1);
}

std::string utf8ToGbk(std::string_view utf8) {
  if (isAsciiOnly(utf8)) return std::string(utf8);
  thread_local Converter toGbk("GBK", "UTF-8");
  return convert(toGbk.get(), utf8, "?", 0);
}

std::size_t utf8SequenceLength(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& code) {
  auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if (lead < 0xC0 || lead >= 0xF8) return 0;
  std::size_t length = utf8SequenceLength(lead);
  if (pos + length > text.size()) return 0;
  char32_t value = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    auto next = static_cast<unsigned char>(text[pos + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kShortest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  code = value;
  return length;
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string toValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t code;
    if (std::size_t length = decodeUtf8(bytes, i, code)) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string_view withoutCutCharacter(std::string_view text) {
  std::size_t start = text.size();
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return text;
  std::size_t length = utf8SequenceLength(static_cast<unsigned char>(text[start - 1]));
  return length > 1 && text.size() - (start - 1) < length ? text.substr(0, start - 1) : text;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    auto c = static_cast<unsigned char>(utf8[pos]);
    std::size_t width = utf8SequenceLength(c);
    std::size_t need = c >= 0xF0 ? 2 : 1;
    if (units + need > maxUnits) break;
    units += need;
    pos = std::min(pos + width, utf8.size());
  }
  return std::string(utf8.substr(0, pos));
}

std::string_view trimEnd(std::string_view text) {
  while (!text.empty()) {
    std::size_t width = 0;
    if (isSpaceAt(text, text.size() - 1, width)) {
      text.remove_suffix(1);
    } else if (text.size() >= 3 && isSpaceAt(text, text.size() - 3, width) && width == 3) {
      text.remove_suffix(3);
    } else {
      break;
    }
  }
  return text;
}

std::string_view trimStart(std::string_view text) {
  std::size_t width = 0;
  while (!text.empty() && isSpaceAt(text, 0, width)) text.remove_prefix(width);
  return text;
}

std::string_view trim(std::string_view text) { return trimStart(trimEnd(text)); }

std::string toLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && toLowerAscii(a) == toLowerAscii(b);
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
    out.append(text.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(text.substr(pos));
  return out;
}

// JSON text is Unicode: a file name (or a script's text) may hold bytes
// that are no UTF-8, and each of those becomes U+FFFD.
std::string jsonString(std::string_view raw) {
  const std::string text = toValidUtf8(raw);
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace lumo
