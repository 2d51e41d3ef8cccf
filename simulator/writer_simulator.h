#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kvr::sim {

using Bytes = std::vector<std::uint8_t>;

// Bytes the writer sends, delayUs after the bytes that caused them were received.
struct Transmission {
  std::int64_t delayUs;
  Bytes bytes;
};

enum class Fault { None, Silent, BadCheck, BadEnd, Garbage, Split, LongLength };

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
};

// Check values are computed here on their own, so a fault in the station's code cannot hide
// behind shared code.
std::uint8_t Sum8(std::span<const std::uint8_t> bytes);
std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes);
// "46 B9 6A": upper-case hex bytes separated by blanks.
std::string ToHexLine(std::span<const std::uint8_t> bytes);

class WriterSimulator {
 public:
  static constexpr std::size_t kFlashSize = 0x12400;
  static constexpr std::size_t kMinFrameLength = 7;
  static constexpr std::size_t kMaxFrameLength = 600;

  explicit WriterSimulator(WriterConfig config = {});

  // Bytes from the station received at nowUs (any monotonic clock); returns what the writer
  // sends back, in the order it goes on the line.
  std::vector<Transmission> Receive(const std::uint8_t* data, std::size_t size, std::int64_t nowUs);
  std::vector<Transmission> Receive(const Bytes& bytes, std::int64_t nowUs) {
    return Receive(bytes.data(), bytes.size(), nowUs);
  }

  // Every parsed frame (good or bad check), as received, preamble included; at most
  // maxRecordedFrames, later ones only counted.
  const std::vector<Bytes>& ReceivedFrames() const { return frames_; }
  std::uint64_t UnrecordedFrames() const { return unrecorded_; }
  void ClearReceivedFrames();
  // Called for every parsed frame, also those beyond the record's bound.
  void SetFrameObserver(std::function<void(const Bytes&)> observer);

  WriterConfig& Config() { return config_; }
  const WriterConfig& Config() const { return config_; }
  const Bytes& Flash() const { return flash_; }
  // Bytes held back as the start of a frame not yet complete.
  std::size_t PendingBytes() const { return pending_.size(); }

 private:
  struct Command;
  struct Reply {
    std::uint8_t code;
    Bytes payload;
  };
  struct Clock {
    std::uint64_t chunkStart;  // stream index of the chunk's first byte
    std::int64_t rxStartUs;    // when the chunk's first byte starts arriving
    std::int64_t nowUs;
  };

  static std::optional<Command> Decode(std::span<const std::uint8_t> frame);
  void Parse(const Clock& clock, std::vector<Transmission>& out);
  void Record(Bytes frame);
  std::optional<Reply> Handle(const Command& command);
  std::optional<Reply> WriteFlash(const Command& command);
  void Send(const Command& command, const Reply& reply, std::int64_t readyUs, std::int64_t nowUs,
            std::vector<Transmission>& out);
  bool TakeFault(const Command& command);
  Bytes BuildFrame(const Reply& reply, bool crc, Fault fault) const;

  WriterConfig config_;
  Bytes flash_;
  Bytes pending_;
  std::uint64_t pendingBase_ = 0;  // stream index of pending_[0]
  std::uint64_t received_ = 0;
  std::optional<std::int64_t> lastRxUs_;
  std::int64_t rxBusyUs_ = 0;  // the line towards the writer is busy until then (wire time)
  std::int64_t txBusyUs_ = 0;  // the last reply byte leaves the writer then
  std::vector<Bytes> frames_;
  std::uint64_t unrecorded_ = 0;
  std::function<void(const Bytes&)> observer_;
  std::uint64_t handshakes_ = 0;
  int faulted_ = 0;
  // The fault settings faulted_ counts for; a change starts the count again.
  Fault faultedKind_ = Fault::None;
  int faultedCommand_ = -1;
  int faultedCount_ = -1;
};

}  // namespace kvr::sim
