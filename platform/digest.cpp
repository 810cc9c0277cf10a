#include "platform/digest.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

namespace lumo {

DigestNotation readDigestNotation(std::string_view text) {
  DigestNotation notation;
  if (!text.starts_with(kSha256Prefix)) return notation;
  notation.named = true;
  std::string_view digits = text.substr(kSha256Prefix.size());
  bool hex = std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (digits.size() != 2 * crypto_hash_sha256_BYTES || !hex) return notation;
  for (char c : digits) notation.sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return notation;
}

std::optional<std::string> fileSha256(const std::string& path) {
  if (sodium_init() < 0) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  std::vector<char> buffer(1 << 16);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize got = file.gcount();
    if (got > 0) crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                           static_cast<unsigned long long>(got));
  }
  if (file.bad() || !file.eof()) return std::nullopt;
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&state, digest);
  char hex[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return std::string(hex);
}

}  // namespace lumo
