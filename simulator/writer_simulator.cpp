#include "simulator/writer_simulator.h"

#include <algorithm>

namespace kvr::sim {

namespace {

constexpr std::uint8_t kPreamble0 = 0x46;
constexpr std::uint8_t kPreamble1 = 0xB9;
constexpr std::uint8_t kCommandStart = 0x6A;
constexpr std::uint8_t kReplyStart = 0x68;
constexpr std::uint8_t kEnd = 0x16;
constexpr std::uint8_t kBadEnd = 0x17;

constexpr std::uint8_t kWriteNext = 0x03;
constexpr std::uint8_t kWriteFirst = 0x04;
constexpr std::uint8_t kIdentity = 0x0A;
constexpr std::uint8_t kVersion = 0x0C;
constexpr std::uint8_t kHandshake = 0x80;
constexpr std::uint8_t kStop = 0x82;
constexpr std::uint8_t kHandshakeParam = 0xF0;
constexpr std::uint8_t kAccepted = 0x80;

constexpr std::size_t kShortSumLength = 8;
constexpr std::size_t kShortCrcLength = 9;
constexpr std::size_t kBlockHeaderLength = 10;  // 0x6A, length, command, address, count
constexpr std::size_t kMinBlockLength = kBlockHeaderLength + 2;
constexpr std::size_t kLongReplyLength = 600;  // beyond the station's 531-byte receive buffer
constexpr std::size_t kSplitAfter = 3;
// Bytes appended per parse pass: keeps pending_ small whatever the caller hands over at once.
constexpr std::size_t kSlice = 1024;

// 10 bits per byte at 115200 baud, rounded up.
std::int64_t WireUs(std::size_t bytes) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(bytes) * 10'000'000 + 115'199) /
                                   115'200);
}

}  // namespace

std::uint8_t Sum8(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (const std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                      : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

std::string ToHexLine(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!line.empty()) line += ' ';
    line += kDigits[b >> 4];
    line += kDigits[b & 0x0F];
  }
  return line;
}

struct WriterSimulator::Command {
  bool block = false;  // block frame (address, count, data) rather than a short command
  bool crc = false;
  std::uint8_t code = 0;
  std::uint8_t classCode = 0;
  std::uint8_t param = 0;
  std::uint32_t address = 0;
  std::uint16_t count = 0;
  std::span<const std::uint8_t> data;
};

// The command in a frame with a good end byte, or nothing when its check value is wrong or its
// length fits no known frame shape.
std::optional<WriterSimulator::Command> WriterSimulator::Decode(std::span<const std::uint8_t> f) {
  const std::size_t length = f.size();
  Command c;
  c.code = f[3];
  if (length == kShortSumLength || length == kShortCrcLength) {
    const auto body = f.first(6);
    if (length == kShortSumLength) {
      if (f[6] != Sum8(body)) return std::nullopt;
    } else {
      if ((f[6] | (f[7] << 8)) != Crc16Modbus(body)) return std::nullopt;
      c.crc = true;
    }
    c.classCode = f[4];
    c.param = f[5];
    return c;
  }
  if (length < kMinBlockLength || f[length - 2] != Sum8(f.first(length - 2))) return std::nullopt;
  c.block = true;
  c.address = static_cast<std::uint32_t>(f[4]) << 24 | static_cast<std::uint32_t>(f[5]) << 16 |
              static_cast<std::uint32_t>(f[6]) << 8 | f[7];
  c.count = static_cast<std::uint16_t>(f[8] << 8 | f[9]);
  c.data = f.subspan(kBlockHeaderLength, length - kMinBlockLength);
  return c;
}

WriterSimulator::WriterSimulator(WriterConfig config)
    : config_(std::move(config)), flash_(kFlashSize, 0xFF) {}

void WriterSimulator::ClearReceivedFrames() {
  frames_.clear();
  unrecorded_ = 0;
}

void WriterSimulator::SetFrameObserver(std::function<void(const Bytes&)> observer) {
  observer_ = std::move(observer);
}

