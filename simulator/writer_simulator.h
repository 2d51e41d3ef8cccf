#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "simulator/target_chip.h"

namespace kvr::sim {

// Bytes the writer sends, delayUs after the bytes that caused them were received.
struct Transmission {
  std::int64_t delayUs;
  Bytes bytes;
};

// What can go wrong with one reply. Most kinds shape the frame on the line; WriteLost,
// BitFlipped, NoBlankResult and WrongAddress happen inside the writer and apply only to the
// replies they name.
enum class Fault {
  None,
  Silent,         // no reply
  BadCheck,       // wrong check value
  BadEnd,         // wrong end byte
  Garbage,        // bytes before the reply
  Split,          // the reply in two parts, splitGapUs apart
  LongLength,     // a length field beyond the station's receive buffer
  WriteLost,      // a write acknowledged but not stored
  BitFlipped,     // one data bit of a read reply flipped
  NoBlankResult,  // a blank check acknowledged, its result never sent
  Late,           // the reply held back lateUs, past the station's time-out
  Duplicate,      // the reply sent twice
  WrongAddress,   // a read answered with the data of another address, and that address
};
inline constexpr std::size_t kFaultKinds = static_cast<std::size_t>(Fault::WrongAddress) + 1;
// "no reply", "bad check", ...: for printed fault counts.
const char* FaultName(Fault fault);

// How many faults of each kind were injected so far.
struct FaultRecord {
  std::array<std::uint64_t, kFaultKinds> counts{};
  std::uint64_t operator[](Fault fault) const { return counts[static_cast<std::size_t>(fault)]; }
  std::uint64_t Total() const;
};

enum class WriteAck {
  PageEcho,  // 68 00 09 80 <page, 2 bytes> <sum of the chunk's data> <check> 16
  Short,     // 68 00 06 80 EE 16
};

struct WriterConfig {
  std::uint8_t versionByte = 0x13;
  std::int64_t latencyUs = 200;  // reply latency
  bool wireTime = false;         // emulate 115200 8N1: received and sent bytes take 10 bits each
  int handshakeEvery = 1;        // answer only every n-th handshake (1 = all)
  Fault fault = Fault::None;
  int faultCommand = -1;  // -1: every reply; else only replies to this command code
  int faultCount = -1;    // -1: unlimited; else only the first N eligible replies are faulted
  std::int64_t splitGapUs = 50000;  // Split: the reply is sent in two parts with this gap between
  Bytes garbage = {0x00, 0x55, 0x16, 0xAA};  // Garbage: sent right before the reply
  std::int64_t frameGapUs = 100000;       // an incomplete frame older than this silence is dropped
  std::size_t maxRecordedFrames = 65536;  // bounds ReceivedFrames() against endless streams
  // The target chip's identity code (reply bytes 4 and 5, low byte first); none: no chip
  // answers the identity read.
  std::optional<std::uint16_t> chipIdentity = 0xF101;

  WriteAck writeAck = WriteAck::PageEcho;
  // The writer's own work before it answers; commands are carried out one after the other.
  std::int64_t eraseUs = 40000;  // chip erase
  std::int64_t writeUs = 1000;   // per data chunk, and for the option registers
  std::int64_t scanUs = 30000;   // blank check: from its acknowledge to its result frame

  // Faults counted from 1; 0 is off. Each may coincide with the others.
  bool blankResult = true;         // false: no blank check ever sends its result frame
  std::uint64_t dropNth = 0;       // the n-th reply is not sent
  std::uint64_t corruptNth = 0;    // the n-th reply has a wrong check value
  std::uint64_t loseWriteNth = 0;  // the n-th data chunk is acknowledged but not stored
  std::uint64_t flipReadNth = 0;   // the n-th read reply has bit 0 of its first data byte flipped
  // Frames with a good check value beyond this many are neither carried out nor answered.
  std::optional<std::uint64_t> deadAfter{};
  std::uint64_t lateNth = 0;       // the n-th reply comes lateUs late
  std::int64_t lateUs = 800000;    // Late: past the station's 700 ms time-out
  std::uint64_t duplicateNth = 0;  // the n-th reply is sent twice, duplicateGapUs apart
  std::int64_t duplicateGapUs = 2000;
  std::uint64_t wrongAddressNth = 0;  // the n-th read reply answers for another address
  bool blankAckTwice = false;         // every blank check's acknowledge is sent twice
  // Beyond this many replies each reply answers the request before: the first of them goes
  // unsent, and every later request gets the reply the one before it earned.
  std::optional<std::uint64_t> behindAfter{};
  // Frames with a good check value beyond this many are neither carried out nor answered; from
  // the first of them on the writer sends text without end, a chunk every streamEveryUs, never a
  // frame (no 0x68 byte in it).
  std::optional<std::uint64_t> streamAfter{};
  std::int64_t streamEveryUs = 8000;
  // Soak tests: each reply, with this probability, gets one fault drawn from the kinds that
  // apply to it; the same seed and the same frames give the same faults.
  double randomFaultRate = 0;
  std::uint64_t seed = 1;
};

// Check values are computed here on their own, so a fault in the station's code cannot hide
// behind shared code.
std::uint8_t Sum8(std::span<const std::uint8_t> bytes);
std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes);
// "46 B9 6A": upper-case hex bytes separated by blanks.
std::string ToHexLine(std::span<const std::uint8_t> bytes);

// The writer box with its target chip. Replies that carry data echo the command code (read 00,
// read options 01, blank-check result 09, identity 0A, version 0C, page sums 0D); the others
// answer 80, program options with the registers as they now stand.
class WriterSimulator {
 public:
  static constexpr std::size_t kMinFrameLength = 7;
  static constexpr std::size_t kMaxFrameLength = 600;
  // The station's receive buffer: replies that would not fit are not sent.
  static constexpr std::size_t kStationBuffer = 531;

