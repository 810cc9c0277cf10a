// The packer's proof that an installer can unpack its payload: the
// installer's own (formats/payload_proof.h), with the packer's remedy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/payload_proof.h"

namespace lumo_pack {

inline constexpr const char* kPayloadRemedy =
    "rebuild the payload with LZMA2 as the payload recipe (docs/bundle.md) says "
    "(7zz a -t7z -m0=BCJ -m1=LZMA2:d=32m -ms=8m -mmt=on payload.7z ...)";

// Nothing when the archive that occupies `size` bytes of `fd` from `offset`
// unpacks soundly; otherwise why not, naming the first failing entry, the
// coders of its block and the remedy.
inline std::optional<std::string> provePayload(int fd, std::uint64_t offset, std::uint64_t size) {
  return lumo::provePayload(fd, offset, size, kPayloadRemedy);
}

}  // namespace lumo_pack