std::vector<Transmission> WriterSimulator::Receive(const std::uint8_t* data, std::size_t size,
                                                   std::int64_t nowUs) {
  std::vector<Transmission> out;
  if (data == nullptr || size == 0) return out;
  if (lastRxUs_) {
    // Garbage that opened a frame must not swallow what the station sends after a pause.
    if (nowUs - *lastRxUs_ > config_.frameGapUs) {
      pendingBase_ += pending_.size();
      pending_.clear();
    }
    nowUs = std::max(nowUs, *lastRxUs_);
  }
  lastRxUs_ = nowUs;

  const Clock clock{received_, std::max(nowUs, rxBusyUs_), nowUs};
  if (config_.wireTime) rxBusyUs_ = clock.rxStartUs + WireUs(size);
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min(kSlice, size - done);
    pending_.insert(pending_.end(), data + done, data + done + n);
    received_ += n;
    done += n;
    Parse(clock, out);
  }
  return out;
}

void WriterSimulator::Parse(const Clock& clock, std::vector<Transmission>& out) {
  const std::size_t n = pending_.size();
  std::size_t s = 0;  // everything before s is consumed
  while (true) {
    const auto it =
        std::find(pending_.begin() + static_cast<std::ptrdiff_t>(s), pending_.end(), kCommandStart);
    if (it == pending_.end()) {
      // The last two bytes may be a preamble whose 0x6A is still to come.
      s = std::max(s, n >= 2 ? n - 2 : 0);
      break;
    }
    const auto p = static_cast<std::size_t>(it - pending_.begin());
    const bool preamble =
        p >= s + 2 && pending_[p - 2] == kPreamble0 && pending_[p - 1] == kPreamble1;
    const std::size_t head = preamble ? p - 2 : p;
    if (n - p < 3) {
      s = head;
      break;
    }
    const std::size_t length = static_cast<std::size_t>(pending_[p + 1] << 8 | pending_[p + 2]);
    if (length < kMinFrameLength || length > kMaxFrameLength) {
      s = p + 1;
      continue;
    }
    if (n - p < length) {
      s = head;
      break;
    }
    const std::span<const std::uint8_t> frame(pending_.data() + p, length);
    if (frame.back() != kEnd) {
      s = p + 1;
      continue;
    }
    Record(Bytes(pending_.begin() + static_cast<std::ptrdiff_t>(head),
                 pending_.begin() + static_cast<std::ptrdiff_t>(p + length)));
    const auto command = Decode(frame);
    if (!command) {
      s = p + 1;
      continue;
    }
    std::int64_t arrivedUs = clock.nowUs;
    if (config_.wireTime) {
      // A frame can end in an earlier chunk when a longer bogus frame held it back.
      const std::uint64_t last = std::max(pendingBase_ + p + length - 1, clock.chunkStart);
      arrivedUs = clock.rxStartUs + WireUs(static_cast<std::size_t>(last - clock.chunkStart + 1));
    }
    if (const auto reply = Handle(*command)) {
      Send(*command, *reply, arrivedUs + std::max<std::int64_t>(config_.latencyUs, 0), clock.nowUs,
           out);
    }
    s = p + length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(s));
  pendingBase_ += s;
}

void WriterSimulator::Record(Bytes frame) {
  if (observer_) observer_(frame);
  if (frames_.size() < config_.maxRecordedFrames) {
    frames_.push_back(std::move(frame));
  } else {
    ++unrecorded_;
  }
}

std::optional<WriterSimulator::Reply> WriterSimulator::Handle(const Command& c) {
  const Reply accepted{kAccepted, {}};
  switch (c.code) {
    case kHandshake: {
      if (c.block || c.param != kHandshakeParam) return std::nullopt;
      ++handshakes_;
      const auto every = static_cast<std::uint64_t>(std::max(config_.handshakeEvery, 1));
      if (handshakes_ % every != 0) return std::nullopt;
      return accepted;
    }
    case kIdentity: {
      if (c.block || !config_.chipIdentity) return std::nullopt;
      const std::uint16_t identity = *config_.chipIdentity;
      return Reply{
          kIdentity,
          {static_cast<std::uint8_t>(identity & 0xFF), static_cast<std::uint8_t>(identity >> 8)}};
    }
    case kVersion:
      if (c.block) return std::nullopt;
      return Reply{kVersion, {config_.versionByte}};
    case kStop:
      if (c.block) return std::nullopt;
      return accepted;
    case kWriteFirst:
    case kWriteNext:
      return WriteFlash(c);
    default:
      return std::nullopt;
  }
}

