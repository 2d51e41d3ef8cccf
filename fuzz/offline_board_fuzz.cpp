// The simulated offline board's frame parser with an arbitrary byte stream in arbitrary chunks and
// arbitrary faults. It records only frames it was sent, answers in CRC-mode frames with a good
// check value unless told to spoil them, and keeps its board image whole.

#include <algorithm>

#include "fuzz/fuzz_input.h"
#include "link/check_values.h"
#include "simulator/offline_board.h"

namespace {

using kvr::sim::Bytes;
using kvr::sim::OfflineBoard;
using kvr::sim::OfflineBoardConfig;

bool GoodCrcFrame(const Bytes& frame) {
  const std::size_t n = frame.size();
  return n >= 7 && frame[0] == 0x68 && (frame[1] << 8 | frame[2]) == static_cast<int>(n) &&
         frame[n - 1] == 0x16 &&
         kvr::ComputeCrc16(frame.data(), 0, n - 3) == kvr::Crc16{frame[n - 3], frame[n - 2]};
}

}  // namespace

// Input: flags, the dropped data frame, the command answered with a bad check value (0xFF none),
// the weak cell (2 bytes, 0xFFFF none), then chunks: delay (in 0.5 ms), length - 1, bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvr::fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  OfflineBoardConfig config;
  config.silent = (flags & 0x01) != 0;
  config.capacityK = static_cast<std::uint8_t>(flags >> 1);
  config.dropDataFrame = in.Byte() & 0x0F;
  const std::uint8_t badCheck = in.Byte();
  config.badCheckCommand = badCheck == 0xFF ? -1 : badCheck;
  const std::uint16_t weakCell = in.Word();
  if (weakCell != 0xFFFF) config.weakCell = weakCell;
  config.maxRecordedFrames = 64;
  OfflineBoard board(config);

  Bytes stream;
  std::vector<Bytes> parsed;
  board.SetFrameObserver([&parsed](const Bytes& frame) { parsed.push_back(frame); });
  int downloads = 0;
  board.SetDownloadObserver([&downloads](const Bytes& image, bool) {
    KVR_FUZZ_CHECK(image.size() == OfflineBoard::kImageSize);
    ++downloads;
  });
  std::int64_t nowUs = 0;
  while (!in.Empty()) {
    nowUs += std::int64_t{in.Byte()} * 500;
    const auto chunk = in.Take(std::size_t{in.Byte()} + 1);
    stream.insert(stream.end(), chunk.begin(), chunk.end());

    const auto sent = board.Receive(chunk.data(), chunk.size(), nowUs);
    KVR_FUZZ_CHECK(!config.silent || sent.empty());
    for (const auto& transmission : sent) {
      KVR_FUZZ_CHECK(transmission.delayUs >= 0);
      if (config.badCheckCommand < 0) KVR_FUZZ_CHECK(GoodCrcFrame(transmission.bytes));
    }
    for (const Bytes& frame : parsed) {
      const std::size_t start = frame.size() >= 2 && frame[0] == 0x46 && frame[1] == 0xB9 ? 2 : 0;
      KVR_FUZZ_CHECK(frame.size() >= start + 8 && frame[start] == 0x6A && frame.back() == 0x16);
      KVR_FUZZ_CHECK(std::search(stream.begin(), stream.end(), frame.begin(), frame.end()) !=
                     stream.end());
    }
    // At most one answer per frame.
    KVR_FUZZ_CHECK(sent.size() <= parsed.size());
    parsed.clear();
    KVR_FUZZ_CHECK(board.Image().size() == OfflineBoard::kImageSize);
  }
  KVR_FUZZ_CHECK(board.CompletedDownloads() == downloads);
  KVR_FUZZ_CHECK(board.ReceivedFrames().size() <= config.maxRecordedFrames);
  return 0;
}
