#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "simulator/writer_simulator.h"

namespace kvr::sim {

struct OfflineBoardConfig {
  std::uint8_t versionByte = 0x21;
  std::uint8_t capacityK = 51;  // reply byte 5 of the board query: what the board holds, in K
  std::uint8_t optionByte = 0;  // reply byte 4 of the board query
  std::int64_t latencyUs = 200;
  std::int64_t eraseTimeUs = 1'000'000;
  std::int64_t frameGapUs = 100000;  // an incomplete frame older than this silence is dropped
  std::size_t maxRecordedFrames = 65536;

  // Faults.
  bool silent = false;       // never answers
  int dropDataFrame = 0;     // the n-th data frame after an erase (from 1) is lost: not stored, not
                             // answered; 0: none
  int badCheckCommand = -1;  // replies to this command code carry a wrong CRC; -1: none
  // A flash cell of the board that keeps the inverse of what is written to it, so the blocks
  // over it fail their check value.
  std::optional<std::uint16_t> weakCell;
};

// The offline programming board as the station sees it on the line: CRC-mode frames only, the
// handshake with parameter 0xF1, the board query, version, erase and the data frames, which it
// keeps in its board image and checks against the check values at 0xF000 through the segments of
// the configuration block, as the board's firmware does (docs/offline_board.md).
class OfflineBoard {
 public:
  static constexpr std::size_t kImageSize = 0x10001;
  static constexpr std::size_t kMaxFrameLength = 600;
  static constexpr std::uint8_t kAccepted = 0x80;
  static constexpr std::uint8_t kMismatch = 0x81;  // a block does not match its check value

  explicit OfflineBoard(OfflineBoardConfig config = {});

  // Bytes from the station received at nowUs; returns what the board sends back.
  std::vector<Transmission> Receive(const std::uint8_t* data, std::size_t size, std::int64_t nowUs);
  std::vector<Transmission> Receive(const Bytes& bytes, std::int64_t nowUs) {
    return Receive(bytes.data(), bytes.size(), nowUs);
  }

  OfflineBoardConfig& Config() { return config_; }
  const Bytes& Image() const { return image_; }
  // Every frame with a good end byte, as received, preamble included.
  const std::vector<Bytes>& ReceivedFrames() const { return frames_; }
  void SetFrameObserver(std::function<void(const Bytes&)> observer) {
    frameObserver_ = std::move(observer);
  }
  // Runs when a download ends: the continuation 0x2000..0x3FFF has arrived in full after the end
  // of the main part. `verified`: every block checked in this download matched.
  void SetDownloadObserver(std::function<void(const Bytes& image, bool verified)> observer) {
    downloadObserver_ = std::move(observer);
  }
  int CompletedDownloads() const { return downloads_; }
  // Every block checked since the last erase matched its check value.
  bool BlocksVerified() const { return verified_; }

 private:
  struct Frame;
  enum class Phase { Idle, Main, Continuation };

  void Parse(std::vector<Transmission>& out);
  std::optional<Frame> Decode(std::span<const std::uint8_t> frame) const;
  // The reply code and payload, or nothing when the board stays silent.
  std::optional<Bytes> Handle(const Frame& frame, std::int64_t& delayUs);
  std::optional<Bytes> StoreData(const Frame& frame);
  // Checks every 128-byte block that lies in board addresses first..last through the segments of
  // the configuration block.
  bool CheckBoardRange(std::int32_t first, std::int32_t last) const;
  Bytes BuildReply(const Bytes& codeAndPayload, bool badCheck) const;

  OfflineBoardConfig config_;
  Bytes image_;
  Bytes pending_;
  std::optional<std::int64_t> lastRxUs_;
  std::vector<Bytes> frames_;
  std::function<void(const Bytes&)> frameObserver_;
  std::function<void(const Bytes&, bool)> downloadObserver_;
  Phase phase_ = Phase::Idle;
  int dataFrames_ = 0;
  std::vector<bool> continuationReceived_;  // per 128 bytes of 0x2000..0x3FFF
  bool verified_ = true;
  int downloads_ = 0;
};

}  // namespace kvr::sim
