#include "simulator/writer_simulator.h"

#include "simulator/frame_scanner.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kvr::sim {

namespace {

constexpr std::uint8_t kReplyStart = 0x68;
constexpr std::uint8_t kEnd = 0x16;
constexpr std::uint8_t kBadEnd = 0x17;

constexpr std::uint8_t kRead = 0x00;
constexpr std::uint8_t kReadOptions = 0x01;
constexpr std::uint8_t kWriteNext = 0x03;
constexpr std::uint8_t kWriteFirst = 0x04;
constexpr std::uint8_t kProgramOptions = 0x05;
constexpr std::uint8_t kErase = 0x08;
constexpr std::uint8_t kBlankCheck = 0x09;
constexpr std::uint8_t kIdentity = 0x0A;
constexpr std::uint8_t kVersion = 0x0C;
constexpr std::uint8_t kPageSums = 0x0D;
constexpr std::uint8_t kHandshake = 0x80;
constexpr std::uint8_t kStop = 0x82;
constexpr std::uint8_t kHandshakeParam = 0xF0;
constexpr std::uint8_t kAccepted = 0x80;

constexpr std::size_t kShortSumLength = 8;
constexpr std::size_t kShortCrcLength = 9;
constexpr std::size_t kMinBlockLength = 12;  // a read: 0x6A, length, command, address, count
constexpr std::size_t kAddressCount = 6;     // block payload: 32-bit address, 16-bit count
constexpr std::size_t kOptionPayload = 16;
constexpr std::size_t kSumRange = 8;  // two 32-bit addresses
// Reply frame bytes besides the payload: 0x68, length, code, check value, end byte.
constexpr std::size_t kReplyOverhead = 6;
constexpr std::size_t kReadHeader = 6;  // read reply payload before the data
constexpr std::size_t kChunkPage = 128;
constexpr std::size_t kLongReplyLength = 600;  // beyond the station's 531-byte receive buffer
constexpr std::size_t kSplitAfter = 3;
// Bytes appended per parse pass: keeps pending_ small whatever the caller hands over at once.
constexpr std::size_t kSlice = 1024;

// 10 bits per byte at 115200 baud, rounded up.
std::int64_t WireUs(std::size_t bytes) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(bytes) * 10'000'000 + 115'199) /
                                   115'200);
}

std::uint32_t Big32(std::span<const std::uint8_t> b) {
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}

std::uint16_t Big16(std::span<const std::uint8_t> b) {
  return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

void PushBig16(Bytes& to, unsigned value) {
  to.push_back(static_cast<std::uint8_t>(value >> 8));
  to.push_back(static_cast<std::uint8_t>(value));
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

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::None:
      return "none";
    case Fault::Silent:
      return "no reply";
    case Fault::BadCheck:
      return "bad check";
    case Fault::BadEnd:
      return "bad end";
    case Fault::Garbage:
      return "garbage before";
    case Fault::Split:
      return "split";
    case Fault::LongLength:
      return "long length";
    case Fault::WriteLost:
      return "write lost";
    case Fault::BitFlipped:
      return "bit flipped";
    case Fault::NoBlankResult:
      return "no blank result";
    case Fault::Late:
      return "late";
    case Fault::Duplicate:
      return "sent twice";
    case Fault::WrongAddress:
      return "wrong address";
  }
  return "?";
}

std::uint64_t FaultRecord::Total() const {
  std::uint64_t total = 0;
  for (const std::uint64_t n : counts) total += n;
  return total;
}

struct WriterSimulator::Command {
  bool block = false;  // block frame rather than a short command
  bool crc = false;
  std::uint8_t code = 0;
  std::uint8_t classCode = 0;
  std::uint8_t param = 0;
  std::span<const std::uint8_t> payload;  // from frame byte 4 to the check value
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
    c.payload = f.subspan(4, 2);
    return c;
  }
  if (length < kMinBlockLength || f[length - 2] != Sum8(f.first(length - 2))) return std::nullopt;
  c.block = true;
  c.payload = f.subspan(4, length - 6);
  return c;
}

WriterSimulator::WriterSimulator(WriterConfig config) : config_(std::move(config)) {}

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
  if (streaming_) Stream(nowUs, out);
  return out;
}

std::vector<Transmission> WriterSimulator::Unprompted(std::int64_t nowUs) {
  std::vector<Transmission> out;
  // In batches: half the horizon still lies ahead of the line.
  if (streaming_ && streamNextUs_ <= nowUs + kStreamHorizonUs / 2) Stream(nowUs, out);
  return out;
}

