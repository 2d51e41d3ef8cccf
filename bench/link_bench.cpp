// Times the station's link on the Qt platform against kvr-writer-sim on a pseudo-terminal:
// the turnaround of a 140-byte block frame and its 6-byte acknowledge, and the processor time
// the station uses while it waits for a writer that never answers.

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/station.h"
#include "link/check_values.h"
#include "link/writer_frame.h"
#include "qt_bench_support.h"

namespace {

using bench::QtPlatform;
using bench::WriterProcess;

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool Turnaround(int exchanges) {
  // Neither reply latency nor the simulated chip's write time: what is left is the link's own.
  WriterProcess writer({"--latency-us", "0", "--write-us", "0"});
  if (writer.DevicePath().isEmpty()) return false;
  QtPlatform qt(writer.DevicePath());
  kvr::Station station(qt.platform);
  kvr::WriterLink& link = station.link;
  if (!link.OpenPort(1, 115200)) return false;
  link.ConfigurePort();

  std::uint8_t data[128];
  for (int i = 0; i < 128; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  auto exchange = [&](int n) {
    const auto address = static_cast<std::uint32_t>((n * 128) & 0xFFFF);
    const std::uint8_t code = n == 0 ? kvr::command::kWriteFirst : kvr::command::kWriteNext;
    link.SendBlockFrame(
        kvr::BuildWriteFrame(code, address, data, 128),
        kvr::WriteAcknowledge(static_cast<std::uint16_t>(address / 128), kvr::Sum8(data, 128)),
        700);
    return link.WaitForReply() == kvr::WriterLink::Outcome::Complete;
  };
  for (int n = 0; n < 50; ++n)
    if (!exchange(n)) return false;

  int failed = 0;
  const auto start = Clock::now();
  for (int n = 0; n < exchanges; ++n) failed += exchange(n) ? 0 : 1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  link.ClosePort();

  const double meanUs = seconds * 1e6 / exchanges;
  const double wireUs = 146.0 * 10.0 / 115200.0 * 1e6;
  std::printf("block exchanges:          %d (140-byte frame, 6-byte acknowledge), %d failed\n",
              exchanges, failed);
  std::printf("mean turnaround:          %.1f us\n", meanUs);
  std::printf("wire time at 115200 8N1:  %.1f us\n", wireUs);
  std::printf("turnaround / wire time:   %.4f (target at most 0.01: %s)\n", meanUs / wireUs,
              meanUs / wireUs <= 0.01 ? "met" : "MISSED");
  return failed == 0;
}

bool SilentWriter() {
  WriterProcess writer({"--silent"});
  if (writer.DevicePath().isEmpty()) return false;
  QtPlatform qt(writer.DevicePath());
  kvr::Station station(qt.platform);
  const double cpu0 = ProcessCpuSeconds();
  const auto wall0 = Clock::now();
  station.OnProgramClick();
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  std::printf("silent writer run:        %.2f s wall, %.3f s processor\n", wall, cpu);
  std::printf("processor share:          %.2f %% (target at most 2 %%: %s)\n", 100 * cpu / wall,
              cpu / wall <= 0.02 ? "met" : "MISSED");
  return !station.LastRun.connected;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int exchanges = 2000;
  if (argc > 1) exchanges = std::max(1, std::atoi(argv[1]));
  const bool ok = Turnaround(exchanges) & SilentWriter();
  if (!ok) std::fprintf(stderr, "link_bench: a run did not behave as expected\n");
  return ok ? 0 : 1;
}
