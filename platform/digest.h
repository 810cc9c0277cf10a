// SHA-256 digests of downloaded files, and the notation that names one:
// "sha256:" followed by 64 hex digits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// The SHA-256 and the length of bytes fed in order as they are written, so
// that what a file holds is known without reading it back. Bytes that come
// at an offset other than the next one (a sparse or out-of-order writer)
// leave the digest unknown.
class Sha256Stream {
 public:
  Sha256Stream();
  void update(const void* data, std::size_t size);
  // Feeds `size` bytes written at `offset`: a gap before them counts as
  // zero bytes (a hole), an offset before the end makes the digest unknown.
  void updateAt(const void* data, std::size_t size, std::uint64_t offset);
  std::uint64_t size() const { return size_; }
  // The 64 lower-case hex digits; nothing when the bytes did not come in
  // order. Ends the stream.
  std::optional<std::string> finish();

 private:
  alignas(64) std::array<unsigned char, 128> state_{};
  std::uint64_t size_ = 0;
  bool ordered_ = true;
};

// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string sha256Of(std::string_view bytes);

}  // namespace lumo