void WriterSimulator::Stream(std::int64_t nowUs, std::vector<Transmission>& out) {
  const std::int64_t every = std::max<std::int64_t>(config_.streamEveryUs, 1000);
  streamNextUs_ = std::max(streamNextUs_, nowUs);
  while (streamNextUs_ <= nowUs + kStreamHorizonUs) {
    // Upper-case text and digits: nothing in it can start a reply frame (0x68).
    char line[32];
    const int n = std::snprintf(line, sizeof line, "WRITER BUSY %06llu\r\n",
                                static_cast<unsigned long long>(streamLines_++ % 1000000));
    out.push_back({streamNextUs_ - nowUs, Bytes(line, line + n)});
    streamNextUs_ += every;
  }
}

void WriterSimulator::Parse(const Clock& clock, std::vector<Transmission>& out) {
  const std::size_t done =
      ScanFrames(pending_, kMinFrameLength, kMaxFrameLength, [&](const FramePlace& place) {
        const auto head = static_cast<std::ptrdiff_t>(place.head);
        const auto end = static_cast<std::ptrdiff_t>(place.start + place.length);
        Record(Bytes(pending_.begin() + head, pending_.begin() + end));
        const auto command =
            Decode(std::span<const std::uint8_t>(pending_.data() + place.start, place.length));
        if (!command) return false;
        std::int64_t arrivedUs = clock.nowUs;
        if (config_.wireTime) {
          // A frame can end in an earlier chunk when a longer bogus frame held it back.
          const std::uint64_t last =
              std::max(pendingBase_ + place.start + place.length - 1, clock.chunkStart);
          arrivedUs =
              clock.rxStartUs + WireUs(static_cast<std::size_t>(last - clock.chunkStart + 1));
        }
        Execute(*command, arrivedUs, clock.nowUs, out);
        return true;
      });
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  pendingBase_ += done;
}

void WriterSimulator::Record(Bytes frame) {
  if (observer_) observer_(frame);
  if (frames_.size() < config_.maxRecordedFrames) {
    frames_.push_back(std::move(frame));
  } else {
    ++unrecorded_;
  }
}

void WriterSimulator::Execute(const Command& command, std::int64_t arrivedUs, std::int64_t nowUs,
                              std::vector<Transmission>& out) {
  ++commands_;
  if (config_.deadAfter && commands_ > *config_.deadAfter) return;
  if (config_.streamAfter && commands_ > *config_.streamAfter) {
    // Receive goes on with the stream from here.
    streaming_ = true;
    return;
  }
  auto response = Handle(command);
  lastCode_ = command.code;
  if (!response) return;

  const Fault fault = PickFault(command, response->role);
  bool lost = fault == Fault::WriteLost;
  bool noResult = fault == Fault::NoBlankResult;
  if (response->role == Role::WriteAck && ++writes_ == config_.loseWriteNth && !lost) {
    lost = true;
    Note(Fault::WriteLost);
  }
  if (response->role == Role::ReadData) {
    ++reads_;
    Bytes& payload = response->reply.payload;
    if (fault == Fault::BitFlipped) {
      // Two statements: the order of the draws must not be left to the compiler.
      const std::size_t at = kReadHeader + random_() % (payload.size() - kReadHeader);
      payload[at] ^= static_cast<std::uint8_t>(1u << (random_() % 8));
    } else if (reads_ == config_.flipReadNth) {
      payload[kReadHeader] ^= 0x01;
      Note(Fault::BitFlipped);
    }
    if (fault == Fault::WrongAddress) {
      AnswerForAnotherAddress(payload);
    } else if (reads_ == config_.wrongAddressNth) {
      AnswerForAnotherAddress(payload);
      Note(Fault::WrongAddress);
    }
  }
  if (response->role == Role::BlankAck && !config_.blankResult && !noResult) {
    noResult = true;
    Note(Fault::NoBlankResult);
  }
  Fault frameFault = fault == Fault::WriteLost || fault == Fault::BitFlipped ||
                             fault == Fault::NoBlankResult || fault == Fault::WrongAddress
                         ? Fault::None
                         : fault;
  if (response->role == Role::BlankAck && config_.blankAckTwice && frameFault == Fault::None) {
    frameFault = Fault::Duplicate;
    Note(Fault::Duplicate);
  }
  if (!lost && !response->writeData.empty())
    chip_.Program(response->writeAddress, response->writeData);

  // One command after the other: a command that arrives while the writer works waits. The
  // latency is the reply's way out and keeps nothing else waiting.
  const std::int64_t startUs = std::max(arrivedUs, workBusyUs_);
  const std::int64_t latencyUs = std::max<std::int64_t>(config_.latencyUs, 0);
  workBusyUs_ = startUs + std::max<std::int64_t>(response->workUs, 0);
  const std::int64_t readyUs = workBusyUs_ + latencyUs;
  Send(response->reply, command.crc, frameFault, readyUs, nowUs, out);
  if (response->result && !noResult) {
    workBusyUs_ += std::max<std::int64_t>(config_.scanUs, 0);
    Send(*response->result, command.crc, PickFault(command, Role::Plain), workBusyUs_ + latencyUs,
         nowUs, out);
  }
}

