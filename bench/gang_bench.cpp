// Chips per hour of a line with 1, 2 and 4 simulated writers: kvr-gang runs a kvr-cli station
// per writer against kvr-writer-sim with the wire time of a 115200 line emulated, a 16 KB image,
// erase, blank check, program and verify by page sums, no pause between chips. Prints each
// line's rate, its scaling against one writer, and whether the machine's processors, not the
// writers, set the pace.
//
//   gang_bench [CHIPS]   chips per writer (default 10)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/intel_hex.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTargetScaling = 3.8;
// Above this share of every processor's time the processors are the bottleneck.
constexpr double kCpuBound = 0.8;

void WriteHex16k(const fs::path& path) {
  std::string image(16384, '\0');
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<char>(a * 131 + (a >> 7));
  std::ofstream(path, std::ios::binary) << kvr::test::IntelHex(image);
}

double ChildSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The machine's processor time so far, busy and in all (Linux: /proc/stat), in ticks.
struct MachineTimes {
  unsigned long long busy = 0;
  unsigned long long total = 0;
};

MachineTimes ReadMachineTimes() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                     steal = 0;
  in >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  const unsigned long long busy = user + nice + system + irq + softirq + steal;
  return {busy, busy + idle + iowait};
}

struct Result {
  double chipsPerHour = 0;
  double ownShare = 0;      // of all processors, taken by the line's processes
  double machineShare = 0;  // of all processors, taken by anything on the machine
  bool ok = false;
};

Result RunLine(const fs::path& dir, int writers, int chips) {
  const std::string settings = (dir / ("line" + std::to_string(writers) + ".ini")).string();
  const std::string command =
      std::string(KVR_GANG) + " --simulate " + std::to_string(writers) +
      " --sim-options --wire-time --settings '" + settings + "' --load '" +
      (dir / "fw16k.hex").string() +
      "' --auto-sequence 'Erase MCU,Check MCU Empty,Program File,Verify Program'" + " --count " +
      std::to_string(chips) + " --delay 0";
  const double cpuBefore = ChildSeconds();
  const MachineTimes machineBefore = ReadMachineTimes();
  const auto start = Clock::now();
  std::FILE* gang = ::popen(command.c_str(), "r");
  if (gang == nullptr) return {};
  std::string out;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, gang) != nullptr) out += buffer;
  const int status = ::pclose(gang);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const MachineTimes machine = ReadMachineTimes();
  Result result;
  result.ownShare =
      (ChildSeconds() - cpuBefore) / (wall * static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN)));
  if (machine.total > machineBefore.total)
    result.machineShare = static_cast<double>(machine.busy - machineBefore.busy) /
                          static_cast<double>(machine.total - machineBefore.total);
  // "Summary: 4 writers, 32 good, 0 failed, 32 in all, 7890 chips per hour"
  const auto summary = out.rfind("Summary: ");
  long long good = 0, failed = 0, all = 0;
  double rate = 0;
  int count = 0;
  if (summary != std::string::npos)
    std::sscanf(out.c_str() + summary,
                "Summary: %d writers, %lld good, %lld failed, %lld in all, %lf chips per hour",
                &count, &good, &failed, &all, &rate);
  if (status != 0 || good != static_cast<long long>(writers) * chips) {
    std::fprintf(stderr, "gang_bench: the line of %d did not program every chip:\n%s", writers,
                 out.c_str());
    return result;
  }
  result.chipsPerHour = rate;
  result.ok = true;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int chips = argc > 1 ? std::atoi(argv[1]) : 10;
  if (chips < 1) {
    std::fprintf(stderr, "usage: gang_bench [CHIPS per writer]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("kvr-gang-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  WriteHex16k(dir / "fw16k.hex");
  std::printf(
      "Chips per hour of a line, 16 KB image, 115200 baud wire time, %d chips per writer,\n"
      "erase + blank check + program + verify by sums, no pause (%ld processors):\n",
      chips, ::sysconf(_SC_NPROCESSORS_ONLN));
  double one = 0;
  double four = 0;
  double ownMost = 0;
  double machineMost = 0;
  bool ok = true;
  for (const int writers : {1, 2, 4}) {
    const Result result = RunLine(dir, writers, chips);
    if (!result.ok) {
      ok = false;
      break;
    }
    if (writers == 1) one = result.chipsPerHour;
    if (writers == 4) four = result.chipsPerHour;
    ownMost = std::max(ownMost, result.ownShare);
    machineMost = std::max(machineMost, result.machineShare);
    std::printf(
        "  %d writer%s %8.0f chips per hour   %.2f x one writer   processors %3.0f %% busy "
        "(%.0f %% by the line)\n",
        writers, writers == 1 ? ": " : "s:", result.chipsPerHour,
        one > 0 ? result.chipsPerHour / one : 0.0, 100.0 * result.machineShare,
        100.0 * result.ownShare);
  }
  fs::remove_all(dir);
  if (!ok) return 1;
  const double scaling = four / one;
  std::printf("4 writers give %.2f times the chips per hour of one (target %.1f): %s\n", scaling,
              kTargetScaling, scaling >= kTargetScaling ? "met" : "missed");
  if (ownMost > kCpuBound)
    std::printf("CPU-bound: the line's own processes kept the processors %.0f %% busy.\n",
                100.0 * ownMost);
  else if (machineMost > kCpuBound)
    std::printf(
        "The line is not CPU-bound (its processes took at most %.0f %% of the processors), but "
        "other work kept them up to %.0f %% busy: the figures may be low.\n",
        100.0 * ownMost, 100.0 * machineMost);
  else
    std::printf("Not CPU-bound: the writers and the wire set the pace.\n");
  return 0;
}
