// What a USB serial adapter's latency costs a production run: the station programs 64 KB
// ("Program File", 0000h-FFFFh) on the Qt platform over a pseudo-terminal, against kvr-writer-sim
// answering after 16 ms (an adapter that holds received bytes for its default latency timer) and
// after 1 ms (the same adapter in low-latency mode), with the line's wire time simulated.

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/station.h"
#include "qt_bench_support.h"

namespace {

constexpr int kProgramFileEntry = 4;
constexpr std::int32_t kLastAddress = 0xFFFF;

struct Timing {
  double seconds = 0;
  int exchanges = 0;
  bool ok = false;
};

int CountLines(const QString& path) {
  std::ifstream in(path.toStdString());
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

Timing ProgramWithLatency(int latencyUs) {
  QTemporaryDir dir;
  const QString frames = dir.filePath("frames.txt");
  Timing timing;
  {
    bench::WriterProcess writer(
        {"--latency-us", QString::number(latencyUs), "--wire-time", "--frames", frames});
    if (writer.DevicePath().isEmpty()) return timing;
    bench::QtPlatform qt(writer.DevicePath());
    kvr::Station station(qt.platform);
    // The save that start-up leaves pending runs now, before the image is placed by hand.
    station.DeferredSave();
    for (std::int32_t a = 0; a <= kLastAddress; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 31 + 7));
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = kLastAddress;
    station.OnFunctionClick(kProgramFileEntry);

    const auto start = std::chrono::steady_clock::now();
    station.OnProgramClick();
    timing.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.ok = station.LastRun.result == 0;
  }  // the simulator has ended: its frame log is complete
  timing.exchanges = CountLines(frames);
  return timing;
}

void Print(const char* label, const Timing& timing) {
  std::printf("%-24s %6.2f s  (%d exchanges, %.1f ms each)%s\n", label, timing.seconds,
              timing.exchanges, timing.exchanges > 0 ? timing.seconds * 1e3 / timing.exchanges : 0,
              timing.ok ? "" : "  RUN FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("64 KB \"Program File\" over a pseudo-terminal, 115200 8N1 wire time simulated\n");
  const Timing slow = ProgramWithLatency(16000);
  Print("reply latency 16 ms:", slow);
  const Timing fast = ProgramWithLatency(1000);
  Print("reply latency 1 ms:", fast);
  // 128 data bytes of a 140-byte frame, and its acknowledge, at ten bits a byte.
  const double wireSeconds = (kLastAddress + 1) / 128.0 * (140 + 6) * 10 / 115200.0;
  std::printf("%-24s %6.2f s\n", "wire time alone:", wireSeconds);
  if (slow.ok && fast.ok)
    std::printf("%-24s %6.2f s a chip (%.0f %% of the run)\n",
                "low latency saves:", slow.seconds - fast.seconds,
                100 * (slow.seconds - fast.seconds) / slow.seconds);
  if (!slow.ok || !fast.ok) std::fprintf(stderr, "latency_bench: a run did not program the chip\n");
  return slow.ok && fast.ok ? 0 : 1;
}
