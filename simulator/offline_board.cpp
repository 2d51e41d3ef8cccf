#include "simulator/offline_board.h"

#include "simulator/frame_scanner.h"

#include <algorithm>

namespace kvr::sim {

namespace {

constexpr std::uint8_t kReplyStart = 0x68;
constexpr std::uint8_t kEnd = 0x16;

constexpr std::uint8_t kNextBlock = 0x00;
constexpr std::uint8_t kVersion = 0x0C;
constexpr std::uint8_t kQuery = 0x0E;
constexpr std::uint8_t kFirstBlock = 0x30;
constexpr std::uint8_t kHandshake = 0x80;
constexpr std::uint8_t kErase = 0x84;
constexpr std::uint8_t kMainSent = 0x86;
constexpr std::uint8_t kBoardHandshake = 0xF1;

constexpr std::size_t kShortCrcLength = 9;  // from 0x6A: 6A, length, code, class, param, CRC
constexpr std::size_t kDataOverhead = 13;   // 6A, length, code, address, count, CRC, 16
constexpr std::size_t kMinFrameLength = 8;

// The board image as docs/offline_board.md lays it out.
constexpr std::int32_t kMainStart = 0x4000;
constexpr std::int32_t kMainEnd = 0xEBFF;
constexpr std::int32_t kContinuationStart = 0x2000;
constexpr std::int32_t kContinuationEnd = 0x3FFF;
constexpr std::int32_t kSegments = 0xEC35;
constexpr std::int32_t kSegmentSize = 12;
constexpr std::int32_t kCheckValues = 0xF000;
constexpr std::int32_t kBlock = 128;

std::int32_t Address3(const Bytes& image, std::int32_t at) {
  const auto i = static_cast<std::size_t>(at);
  return image[i] << 8 | image[i + 1] | image[i + 2] << 16;
}

}  // namespace

struct OfflineBoard::Frame {
  bool data = false;
  std::uint8_t code = 0;
  std::uint8_t param = 0;
  std::uint32_t address = 0;
  std::span<const std::uint8_t> bytes;  // data of a data frame
};

OfflineBoard::OfflineBoard(OfflineBoardConfig config)
    : config_(std::move(config)),
      image_(kImageSize, 0xFF),
      continuationReceived_((kContinuationEnd - kContinuationStart + 1) / kBlock, false) {}

std::vector<Transmission> OfflineBoard::Receive(const std::uint8_t* data, std::size_t size,
                                                std::int64_t nowUs) {
  std::vector<Transmission> out;
  if (data == nullptr || size == 0) return out;
  // Garbage that opened a frame must not swallow what the station sends after a pause.
  if (lastRxUs_ && nowUs - *lastRxUs_ > config_.frameGapUs) pending_.clear();
  lastRxUs_ = nowUs;
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min(kMaxFrameLength, size - done);
    pending_.insert(pending_.end(), data + done, data + done + n);
    done += n;
    Parse(out);
  }
  return out;
}