std::optional<WriterSimulator::Response> WriterSimulator::Handle(const Command& c) {
  const Reply accepted{kAccepted, {}};
  auto plain = [](Reply reply, std::int64_t workUs = 0) {
    return Response{.reply = std::move(reply), .workUs = workUs};
  };
  if (c.block) {
    switch (c.code) {
      case kRead:
        return Read(c);
      case kWriteFirst:
      case kWriteNext:
        return Write(c);
      case kProgramOptions:
        if (c.payload.size() != kOptionPayload) return std::nullopt;
        // The writer erases the option registers and writes them anew.
        chip_.ProgramOptions(c.payload[0], c.payload[1]);
        return plain({kAccepted, {chip_.Or0(), chip_.Or1()}}, config_.writeUs);
      case kPageSums:
        return PageSums(c);
      default:
        return std::nullopt;
    }
  }
  switch (c.code) {
    case kHandshake: {
      if (c.param != kHandshakeParam) return std::nullopt;
      // The first handshake of a session: the writer has powered the chip up.
      if (lastCode_ != kHandshake) chip_.PowerUp();
      ++handshakes_;
      const auto every = static_cast<std::uint64_t>(std::max(config_.handshakeEvery, 1));
      if (handshakes_ % every != 0) return std::nullopt;
      return plain(accepted);
    }
    case kIdentity: {
      if (!config_.chipIdentity) return std::nullopt;
      const std::uint16_t identity = *config_.chipIdentity;
      return plain(
          {kIdentity,
           {static_cast<std::uint8_t>(identity & 0xFF), static_cast<std::uint8_t>(identity >> 8)}});
    }
    case kVersion:
      return plain({kVersion, {config_.versionByte}});
    case kStop:
      return plain(accepted);
    case kErase:
      chip_.Erase();
      return plain(accepted, config_.eraseUs);
    case kBlankCheck:
      return BlankCheck();
    case kReadOptions:
      return plain({kReadOptions, {chip_.Or0(), chip_.Or1()}});
    default:
      return std::nullopt;
  }
}

std::optional<WriterSimulator::Response> WriterSimulator::Write(const Command& c) const {
  if (c.payload.size() < kAddressCount) return std::nullopt;
  const std::uint32_t address = Big32(c.payload);
  const auto data = c.payload.subspan(kAddressCount);
  // 64-bit sum: an address near 2^32 must not wrap around into the array.
  if (Big16(c.payload.subspan(4)) != data.size() ||
      std::uint64_t{address} + data.size() > chip_.FlashSize()) {
    return std::nullopt;
  }
  Response r{.role = Role::WriteAck, .reply = {kAccepted, {}}, .workUs = config_.writeUs};
  if (config_.writeAck == WriteAck::PageEcho) {
    PushBig16(r.reply.payload, address / kChunkPage);
    r.reply.payload.push_back(Sum8(data));
  }
  r.writeAddress = address;
  r.writeData = data;
  return r;
}

std::optional<WriterSimulator::Response> WriterSimulator::Read(const Command& c) const {
  if (c.payload.size() != kAddressCount) return std::nullopt;
  const std::uint16_t count = Big16(c.payload.subspan(4));
  if (kReplyOverhead + kReadHeader + count > kStationBuffer) return std::nullopt;
  const auto data = chip_.Read(Big32(c.payload), count);
  if (!data) return std::nullopt;
  // Address (high and low 16 bits) and count as asked, then the data.
  Response r{.role = count > 0 ? Role::ReadData : Role::Plain,
             .reply = {kRead, Bytes(c.payload.begin(), c.payload.end())}};
  r.reply.payload.insert(r.reply.payload.end(), data->begin(), data->end());
  return r;
}

std::optional<WriterSimulator::Response> WriterSimulator::PageSums(const Command& c) const {
  if (c.payload.size() != kSumRange) return std::nullopt;
  const std::uint32_t start = Big32(c.payload);
  const std::uint32_t end = Big32(c.payload.subspan(4));
  if (kReplyOverhead + 2 * TargetChip::SegmentCount(start, end) > kStationBuffer) {
    return std::nullopt;
  }
  const auto sums = chip_.SegmentSums(start, end);
  if (!sums) return std::nullopt;
  Response r{.reply = {kPageSums, {}}};
  for (const std::uint16_t sum : *sums) PushBig16(r.reply.payload, sum);
  return r;
}

