#include "operations/flash_programmer.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/check_values.h"
#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr int kFullBlockAttempts = 6;
constexpr int kFinalBlockAttempts = 3;
constexpr int kChunkReadAttempts = 6;
constexpr int kVerifyChunkCalls = 6;
constexpr int kSumCalls = 6;
constexpr int kPageSumsTimeoutMs = 4000;
// 68, length, code, two high address bytes, address, count: the data starts at byte 10.
constexpr std::size_t kReadReplyHeader = 10;
constexpr std::size_t kSumsStart = 4;

constexpr Wording kChecking{"We are checking ...", "正在校验 ..."};
constexpr Wording kCheckingOk{"Checking OK!", "校验 OK!"};
constexpr Wording kCommunicationFailed{"Communication is failed.", "通讯失败。"};
constexpr Wording kAddressLabel{"Address: ", "地址:    "};
constexpr Wording kBufferLabel{"Buffer:  ", "缓冲区:  "};
constexpr const char* kDeviceLabel = "EEPROM:  ";
constexpr Wording kFirstDifference{"Fine the first disaffinity.", "校验中发现不相同处!"};

std::string HexDigits(std::uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", width, value);
  return text;
}

// Classes whose writer takes the first chunk of a block as a new range from the first attempt.
bool FirstFlagFromStart(std::int16_t classCode) {
  return classCode == 2 || classCode == 11 || classCode == 12 || classCode == 13;
}

}  // namespace

FlashProgrammer::FlashProgrammer(const OperationContext& context, ImageBufferArray& image,
                                 ProgressDisplay progress)
    : context_(context), image_(image), progress_(progress) {}

std::int16_t FlashProgrammer::WriteProgramRange(const ProgramRange& range) {
  const std::int32_t blockSize = context_.device.BlockSize > 0 ? context_.device.BlockSize : 512;
  if (range.start < 0) return -1;
  const std::int32_t alignedStart = range.start / blockSize * blockSize;
  const std::int32_t firstBlock = alignedStart / blockSize;
  const std::int32_t lastBlock = range.end / blockSize;
  progress_.bar.minimum = alignedStart;
  progress_.bar.maximum = range.end;
  const std::int32_t fullBlocks = std::max(lastBlock - firstBlock - 1, 0);
  std::int32_t reqStart = alignedStart;
  std::int32_t reqEnd = (firstBlock + 1) * blockSize - 1;

  const bool firstFromStart = FirstFlagFromStart(context_.device.DeviceClassCode);
  for (std::int32_t k = 0; k <= fullBlocks; ++k) {
    bool written = false;
    for (int attempt = 0; attempt < kFullBlockAttempts && !written; ++attempt) {
      const bool first = attempt > 0 || firstFromStart;
      written = WriteRange(reqStart, reqEnd, first) >= 0;
      if (Stopped()) return -1;
    }
    if (!written) return -1;
    progress_.Set(static_cast<std::int64_t>(reqEnd) + 1);
    progress_.size.caption = SizeText(reqEnd - alignedStart + 1, 1024);
    reqStart = reqEnd + 1;
    reqEnd += blockSize;
  }

  bool written = false;
  for (int attempt = 0; attempt < kFinalBlockAttempts && !written; ++attempt) {
    if (Stopped()) return -1;
    written = WriteRange(reqStart, range.end, attempt > 0) == 0;
  }
  if (!written) return -1;
  progress_.size.caption = SizeText(range.end - alignedStart + 1, 1024);
  return 0;
}

std::int16_t FlashProgrammer::WriteRange(std::int32_t start, std::int32_t end, bool first) {
  for (std::int64_t address = start; address <= end; address += kChunk) {
    const std::int64_t length = address + kChunk - 1 >= end ? end - address + 1 : kChunk;
    const std::int16_t result =
        WriteChunk(static_cast<std::int32_t>(address), static_cast<std::int32_t>(length),
                   first && address == start);
    if (result < 0 || Stopped()) return -1;
  }
  return 0;
}

std::int16_t FlashProgrammer::WriteChunk(std::int32_t address, std::int32_t length, bool first) {
  WriterLink& link = context_.link;
  std::array<std::uint8_t, kChunk> data{};
  const auto count = static_cast<std::uint16_t>(std::clamp(length, 0, kChunk));
  for (std::uint16_t i = 0; i < count; ++i) data[i] = image_.Get(std::int64_t{address} + i);
  const std::uint8_t sum = Sum8(data.data(), count);
  // The writer acknowledges a chunk with its 128-byte page number and its sum.
  const auto page = static_cast<std::uint16_t>(address / kChunk);

  const std::uint8_t code = first ? command::kWriteFirst : command::kWriteNext;
  link.SendBlockFrame(
      BuildWriteFrame(code, static_cast<std::uint32_t>(address), data.data(), count),
      WriteAcknowledge(page, sum), link.ReplyTimeoutMs);
  if (link.WaitForReply() != WriterLink::Outcome::Complete) {
    if (onBlockFailed) onBlockFailed();
    return -1;
  }
  link.TakeReply();
  return 0;
}

