#pragma once

#include <array>
#include <cstdint>

namespace kvr {

// One byte per device address, 0x00000 to 0x12400. Every access is bounded: a write outside is
// dropped, a read outside gives 0.
class ImageBufferArray {
 public:
  static constexpr std::int32_t kLastAddress = 0x12400;
  static constexpr std::size_t kSize = static_cast<std::size_t>(kLastAddress) + 1;  // 74,753
  static constexpr std::int32_t kCodeSpaceEnd = 0xFFFF;

  static bool Holds(std::int64_t address) { return address >= 0 && address <= kLastAddress; }
  std::uint8_t Get(std::int64_t address) const {
    return Holds(address) ? bytes_[static_cast<std::size_t>(address)] : 0;
  }
  void Set(std::int64_t address, std::uint8_t value) {
    if (Holds(address)) bytes_[static_cast<std::size_t>(address)] = value;
  }
  const std::array<std::uint8_t, kSize>& Bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

// The AP and ISP limits as the region display shows them.
struct RegionLimits {
  std::int32_t ApRangeEnd = 0;
  std::int32_t IspRangeStart = 0;
  std::int32_t IspRangeEnd = 0;
};

}  // namespace kvr
