// What the machine tells about itself for an installation identity: fresh
// random GUIDs, the first network adapter's hardware address, and the time
// since boot.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace lumo {

// A GUID in the Windows layout: a 32-bit field, two 16-bit fields, eight bytes.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// A new random (version 4) GUID from the kernel, or nothing when the kernel
// gives no random numbers.
std::optional<Guid> createGuid();

using HardwareAddress = std::array<std::uint8_t, 6>;

// The six-byte address of the first network interface, in the kernel's
// interface order, that is not a loopback and has a non-zero address.
std::optional<HardwareAddress> firstAdapterAddress();

// Milliseconds since boot, cut to 32 bits like the Windows tick count.
std::uint32_t tickCount();

}  // namespace lumo
