// The simulated writer's frame parser with an arbitrary byte stream in arbitrary chunks and an
// arbitrary mix of its settings and faults. The parser holds little, records only frames it was
// sent, never answers out of order, answers in frames the station can take unless a fault says
// otherwise, and its flash only ever loses bits between two erases.

#include <algorithm>

#include "fuzz/fuzz_input.h"
#include "link/check_values.h"
#include "simulator/writer_simulator.h"

namespace {

using kvr::sim::Bytes;
using kvr::sim::Fault;
using kvr::sim::WriterConfig;
using kvr::sim::WriterSimulator;

constexpr std::size_t kFlashSizes[4] = {0x100, 0x1000, 0x3000, 1};

// Programming only clears bits.
KVR_FUZZ_UNTRACED bool OnlyClearedBits(const Bytes& before, const Bytes& after) {
  for (std::size_t a = 0; a < after.size(); ++a)
    if ((after[a] & ~before[a]) != 0) return false;
  return true;
}

bool EndsGood(std::span<const std::uint8_t> frame) {
  const std::size_t n = frame.size();
  if (n < 6 || frame[0] != 0x68 || (frame[1] << 8 | frame[2]) != static_cast<int>(n) ||
      frame[n - 1] != 0x16)
    return false;
  // The station's own check values, not the simulator's.
  const bool sum = kvr::Sum8(frame.data(), n - 2) == frame[n - 2];
  const bool crc =
      kvr::ComputeCrc16(frame.data(), 0, n - 3) == kvr::Crc16{frame[n - 3], frame[n - 2]};
  return sum || crc;
}

WriterConfig ConfigFrom(kvr::fuzz::Input& in) {
  const std::uint8_t flags = in.Byte();
  const std::uint8_t fault = in.Byte();
  const std::uint8_t faultCommand = in.Byte();
  const std::uint8_t nth = in.Byte();
  const std::uint8_t rate = in.Byte();
  const std::uint8_t dead = in.Byte();
  WriterConfig c;
  c.wireTime = (flags & 0x01) != 0;
  c.writeAck = (flags & 0x02) != 0 ? kvr::sim::WriteAck::Short : kvr::sim::WriteAck::PageEcho;
  c.blankResult = (flags & 0x04) == 0;
  c.handshakeEvery = 1 + (flags >> 3 & 3);
  if ((flags & 0x20) != 0) c.chipIdentity.reset();
  c.fault = static_cast<Fault>(fault % kvr::sim::kFaultKinds);
  c.faultCommand = faultCommand == 0xFF ? -1 : faultCommand;
  c.faultCount = (fault >> 4) == 0 ? -1 : fault >> 4;
  c.dropNth = nth & 3;
  c.corruptNth = nth >> 2 & 3;
  c.loseWriteNth = nth >> 4 & 3;
  c.flipReadNth = nth >> 6 & 3;
  c.randomFaultRate = rate / 512.0;
  c.seed = rate;
  if (dead != 0) c.deadAfter = dead - 1u;
  c.maxRecordedFrames = 64;
  return c;
}

}  // namespace

// Input: six bytes of settings, the flash size, then chunks: delay (in 0.5 ms), length - 1,
// bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvr::fuzz::Input in(data, size);
  WriterSimulator writer(ConfigFrom(in));
  writer.Chip().SetFlashSize(kFlashSizes[in.Byte() & 3]);
  const WriterConfig& config = writer.Config();
  // Faults that shape the frames on the line; the others happen inside the writer.
  const bool frameFaults =
      config.randomFaultRate > 0 || config.dropNth != 0 || config.corruptNth != 0 ||
      (config.fault != Fault::None && config.fault != Fault::WriteLost &&
       config.fault != Fault::BitFlipped && config.fault != Fault::NoBlankResult);

  Bytes stream;
  std::vector<Bytes> parsed;
  writer.SetFrameObserver([&parsed](const Bytes& frame) { parsed.push_back(frame); });
  std::int64_t nowUs = 0;
  std::int64_t lastOnLineUs = 0;
  while (!in.Empty()) {
    nowUs += std::int64_t{in.Byte()} * 500;
    const auto chunk = in.Take(std::size_t{in.Byte()} + 1);
    stream.insert(stream.end(), chunk.begin(), chunk.end());
    const Bytes flashBefore = writer.Flash();

    const auto sent = writer.Receive(chunk.data(), chunk.size(), nowUs);
    KVR_FUZZ_CHECK(writer.PendingBytes() <= WriterSimulator::kMaxFrameLength + 2);
    for (const auto& transmission : sent) {
      KVR_FUZZ_CHECK(!transmission.bytes.empty() && transmission.delayUs >= 0);
      // One line out of the writer: nothing overtakes what was sent before.
      KVR_FUZZ_CHECK(nowUs + transmission.delayUs >= lastOnLineUs);
      lastOnLineUs = nowUs + transmission.delayUs;
      if (!frameFaults) {
        KVR_FUZZ_CHECK(EndsGood(transmission.bytes));
        KVR_FUZZ_CHECK(transmission.bytes.size() <= WriterSimulator::kStationBuffer);
      }
    }

    bool erased = false;
    for (const Bytes& frame : parsed) {
      const std::size_t start = frame.size() >= 2 && frame[0] == 0x46 && frame[1] == 0xB9 ? 2 : 0;
      KVR_FUZZ_CHECK(frame.size() >= start + WriterSimulator::kMinFrameLength);
      KVR_FUZZ_CHECK(frame[start] == 0x6A && frame.back() == 0x16);
      KVR_FUZZ_CHECK(std::search(stream.begin(), stream.end(), frame.begin(), frame.end()) !=
                     stream.end());
      erased = erased || frame[start + 3] == 0x08;
    }
    parsed.clear();
    // Only an erase sets bits again.
    const Bytes& flash = writer.Flash();
    KVR_FUZZ_CHECK(flash.size() == flashBefore.size());
    KVR_FUZZ_CHECK(erased || OnlyClearedBits(flashBefore, flash));
  }
  KVR_FUZZ_CHECK(writer.ReceivedFrames().size() <= config.maxRecordedFrames);
  return 0;
}