std::int16_t FlashProgrammer::VerifyReadBack(const ProgramRange& range, bool showMessages) {
  MessageLog& log = context_.log;
  progress_.Show(range.start, range.end);
  if (showMessages) log.Append(context_.Pick(kChecking));
  LastDifference.reset();
  std::int16_t result = 0;
  for (std::int64_t address = range.start; address <= range.end;) {
    // A chunk ends at its 128-byte boundary, where the loaded data ends when that lies inside
    // it, and at the end of the range. Data beyond the loaded file (a serial number stamped
    // higher up) is still read: it was programmed.
    std::int64_t chunkEnd = address / kChunk * kChunk + kChunk - 1;
    if (range.dataEnd >= address) chunkEnd = std::min<std::int64_t>(chunkEnd, range.dataEnd);
    chunkEnd = std::min<std::int64_t>(chunkEnd, range.end);
    std::int16_t chunk = -1;
    for (int call = 0; call < kVerifyChunkCalls && !Stopped(); ++call) {
      chunk = VerifyChunk(static_cast<std::int32_t>(address),
                          static_cast<std::int32_t>(chunkEnd - address + 1));
      if (chunk == 0 || chunk == -2) break;
    }
    if (Stopped()) {
      result = -1;
      break;
    }
    if (chunk == -1 && showMessages)
      log.Append(kLineBreak + std::string(context_.Pick(kCommunicationFailed)));
    if (chunk != 0) {
      result = -1;
      break;
    }
    progress_.Set(chunkEnd);
    progress_.size.caption = SizeText(chunkEnd, 1024);
    address = chunkEnd + 1;
  }
  if (result == 0 && showMessages) log.Append(kLineBreak + std::string(context_.Pick(kCheckingOk)));
  progress_.Hide();
  return result;
}

std::int16_t FlashProgrammer::VerifyChunk(std::int32_t address, std::int32_t length) {
  bool read = false;
  for (int attempt = 0; attempt < kChunkReadAttempts && !read && !Stopped(); ++attempt)
    read = ReadRange(address, length, false);
  if (Stopped() || !read) return -1;

  // The reply holds this address's data: its address and count were matched to the request.
  const auto& reply = context_.link.ReplyBuffer;
  for (std::int32_t j = 0; j < length; ++j) {
    const std::uint8_t device = reply[kReadReplyHeader + static_cast<std::size_t>(j)];
    const std::uint8_t buffer = image_.Get(std::int64_t{address} + j);
    if (device == buffer) continue;
    LastDifference = Difference{address + j, address + j, buffer, device};
    context_.log.Append(
        kLineBreak +
        (context_.Pick(kAddressLabel) + HexDigits(static_cast<std::uint32_t>(address + j), 6)) +
        kLineBreak + context_.Pick(kBufferLabel) + HexDigits(buffer, 2) + kLineBreak +
        kDeviceLabel + HexDigits(device, 2) + kLineBreak + kLineBreak +
        context_.Pick(kFirstDifference));
    return -2;
  }
  return 0;
}

bool FlashProgrammer::ReadRange(std::int32_t address, std::int32_t length, bool store) {
  WriterLink& link = context_.link;
  const auto count = static_cast<std::uint16_t>(std::clamp(length, 0, 0xFFFF));
  const auto from = static_cast<std::uint32_t>(address);
  // Only a reply for this address and count, holding that many bytes, is taken.
  link.SendBlockFrame(BuildReadFrame(from, count), ReadReply(from, count), link.ReplyTimeoutMs);
  if (link.WaitForReply() != WriterLink::Outcome::Complete) return false;
  link.TakeReply();
  if (store) StoreReadReply(address, count);
  return true;
}

void FlashProgrammer::StoreReadReply(std::int32_t address, std::uint16_t count) {
  const auto& reply = context_.link.ReplyBuffer;
  for (std::size_t i = 0; i < count; ++i)
    image_.Set(std::int64_t{address} + static_cast<std::int64_t>(i), reply[kReadReplyHeader + i]);
}

std::int16_t FlashProgrammer::VerifyBySums(std::int32_t first, std::int32_t last,
                                           bool showMessages) {
  MessageLog& log = context_.log;
  if (showMessages) log.Append(context_.Pick(kChecking));
  LastDifference.reset();
  bool matched = false;
  for (int call = 0; call < kSumCalls && !matched && !Stopped(); ++call)
    matched = CheckRangeSums(first, last) == 0;
  progress_.Hide();
  if (Stopped()) return -1;
  if (showMessages)
    log.Append(kLineBreak +
               std::string(context_.Pick(matched ? kCheckingOk : kCommunicationFailed)));
  return matched ? 0 : -1;
}

std::int16_t FlashProgrammer::CheckRangeSums(std::int32_t start, std::int32_t end) {
  WriterLink& link = context_.link;
  // A range that ends before it starts holds nothing to compare: no evidence of anything.
  if (end < start) return -1;
  // One sum per 256-byte page segment the range touches.
  const auto segments = static_cast<std::size_t>(end / kSumPage - start / kSumPage + 1);
  link.SendBlockFrame(
      BuildPageSumsFrame(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end)),
      PageSumsReply(segments), kPageSumsTimeoutMs);
  if (link.WaitForReply() != WriterLink::Outcome::Complete) return -1;
  link.TakeReply();
  const auto& reply = link.ReplyBuffer;
  std::size_t at = kSumsStart;
  for (std::int64_t segment = start; segment <= end;) {
    const std::int64_t segmentEnd =
        std::min<std::int64_t>(segment / kSumPage * kSumPage + kSumPage - 1, end);
    unsigned sum = 0;
    for (std::int64_t a = segment; a <= segmentEnd; ++a) sum += image_.Get(a);
    if (static_cast<unsigned>(reply[at] << 8 | reply[at + 1]) != (sum & 0xFFFFU)) {
      LastDifference = Difference{segment, segmentEnd, std::nullopt, std::nullopt};
      return -1;
    }
    at += 2;
    segment = segmentEnd + 1;
  }
  return 0;
}

}  // namespace kvr
