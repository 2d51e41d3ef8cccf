#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kvr {

// A program's line per exchange (-v): "frame 0A, 10 bytes: reply of 13 bytes". A supervisor
// that reads a station's error output tells these lines from its errors by their start.
inline constexpr const char* kExchangeLineStart = "frame ";

inline std::string ExchangeLine(std::uint8_t command, std::size_t length,
                                const std::string& result) {
  char code[8];
  std::snprintf(code, sizeof code, "%02X", command);
  return kExchangeLineStart + std::string(code) + ", " + std::to_string(length) +
         " bytes: " + result;
}

inline bool IsExchangeLine(const std::string& line) {
  return line.rfind(kExchangeLineStart, 0) == 0;
}

}  // namespace kvr
