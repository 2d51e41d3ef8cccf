#include "link/check_values.h"

#include <array>

namespace kvr {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1U) ? (value >> 1) ^ 0xA001U : value >> 1;
    table[i] = static_cast<std::uint16_t>(value);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

static_assert((kCrcTable[1] & 0xFF) == 0xC1 && (kCrcTable[1] >> 8) == 0xC0);
static_assert((kCrcTable[3] & 0xFF) == 0x40 && (kCrcTable[3] >> 8) == 0x01);

}  // namespace

std::uint8_t Sum8(const std::uint8_t* bytes, std::size_t length) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum & 0xFFU);
}

std::uint8_t GetCRCLo(std::uint8_t index) {
  return static_cast<std::uint8_t>(kCrcTable[index]);
}

std::uint8_t GetCRCHi(std::uint8_t index) {
  return static_cast<std::uint8_t>(kCrcTable[index] >> 8);
}

Crc16 ComputeCrc16(const std::uint8_t* bytes, std::size_t start, std::size_t length) {
  std::uint8_t lo = 0xFF;
  std::uint8_t hi = 0xFF;
  for (std::size_t i = start; i < start + length; ++i) {
    const auto index = static_cast<std::uint8_t>(bytes[i] ^ lo);
    lo = static_cast<std::uint8_t>(hi ^ GetCRCLo(index));
    hi = GetCRCHi(index);
  }
  return {lo, hi};
}

}  // namespace kvr
