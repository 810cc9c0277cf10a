// SHA-256 digests of downloaded files, and the notation that names one:
// "sha256:" followed by 64 hex digits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

inline constexpr std::string_view kSha256Prefix = "sha256:";

// What a text says about the digest a file must have.
struct DigestNotation {
  bool named = false;   // the text starts with "sha256:"
  std::string sha256;   // the 64 digits in lower case; empty when they are not exactly 64 hex digits
};

DigestNotation readDigestNotation(std::string_view text);

// The SHA-256 of the file's bytes as 64 lower-case hex digits; nothing when
// the file cannot be read to its end.
std::optional<std::string> fileSha256(const std::string& path);

}  // namespace lumo
