#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "image/image_buffer.h"
#include "operations/operation_context.h"
#include "operations/progress.h"

namespace kvr {

// The range a program or verify run covers, and where the loaded data ends.
struct ProgramRange {
  std::int32_t start = 0;    // ProgramStart
  std::int32_t end = 0;      // ProgramEnd, inclusive
  std::int32_t dataEnd = 0;  // DataEnd
};

// Writes the image buffer into the chip's flash in blocks of 128-byte chunks, and checks it by
// read-back or by the writer's page sums.
class FlashProgrammer {
 public:
  static constexpr std::int32_t kChunk = 128;
  static constexpr std::int32_t kSumPage = 256;

  FlashProgrammer(const OperationContext& context, ImageBufferArray& image,
                  ProgressDisplay progress);

  // Where the last verification found the chip to differ from the buffer: the first byte that
  // differs (read-back, with both values) or the first page segment whose sum differs; empty
  // when it found no difference.
  struct Difference {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::optional<std::uint8_t> buffer;
    std::optional<std::uint8_t> chip;
  };
  std::optional<Difference> LastDifference;

  // Runs when a data block fails (the window restarts its close timer when it is closing).
  std::function<void()> onBlockFailed;

  // The block engine over the range, from the range start rounded down to the block size.
  std::int16_t WriteProgramRange(const ProgramRange& range);
  // One block, sent as 128-byte chunks; only the first chunk carries the first flag.
  std::int16_t WriteRange(std::int32_t start, std::int32_t end, bool first);
  // One data frame and its acknowledge.
  std::int16_t WriteChunk(std::int32_t address, std::int32_t length, bool first);

  // Read-back verification of the range: 0 equal, -1 failed, different or stopped.
  std::int16_t VerifyReadBack(const ProgramRange& range, bool showMessages);
  // Up to 6 reads of one chunk, compared with the buffer: 0 equal, -1 no usable reply or
  // stopped, -2 different (the first differing byte reported in the log).
  std::int16_t VerifyChunk(std::int32_t address, std::int32_t length);
  // One read frame and its reply; with `store` the data goes into the buffer. True when the
  // reply for this address and count arrived.
  bool ReadRange(std::int32_t address, std::int32_t length, bool store);

  // Verification by the writer's sums of 256-byte page segments over first..last.
  std::int16_t VerifyBySums(std::int32_t first, std::int32_t last, bool showMessages);
  // One page-sum exchange: 0 when every segment matches, -1 otherwise.
  std::int16_t CheckRangeSums(std::int32_t start, std::int32_t end);

 private:
  // Copies the data of the read reply in ReplyBuffer into the buffer at the address it was
  // asked for (and that the reply named).
  void StoreReadReply(std::int32_t address, std::uint16_t count);
  bool Stopped() const { return context_.link.StopRequested; }

  OperationContext context_;
  ImageBufferArray& image_;
  ProgressDisplay progress_;
};

}  // namespace kvr