  explicit WriterSimulator(WriterConfig config = {});

  // Bytes from the station received at nowUs (any monotonic clock); returns what the writer
  // sends back, in the order it goes on the line.
  std::vector<Transmission> Receive(const std::uint8_t* data, std::size_t size, std::int64_t nowUs);
  std::vector<Transmission> Receive(const Bytes& bytes, std::int64_t nowUs) {
    return Receive(bytes.data(), bytes.size(), nowUs);
  }
  // What the writer sends without being asked: a streaming writer's text. Every Receive goes
  // on streamHorizonUs ahead; a server that keeps the line going calls this when its queue runs
  // dry, so the stream never ends.
  std::vector<Transmission> Unprompted(std::int64_t nowUs);
  bool Streaming() const { return streaming_; }
  static constexpr std::int64_t kStreamHorizonUs = 10'000'000;

  // Every parsed frame (good or bad check), as received, preamble included; at most
  // maxRecordedFrames, later ones only counted.
  const std::vector<Bytes>& ReceivedFrames() const { return frames_; }
  std::uint64_t UnrecordedFrames() const { return unrecorded_; }
  void ClearReceivedFrames();
  // Called for every parsed frame, also those beyond the record's bound.
  void SetFrameObserver(std::function<void(const Bytes&)> observer);

  WriterConfig& Config() { return config_; }
  const WriterConfig& Config() const { return config_; }
  TargetChip& Chip() { return chip_; }
  const TargetChip& Chip() const { return chip_; }
  const Bytes& Flash() const { return chip_.Flash(); }
  const FaultRecord& InjectedFaults() const { return injected_; }
  // Bytes held back as the start of a frame not yet complete.
  std::size_t PendingBytes() const { return pending_.size(); }

 private:
  struct Command;
  struct Reply {
    std::uint8_t code;
    Bytes payload;
  };
  // Which of the writer's own faults a reply can carry.
  enum class Role { Plain, WriteAck, ReadData, BlankAck };
  // A command carried out, before faults decide what becomes of it.
  struct Response {
    Role role = Role::Plain;
    Reply reply;
    std::int64_t workUs = 0;        // the writer's own time before the reply
    std::optional<Reply> result{};  // blank check: the second frame, scanUs after the first
    std::uint32_t writeAddress = 0;
    std::span<const std::uint8_t> writeData{};  // stored unless the write is lost
  };
  struct Clock {
    std::uint64_t chunkStart;  // stream index of the chunk's first byte
    std::int64_t rxStartUs;    // when the chunk's first byte starts arriving
    std::int64_t nowUs;
  };

  static std::optional<Command> Decode(std::span<const std::uint8_t> frame);
  void Parse(const Clock& clock, std::vector<Transmission>& out);
  void Record(Bytes frame);
  void Execute(const Command& command, std::int64_t arrivedUs, std::int64_t nowUs,
               std::vector<Transmission>& out);
  std::optional<Response> Handle(const Command& command);
  std::optional<Response> Write(const Command& command) const;
  std::optional<Response> Read(const Command& command) const;
  std::optional<Response> PageSums(const Command& command) const;
  Response BlankCheck() const;
  static bool Applies(Fault fault, Role role);
  Fault PickFault(const Command& command, Role role);
  bool TakeFault(const Command& command, Role role);
  Fault RandomFault(Role role);
  void Note(Fault fault) { ++injected_.counts[static_cast<std::size_t>(fault)]; }
  Bytes BuildFrame(const Reply& reply, bool crc, Fault fault) const;
  void Send(const Reply& reply, bool crc, Fault fault, std::int64_t readyUs, std::int64_t nowUs,
            std::vector<Transmission>& out);
  // Answers a read for the address next to the one asked, with that address's data.
  void AnswerForAnotherAddress(Bytes& payload) const;
  void Stream(std::int64_t nowUs, std::vector<Transmission>& out);

  WriterConfig config_;
  TargetChip chip_;
  Bytes pending_;
  std::uint64_t pendingBase_ = 0;  // stream index of pending_[0]
  std::uint64_t received_ = 0;
  std::optional<std::int64_t> lastRxUs_;
  std::int64_t rxBusyUs_ = 0;    // the line towards the writer is busy until then (wire time)
  std::int64_t txBusyUs_ = 0;    // the last reply byte leaves the writer then
  std::int64_t workBusyUs_ = 0;  // the writer finishes its last command then
  std::vector<Bytes> frames_;
  std::uint64_t unrecorded_ = 0;
  std::function<void(const Bytes&)> observer_;
  std::uint64_t handshakes_ = 0;
  // The code of the last command carried out; a session begins with a handshake after another.
  int lastCode_ = -1;
  std::uint64_t commands_ = 0;  // frames with a good check value
  std::uint64_t replies_ = 0;
  std::uint64_t writes_ = 0;
  std::uint64_t reads_ = 0;
  FaultRecord injected_;
  std::optional<Bytes> heldBack_;  // behindAfter: the reply the next request gets
  bool streaming_ = false;
  std::int64_t streamNextUs_ = 0;  // when the next chunk of the stream goes out
  std::uint64_t streamLines_ = 0;
  std::mt19937_64 random_;
  std::optional<std::uint64_t> seededWith_;
  int faulted_ = 0;
  // The fault settings faulted_ counts for; a change starts the count again.
  Fault faultedKind_ = Fault::None;
  int faultedCommand_ = -1;
  int faultedCount_ = -1;
};

}  // namespace kvr::sim
