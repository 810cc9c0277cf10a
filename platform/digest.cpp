#include "platform/digest.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <new>
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

static_assert(sizeof(crypto_hash_sha256_state) <= 128 && alignof(crypto_hash_sha256_state) <= 64);

namespace {

crypto_hash_sha256_state* hashState(std::array<unsigned char, 128>& storage) {
  return std::launder(reinterpret_cast<crypto_hash_sha256_state*>(storage.data()));
}

}  // namespace

Sha256Stream::Sha256Stream() {
  if (sodium_init() < 0) ordered_ = false;
  new (state_.data()) crypto_hash_sha256_state;
  crypto_hash_sha256_init(hashState(state_));
}

void Sha256Stream::update(const void* data, std::size_t size) {
  crypto_hash_sha256_update(hashState(state_),
                            static_cast<const unsigned char*>(data), size);
  size_ += size;
}

void Sha256Stream::updateAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (offset < size_) {
    ordered_ = false;
    return;
  }
  static const unsigned char zeros[4096] = {};
  while (offset > size_) update(zeros, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof zeros, offset - size_)));
  update(data, size);
}

std::optional<std::string> Sha256Stream::finish() {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(hashState(state_), digest);
  if (!ordered_) return std::nullopt;
  char hex[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return std::string(hex);
}

std::string sha256Of(std::string_view bytes) {
  Sha256Stream stream;
  stream.update(bytes.data(), bytes.size());
  return stream.finish().value_or(std::string());
}

}  // namespace lumo
