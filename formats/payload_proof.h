// The proof that an installer can unpack its payload: the whole archive is
// decoded by the installer's own decoder, streaming, and every entry is held
// against the size and CRC-32 that the archive's header stores for it. The
// decoder checks CRCs too, but it has been seen to accept entries it decoded
// wrongly (the x86 filter behind LZMA) or whose size was tampered with.
// Entries that the installer refuses to write (names or links that leave the
// target folder) fail the proof too. Nothing is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Nothing when the archive that occupies `size` bytes of `fd` from `offset`
// unpacks soundly; otherwise why not, naming the first failing entry and
// the coders of its block, followed by `remedy` where the decoding fails.
std::optional<std::string> provePayload(int fd, std::uint64_t offset, std::uint64_t size,
                                        std::string_view remedy = {});

}  // namespace lumo
