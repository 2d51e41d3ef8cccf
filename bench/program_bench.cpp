// Times whole runs of the station on the Qt platform against the writer simulator on a
// pseudo-terminal with the line's wire time emulated at 115200 baud, and compares them with the
// protocol's bound: every byte of every frame and reply on the line at 11,520 bytes a second,
// plus the writer's own erase, write and scan times.
//
//   program_bench            a 64 KB image: erase, blank check, program, verify by page sums,
//                            then the same with verification by read-back
//   program_bench --repeat   chips per hour of a repeat with no pause, 16 KB and 64 KB images

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/station.h"
#include "qt_bench_support.h"
#include "simulator/pty_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineBytesPerSecond = 11520.0;  // 115200 baud, 10 bits a byte

struct Bench {
  explicit Bench(std::uint8_t version) {
    config.wireTime = true;
    config.latencyUs = 0;
    config.versionByte = version;
    server = std::make_unique<kvr::sim::PtyServer>(config);
    std::string error;
    if (!server->Open(&error)) {
      std::fprintf(stderr, "program_bench: %s\n", error.c_str());
      return;
    }
    server->Start();
    qt.ports.SetTarget(1, server->DevicePath());
    station = std::make_unique<kvr::Station>(qt.platform);
    station->DeferredSave();
    station->OnBeepClick(false);
  }

  void Image(std::int32_t end) {
    for (std::int32_t a = 0; a <= end; ++a)
      station->ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 131 + (a >> 7)));
    station->FileLoaded = true;
    station->ProgramStart = 0;
    station->ProgramEnd = station->DataEnd = end;
  }

  void Sequence() {
    station->EditAutoSequence(2);
    for (const char* step : {"Erase MCU", "Check MCU Empty", "Program File", "Verify Program"}) {
      for (int i = 0; i < kvr::Station::kFirstSequenceSlot; ++i)
        if (station->txtAuto[static_cast<std::size_t>(i)].text == step) station->OnAutoSlotClick(i);
      station->EditAutoSequence(0);
    }
    station->OnFunctionClick(0);
  }

  // The writer's own time for one run over `end` + 1 bytes in 128-byte chunks.
  double OwnSeconds(std::int32_t end) const {
    const double chunks = static_cast<double>(end / 128 + 1);
    return static_cast<double>(config.eraseUs + config.scanUs) / 1e6 +
           chunks * static_cast<double>(config.writeUs) / 1e6;
  }

  kvr::sim::WriterConfig config;
  std::unique_ptr<kvr::sim::PtyServer> server;
  bench::QtPlatform qt;
  std::unique_ptr<kvr::Station> station;
};

bool OneRun(const char* label, std::uint8_t version) {
  Bench bench(version);
  if (!bench.station) return false;
  constexpr std::int32_t kEnd = 0xFFFF;
  bench.Image(kEnd);
  bench.Sequence();
  const auto start = Clock::now();
  bench.station->OnProgramClick();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (bench.station->LastRun.result != 0) {
    std::fprintf(stderr, "program_bench: the run failed:\n%s\n",
                 bench.station->textMsg.Text().c_str());
    return false;
  }
  const double wire =
      static_cast<double>(bench.qt.port.sent + bench.qt.port.received) / kLineBytesPerSecond;
  const double bound = wire + bench.OwnSeconds(kEnd);
  std::printf(
      "%-34s %7.3f s   bound %7.3f s (line %llu + %llu bytes, writer %.3f s)   ratio %.4f\n", label,
      seconds, bound, static_cast<unsigned long long>(bench.qt.port.sent),
      static_cast<unsigned long long>(bench.qt.port.received), bench.OwnSeconds(kEnd),
      seconds / bound);
  return true;
}

bool Repeat(std::int32_t end, int chips) {
  Bench bench(0x13);
  if (!bench.station) return false;
  bench.Image(end);
  bench.Sequence();
  bench.station->comDalay_ReDownLoad.index = 0;
  int done = 0;
  int good = 0;
  bench.station->onRunFinished = [&] {
    good += bench.station->LastRun.result == 0 ? 1 : 0;
    if (++done == chips) bench.station->EndRepeat();
  };
  const auto start = Clock::now();
  bench.station->RepeatRun();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (good != chips) {
    std::fprintf(stderr, "program_bench: %d of %d chips good\n", good, chips);
    return false;
  }
  const double wire =
      static_cast<double>(bench.qt.port.sent + bench.qt.port.received) / kLineBytesPerSecond;
  const double bound = wire + chips * bench.OwnSeconds(end);
  std::printf(
      "repeat, %2d KB image, %d chips:   %7.1f chips per hour   bound %7.1f   %.2f %% below\n",
      (end + 1) / 1024, chips, chips * 3600.0 / seconds, chips * 3600.0 / bound,
      100.0 * (1.0 - bound / seconds));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool repeat = argc > 1 && std::strcmp(argv[1], "--repeat") == 0;
  if (repeat) {
    std::printf("Chips per hour, delay 0, erase + blank check + program + verify by sums:\n");
    return Repeat(0x3FFF, 5) && Repeat(0xFFFF, 3) ? 0 : 1;
  }
  std::printf("64 KB image at 115200 baud (wire time emulated), one whole run:\n");
  return OneRun("erase, blank, program, verify (sums)", 0x13) &&
                 OneRun("erase, blank, program, read-back", 0x12)
             ? 0
             : 1;
}