void OfflineBoard::Parse(std::vector<Transmission>& out) {
  const std::size_t done =
      ScanFrames(pending_, kMinFrameLength, kMaxFrameLength, [&](const FramePlace& place) {
        Bytes received(pending_.begin() + static_cast<std::ptrdiff_t>(place.head),
                       pending_.begin() + static_cast<std::ptrdiff_t>(place.start + place.length));
        if (frameObserver_) frameObserver_(received);
        if (frames_.size() < config_.maxRecordedFrames) frames_.push_back(std::move(received));
        const auto frame =
            Decode(std::span<const std::uint8_t>(pending_.data() + place.start, place.length));
        if (!frame || config_.silent) return true;
        std::int64_t delayUs = config_.latencyUs;
        if (const auto reply = Handle(*frame, delayUs))
          out.push_back({delayUs, BuildReply(*reply, frame->code == config_.badCheckCommand)});
        return true;
      });
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

// Only CRC-mode frames are the board's: a frame with a sum check gets no answer.
std::optional<OfflineBoard::Frame> OfflineBoard::Decode(std::span<const std::uint8_t> f) const {
  const std::size_t length = f.size();
  if (length != kShortCrcLength && length < kDataOverhead) return std::nullopt;
  const std::size_t covered = length - 3;
  if ((f[covered] | f[covered + 1] << 8) != Crc16Modbus(f.first(covered))) return std::nullopt;
  Frame frame;
  frame.code = f[3];
  if (length == kShortCrcLength) {
    frame.param = f[5];
    return frame;
  }
  const std::size_t count = static_cast<std::size_t>(f[8] << 8 | f[9]);
  if (count + kDataOverhead != length) return std::nullopt;
  frame.data = true;
  frame.address = static_cast<std::uint32_t>(f[4]) << 24 | static_cast<std::uint32_t>(f[5]) << 16 |
                  static_cast<std::uint32_t>(f[6]) << 8 | f[7];
  frame.bytes = f.subspan(10, count);
  return frame;
}

std::optional<Bytes> OfflineBoard::Handle(const Frame& f, std::int64_t& delayUs) {
  if (f.data) {
    if (f.code != kFirstBlock && f.code != kNextBlock) return std::nullopt;
    return StoreData(f);
  }
  switch (f.code) {
    case kHandshake:
      if (f.param != kBoardHandshake) return std::nullopt;
      return Bytes{kAccepted};
    case kQuery:
      return Bytes{kQuery, config_.optionByte, config_.capacityK};
    case kVersion:
      return Bytes{kVersion, config_.versionByte};
    case kErase:
      std::fill(image_.begin(), image_.end(), 0xFF);
      std::fill(continuationReceived_.begin(), continuationReceived_.end(), false);
      phase_ = Phase::Main;
      dataFrames_ = 0;
      verified_ = true;
      delayUs = std::max(config_.eraseTimeUs, config_.latencyUs);
      return Bytes{kAccepted};
    case kMainSent: {
      // The check values have arrived with the main part: everything held so far is checked.
      const bool good = CheckBoardRange(kMainStart, kMainEnd);
      verified_ = verified_ && good;
      phase_ = Phase::Continuation;
      std::fill(continuationReceived_.begin(), continuationReceived_.end(), false);
      return Bytes{good ? kAccepted : kMismatch};
    }
    default:
      return std::nullopt;
  }
}

std::optional<Bytes> OfflineBoard::StoreData(const Frame& f) {
  if (config_.dropDataFrame > 0 && ++dataFrames_ == config_.dropDataFrame) return std::nullopt;
  if (static_cast<std::uint64_t>(f.address) + f.bytes.size() > image_.size()) return std::nullopt;
  for (std::size_t i = 0; i < f.bytes.size(); ++i) {
    const std::size_t at = f.address + i;
    const bool weak = config_.weakCell && at == *config_.weakCell;
    image_[at] = weak ? static_cast<std::uint8_t>(~f.bytes[i]) : f.bytes[i];
  }
  if (phase_ != Phase::Continuation) return Bytes{kAccepted};

  // The check values are in: each block of the continuation is checked as it comes.
  const auto first = static_cast<std::int32_t>(f.address);
  const auto last = first + static_cast<std::int32_t>(f.bytes.size()) - 1;
  const bool good = CheckBoardRange(first, last);
  verified_ = verified_ && good;
  for (std::int32_t a = std::max(first, kContinuationStart); a <= std::min(last, kContinuationEnd);
       ++a)
    continuationReceived_[static_cast<std::size_t>((a - kContinuationStart) / kBlock)] = true;
  if (std::all_of(continuationReceived_.begin(), continuationReceived_.end(),
                  [](bool received) { return received; })) {
    ++downloads_;
    phase_ = Phase::Idle;
    if (downloadObserver_) downloadObserver_(image_, verified_);
  }
  return Bytes{good ? kAccepted : kMismatch};
}

bool OfflineBoard::CheckBoardRange(std::int32_t first, std::int32_t last) const {
  for (std::int32_t s = 0; s < 3; ++s) {
    const std::int32_t at = kSegments + s * kSegmentSize;
    const std::int32_t boardStart = Address3(image_, at);
    const std::int32_t boardEnd = Address3(image_, at + 3);
    const std::int32_t chipStart = Address3(image_, at + 6);
    const std::int32_t chipEnd = Address3(image_, at + 9);
    if (boardStart == 0 && boardEnd == 0 && chipStart == 0 && chipEnd == 0) continue;  // none
    // A segment the firmware cannot follow fails the check.
    const std::int32_t length = boardEnd - boardStart + 1;
    if (length <= 0 || chipEnd - chipStart + 1 != length || boardEnd >= kCheckValues ||
        chipStart % kBlock != 0 || length % kBlock != 0 || boardStart % kBlock != 0)
      return false;
    for (std::int32_t offset = 0; offset < length; offset += kBlock) {
      const std::int32_t board = boardStart + offset;
      const std::int32_t chip = chipStart + offset;
      if (board < first || board + kBlock - 1 > last || chip > 0xFFFF) continue;
      const std::uint16_t crc = Crc16Modbus(
          std::span<const std::uint8_t>(image_.data() + board, static_cast<std::size_t>(kBlock)));
      const std::size_t value = static_cast<std::size_t>(kCheckValues + 2 * (chip / kBlock));
      if ((image_[value] | image_[value + 1] << 8) != crc) return false;
    }
  }
  return true;
}

Bytes OfflineBoard::BuildReply(const Bytes& codeAndPayload, bool badCheck) const {
  const std::size_t length = 1 + 2 + codeAndPayload.size() + 2 + 1;
  Bytes frame{kReplyStart, static_cast<std::uint8_t>(length >> 8),
              static_cast<std::uint8_t>(length)};
  frame.insert(frame.end(), codeAndPayload.begin(), codeAndPayload.end());
  const auto crc = static_cast<std::uint16_t>(Crc16Modbus(frame) + (badCheck ? 1 : 0));
  frame.push_back(static_cast<std::uint8_t>(crc));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(kEnd);
  return frame;
}

}  // namespace kvr::sim
