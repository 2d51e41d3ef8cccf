#pragma once

#include <cstdint>
#include <sstream>
#include <string_view>
#include <vector>

namespace kvr::sim::test {

// "46 B9 6A" -> {0x46, 0xB9, 0x6A}
inline std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in{std::string(text)};
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

inline const std::vector<std::uint8_t> kHandshake = Hex("46 B9 6A 00 08 80 02 F0 E4 16");
inline const std::vector<std::uint8_t> kAck = Hex("68 00 06 80 EE 16");

}  // namespace kvr::sim::test
