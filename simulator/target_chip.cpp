#include "simulator/target_chip.h"

#include <algorithm>
#include <cstring>

namespace kvr::sim {

TargetChip::TargetChip(std::size_t flashSize) {
  SetFlashSize(flashSize);
}

void TargetChip::SetFlashSize(std::size_t size) {
  flash_.resize(std::clamp<std::size_t>(size, 1, kMaxFlashSize), kErased);
}

bool TargetChip::Load(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  if (!Fits(address, bytes.size())) return false;
  std::ranges::copy(bytes, flash_.begin() + address);
  return true;
}

void TargetChip::Erase() {
  std::memset(flash_.data(), kErased, flash_.size());
  or0_ = kErased;
  or1_ = kErased;
  locked_ = false;  // an erased chip has nothing left to hide
}

bool TargetChip::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
  if (!Fits(address, data.size())) return false;
  auto cell = flash_.begin() + address;
  for (const std::uint8_t b : data) *cell++ &= b;
  return true;
}

void TargetChip::SetOptions(std::uint8_t or0, std::uint8_t or1) {
  ProgramOptions(or0, or1);
  PowerUp();
}

void TargetChip::ProgramOptions(std::uint8_t or0, std::uint8_t or1) {
  or0_ = or0;
  or1_ = or1;
}

std::optional<Bytes> TargetChip::Read(std::uint32_t address, std::size_t count) const {
  if (!Fits(address, count)) return std::nullopt;
  if (Locked()) return Bytes(count, kErased);
  const auto first = flash_.begin() + address;
  return Bytes(first, first + static_cast<std::ptrdiff_t>(count));
}

std::size_t TargetChip::SegmentCount(std::uint32_t start, std::uint32_t end) {
  return end < start ? 0 : end / kSumPage - start / kSumPage + 1;
}

std::optional<std::vector<std::uint16_t>> TargetChip::SegmentSums(std::uint32_t start,
                                                                  std::uint32_t end) const {
  if (end < start || !Fits(start, std::uint64_t{end} - start + 1)) return std::nullopt;
  std::vector<std::uint16_t> sums;
  sums.reserve(SegmentCount(start, end));
  for (std::uint64_t from = start; from <= end;) {
    const std::uint64_t to = std::min<std::uint64_t>(end, (from / kSumPage + 1) * kSumPage - 1);
    unsigned sum = 0;
    for (std::uint64_t a = from; a <= to; ++a) sum += Locked() ? kErased : flash_[a];
    sums.push_back(static_cast<std::uint16_t>(sum));
    from = to + 1;
  }
  return sums;
}

std::optional<TargetChip::FirstNonBlank> TargetChip::FindNonBlank() const {
  // A locked chip reads blank: the station's option-byte test is what tells it apart.
  if (Locked()) return std::nullopt;
  // Block by block through memcmp: soak tests scan the whole flash thousands of times.
  static constexpr std::size_t kBlock = 4096;
  static const Bytes erased(kBlock, kErased);
  for (std::size_t at = 0; at < flash_.size(); at += kBlock) {
    const std::size_t n = std::min(kBlock, flash_.size() - at);
    if (std::memcmp(flash_.data() + at, erased.data(), n) == 0) continue;
    while (flash_[at] == kErased) ++at;
    return FirstNonBlank{static_cast<std::uint32_t>(at), flash_[at]};
  }
  return std::nullopt;
}

}  // namespace kvr::sim