void WriterSimulator::AnswerForAnotherAddress(Bytes& payload) const {
  // The neighbouring 128 bytes: the address bit 7 flipped, the count as asked.
  const std::uint32_t other = Big32(payload) ^ 0x80U;
  for (int i = 0; i < 4; ++i)
    payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(other >> (24 - 8 * i));
  const std::size_t count = payload.size() - kReadHeader;
  if (const auto data = chip_.Read(other, count))
    std::ranges::copy(*data, payload.begin() + static_cast<std::ptrdiff_t>(kReadHeader));
}

WriterSimulator::Response WriterSimulator::BlankCheck() const {
  Reply result{kBlankCheck, {0xFF, 0xFF, 0xFF, 0xFF}};
  if (const auto found = chip_.FindNonBlank()) {
    result.payload = {static_cast<std::uint8_t>(found->address >> 16),
                      static_cast<std::uint8_t>(found->address >> 8),
                      static_cast<std::uint8_t>(found->address), found->value};
  }
  return Response{.role = Role::BlankAck, .reply = {kAccepted, {}}, .result = std::move(result)};
}

Fault WriterSimulator::PickFault(const Command& c, Role role) {
  ++replies_;
  Fault fault = Fault::None;
  if (replies_ == config_.dropNth) {
    fault = Fault::Silent;
  } else if (replies_ == config_.corruptNth) {
    fault = Fault::BadCheck;
  } else if (replies_ == config_.lateNth) {
    fault = Fault::Late;
  } else if (replies_ == config_.duplicateNth) {
    fault = Fault::Duplicate;
  } else if (TakeFault(c, role)) {
    fault = config_.fault;
  } else {
    fault = RandomFault(role);
  }
  if (fault != Fault::None) Note(fault);
  return fault;
}

bool WriterSimulator::Applies(Fault fault, Role role) {
  switch (fault) {
    case Fault::None:
      return false;
    case Fault::WriteLost:
      return role == Role::WriteAck;
    case Fault::BitFlipped:
      return role == Role::ReadData;
    case Fault::NoBlankResult:
      return role == Role::BlankAck;
    case Fault::WrongAddress:
      return role == Role::ReadData;
    default:
      return true;
  }
}

bool WriterSimulator::TakeFault(const Command& c, Role role) {
  if (!Applies(config_.fault, role)) return false;
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

Fault WriterSimulator::RandomFault(Role role) {
  if (!(config_.randomFaultRate > 0)) return Fault::None;
  if (seededWith_ != config_.seed) {
    random_.seed(config_.seed);
    seededWith_ = config_.seed;
  }
  // mt19937_64's output is fixed by the standard; the distributions are not, so none is used.
  const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
  if (draw >= config_.randomFaultRate) return Fault::None;
  std::array<Fault, kFaultKinds> kinds{};
  std::size_t n = 0;
  for (std::size_t k = 1; k < kFaultKinds; ++k) {
    const auto fault = static_cast<Fault>(k);
    if (Applies(fault, role)) kinds[n++] = fault;
  }
  return kinds[random_() % n];
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

void WriterSimulator::Send(const Reply& reply, bool crc, Fault fault, std::int64_t readyUs,
                           std::int64_t nowUs, std::vector<Transmission>& out) {
  if (fault == Fault::Silent) return;
  Bytes frame = BuildFrame(reply, crc, fault);
  if (fault == Fault::Late) readyUs += std::max<std::int64_t>(config_.lateUs, 0);
  if (config_.behindAfter && replies_ > *config_.behindAfter) {
    // This reply waits for the next request; the one that waited goes out now.
    std::optional<Bytes> now = std::exchange(heldBack_, std::move(frame));
    if (!now) return;
    frame = std::move(*now);
    fault = Fault::None;
  }

  std::vector<Bytes> parts;
  if (fault == Fault::Split) {
    parts.emplace_back(frame.begin(), frame.begin() + kSplitAfter);
    parts.emplace_back(frame.begin() + kSplitAfter, frame.end());
  } else {
    if (fault == Fault::Duplicate) parts.push_back(frame);
    parts.push_back(std::move(frame));
  }
  std::int64_t earliestUs = readyUs;
  for (auto& part : parts) {
    // One line out of the writer: a reply never overtakes the tail of an earlier one.
    const std::int64_t startUs = std::max(earliestUs, txBusyUs_);
    txBusyUs_ = startUs + (config_.wireTime ? WireUs(part.size()) : 0);
    out.push_back({txBusyUs_ - nowUs, std::move(part)});
    const std::int64_t gapUs = fault == Fault::Split ? config_.splitGapUs : config_.duplicateGapUs;
    earliestUs = txBusyUs_ + std::max<std::int64_t>(gapUs, 0);
  }
}

}  // namespace kvr::sim
