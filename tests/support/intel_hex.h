#pragma once

// Intel HEX text of a test image, written out here rather than by the station's own export, so
// a fault there cannot hide in what the tests feed in.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvr::test {

// `bytes` placed from `base` (the whole image below 64 K) as data records of 16 bytes, then the
// end record; every line ends with `eol`.
inline std::string IntelHex(std::string_view bytes, unsigned base = 0,
                            std::string_view eol = "\r\n") {
  std::string text;
  char digits[16];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t count = std::min<std::size_t>(16, bytes.size() - at);
    const unsigned address = base + static_cast<unsigned>(at);
    unsigned sum = static_cast<unsigned>(count) + (address >> 8 & 0xFF) + (address & 0xFF);
    std::snprintf(digits, sizeof digits, ":%02X%04X00", static_cast<unsigned>(count), address);
    text += digits;
    for (std::size_t i = 0; i < count; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + i]);
      sum += byte;
      std::snprintf(digits, sizeof digits, "%02X", byte);
      text += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    text += digits;
    text += eol;
  }
  text += ":00000001FF";
  text += eol;
  return text;
}

}  // namespace kvr::test
