#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kvr::sim {

using Bytes = std::vector<std::uint8_t>;

// The flash microcontroller in the writer's socket: its flash, seen through the programmer
// interface, and its two option registers. Frames, limits of the line and timing belong to the
// writer, not here.
class TargetChip {
 public:
  // Addresses 0x00000 to 0x12400: every address the station can write.
  static constexpr std::size_t kDefaultFlashSize = 0x12401;
  // Blank-check results carry the address in three bytes.
  static constexpr std::size_t kMaxFlashSize = 0x1000000;
  static constexpr std::uint8_t kErased = 0xFF;
  static constexpr std::size_t kSumPage = 256;

  struct FirstNonBlank {
    std::uint32_t address;
    std::uint8_t value;
  };

  explicit TargetChip(std::size_t flashSize = kDefaultFlashSize);

  std::size_t FlashSize() const { return flash_.size(); }
  // Keeps what fits; new bytes are erased. Clamped to 1 .. kMaxFlashSize.
  void SetFlashSize(std::size_t size);
  const Bytes& Flash() const { return flash_; }

  // Stores bytes as they are, unlike Program: preloading an image or setting up a test.
  // False (and nothing stored) when the bytes do not fit.
  bool Load(std::uint32_t address, std::span<const std::uint8_t> bytes);

  void Erase();  // flash and option registers to their erased state
  // Programs as flash does: a bit can only go from 1 to 0 (new = old AND data).
  bool Program(std::uint32_t address, std::span<const std::uint8_t> data);

  std::uint8_t Or0() const { return or0_; }
  std::uint8_t Or1() const { return or1_; }
  // Sets up the option registers as a chip powered up with them holds them (tests, preloads).
  void SetOptions(std::uint8_t or0, std::uint8_t or1);
  // The writer's program-options command: the registers are erased and rewritten as a whole,
  // not ANDed; like a real chip's, they take effect at the next power-up.
  void ProgramOptions(std::uint8_t or0, std::uint8_t or1);
  // The writer powers the chip for a session: the registers as programmed take effect.
  void PowerUp() { locked_ = LockProgrammed(); }
  // LOCK (OR0 bit 0) = 0 in force: the programmer reads 0xFF wherever it reads.
  bool Locked() const { return locked_; }
  bool LockProgrammed() const { return (or0_ & 0x01) == 0; }

  // The programmer's view of count bytes from address; nothing when beyond the flash.
  std::optional<Bytes> Read(std::uint32_t address, std::size_t count) const;
  // Plain sum of each 256-byte page segment of start..end (inclusive): the first from start to
  // its page end, whole pages, the last from its page start to end.
  std::optional<std::vector<std::uint16_t>> SegmentSums(std::uint32_t start,
                                                        std::uint32_t end) const;
  static std::size_t SegmentCount(std::uint32_t start, std::uint32_t end);
  // The first byte the programmer reads as other than 0xFF; nothing on a blank chip.
  std::optional<FirstNonBlank> FindNonBlank() const;

 private:
  bool Fits(std::uint64_t address, std::uint64_t count) const {
    return address + count <= flash_.size();
  }

  Bytes flash_;
  std::uint8_t or0_ = kErased;
  std::uint8_t or1_ = kErased;
  bool locked_ = false;
};

}  // namespace kvr::sim
