#include "platform/machine_ids.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>
#include <string>

namespace lumo {
namespace {

std::optional<std::array<std::uint8_t, 16>> kernelUuidBytes() {
  std::ifstream file("/proc/sys/kernel/random/uuid");
  std::string text;
  if (!(file >> text)) return std::nullopt;
  std::string hex;
  for (char c : text) {
    if (c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    hex += c;
  }
  if (hex.size() != 32) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return bytes;
}

std::optional<std::array<std::uint8_t, 16>> randomUuidBytes() {
  std::array<std::uint8_t, 16> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, GRND_NONBLOCK);
    if (got <= 0) return std::nullopt;
    filled += static_cast<std::size_t>(got);
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return bytes;
}

}  // namespace

std::optional<Guid> createGuid() {
  auto bytes = kernelUuidBytes();
  if (!bytes) bytes = randomUuidBytes();
  if (!bytes) return std::nullopt;
  const auto& b = *bytes;
  // The text form of a UUID lists the fields in the same order as a GUID's.
  Guid guid;
  guid.data1 = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
  guid.data2 = static_cast<std::uint16_t>((b[4] << 8) | b[5]);
  guid.data3 = static_cast<std::uint16_t>((b[6] << 8) | b[7]);
  std::copy(b.begin() + 8, b.end(), guid.data4.begin());
  return guid;
}

std::optional<HardwareAddress> firstAdapterAddress() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<HardwareAddress> found;
  for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if (entry->ifa_flags & IFF_LOOPBACK) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_halen != 6) continue;
    HardwareAddress address{};
    std::copy(link->sll_addr, link->sll_addr + 6, address.begin());
    if (std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; })) continue;
    found = address;
  }
  ::freeifaddrs(list);
  return found;
}

std::uint32_t tickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace lumo
