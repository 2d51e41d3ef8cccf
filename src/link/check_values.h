#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace kvr {

// 8-bit additive check value of the writer frames.
std::uint8_t Sum8(const std::uint8_t* bytes, std::size_t length);

// Low and high bytes of entry index of the reflected CRC-16 table for polynomial 0xA001.
std::uint8_t GetCRCLo(std::uint8_t index);
std::uint8_t GetCRCHi(std::uint8_t index);

struct Crc16 {
  std::uint8_t lo;
  std::uint8_t hi;
  bool operator==(const Crc16&) const = default;
};

// CRC-16/MODBUS of length bytes from bytes[start], sent low byte first.
Crc16 ComputeCrc16(const std::uint8_t* bytes, std::size_t start, std::size_t length);

}  // namespace kvr