std::optional<WriterSimulator::Reply> WriterSimulator::WriteFlash(const Command& c) {
  if (!c.block || c.data.size() != c.count) return std::nullopt;
  // 64-bit sum: an address near 2^32 must not wrap around into the array.
  if (static_cast<std::uint64_t>(c.address) + c.count > flash_.size()) return std::nullopt;
  std::copy(c.data.begin(), c.data.end(), flash_.begin() + c.address);
  return Reply{kAccepted, {}};
}

bool WriterSimulator::TakeFault(const Command& c) {
  if (config_.fault == Fault::None) return false;
  if (config_.faultCommand >= 0 && config_.faultCommand != c.code) return false;
  if (faultedKind_ != config_.fault || faultedCommand_ != config_.faultCommand ||
      faultedCount_ != config_.faultCount) {
    faultedKind_ = config_.fault;
    faultedCommand_ = config_.faultCommand;
    faultedCount_ = config_.faultCount;
    faulted_ = 0;
  }
  if (config_.faultCount >= 0 && faulted_ >= config_.faultCount) return false;
  ++faulted_;
  return true;
}

Bytes WriterSimulator::BuildFrame(const Reply& reply, bool crc, Fault fault) const {
  const std::size_t checkLength = crc ? 2 : 1;
  Bytes payload = reply.payload;
  if (fault == Fault::LongLength) payload.resize(kLongReplyLength - 5 - checkLength, 0x00);
  const std::size_t length = 4 + payload.size() + checkLength + 1;

  Bytes frame;
  frame.reserve(config_.garbage.size() + length);
  if (fault == Fault::Garbage) frame = config_.garbage;
  const std::size_t start = frame.size();
  frame.push_back(kReplyStart);
  frame.push_back(static_cast<std::uint8_t>(length >> 8));
  frame.push_back(static_cast<std::uint8_t>(length));
  frame.push_back(reply.code);
  frame.insert(frame.end(), payload.begin(), payload.end());

  const std::span<const std::uint8_t> covered(frame.data() + start, frame.size() - start);
  const unsigned bump = fault == Fault::BadCheck ? 1 : 0;
  if (crc) {
    const auto check = static_cast<std::uint16_t>(Crc16Modbus(covered) + bump);
    frame.push_back(static_cast<std::uint8_t>(check));
    frame.push_back(static_cast<std::uint8_t>(check >> 8));
  } else {
    frame.push_back(static_cast<std::uint8_t>(Sum8(covered) + bump));
  }
  frame.push_back(fault == Fault::BadEnd ? kBadEnd : kEnd);
  return frame;
}

void WriterSimulator::Send(const Command& command, const Reply& reply, std::int64_t readyUs,
                           std::int64_t nowUs, std::vector<Transmission>& out) {
  const Fault fault = TakeFault(command) ? config_.fault : Fault::None;
  if (fault == Fault::Silent) return;
  Bytes frame = BuildFrame(reply, command.crc, fault);

  std::vector<Bytes> parts;
  if (fault == Fault::Split) {
    parts.emplace_back(frame.begin(), frame.begin() + kSplitAfter);
    parts.emplace_back(frame.begin() + kSplitAfter, frame.end());
  } else {
    parts.push_back(std::move(frame));
  }
  std::int64_t earliestUs = readyUs;
  for (auto& part : parts) {
    // One line out of the writer: a reply never overtakes the tail of an earlier one.
    const std::int64_t startUs = std::max(earliestUs, txBusyUs_);
    txBusyUs_ = startUs + (config_.wireTime ? WireUs(part.size()) : 0);
    out.push_back({txBusyUs_ - nowUs, std::move(part)});
    earliestUs = txBusyUs_ + std::max<std::int64_t>(config_.splitGapUs, 0);
  }
}

}  // namespace kvr::sim
