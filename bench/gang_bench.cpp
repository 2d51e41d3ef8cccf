// Chips per hour of a line with 1, 2, 4, 8 and 16 simulated writers: kvr-gang runs a kvr-cli
// station per writer against kvr-writer-sim with the wire time of a 115200 line emulated, a 16 KB
// image, erase, blank check, program and verify by page sums, no pause between chips. Prints each
// line's rate, its scaling against one writer, and whether the machine's processors, not the
// writers, set the pace. Then the rate of one writer's repeat with numbered chips, the numbers
// and the count kept in the settings file, in a SQLite line database and in a PostgreSQL one on
// the loopback (a server of its own, where PostgreSQL is installed), and what the database costs:
// the rates, and the time a chip spends in the database itself.
//
//   gang_bench [CHIPS] [line]   chips per writer (default 10); "line": the line databases only

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
#include "support/pg_cluster.h"
#ifdef KVR_LINE
#include "platform/sql/sql_line_database.h"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMostWriters = 16;
constexpr double kTargetScaling = 15.0;  // of kMostWriters against one
// What a line database may cost of a line's rate.
constexpr double kDatabaseBudget = 0.01;
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

// `options` go to kvr-gang after the line's own; `name` names its settings file.
Result RunLine(const fs::path& dir, int writers, int chips, const std::string& options = "",
               const std::string& name = "") {
  const std::string settings =
      (dir / ("line" + (name.empty() ? std::to_string(writers) : name) + ".ini")).string();
  const std::string command =
      std::string(KVR_GANG) + " --simulate " + std::to_string(writers) +
      " --sim-options --wire-time --settings '" + settings + "' --load '" +
      (dir / "fw16k.hex").string() +
      "' --auto-sequence 'Erase MCU,Check MCU Empty,Program File,Verify Program'" + " --count " +
      std::to_string(chips) + " --delay 0 " + options;
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

#ifdef KVR_LINE
// What a chip costs in the database itself, timed without the wire: its number's reservation and
// its record with the count, each one transaction, as a station makes them. In milliseconds.
double DatabaseMsPerChip(const std::string& url) {
  constexpr int kChips = 200;
  kvr::SqlLineDatabase database(url);
  const auto start = Clock::now();
  for (int chip = 0; chip < kChips; ++chip) {
    std::string number;
    const auto pool = database.ChangePool(
        "bench", {"bench", "COM1", 0, 0},
        [&](const std::optional<kvr::SerialPool>& stored, std::string& spent) {
          kvr::SerialPool next = stored.value_or(kvr::SerialPool{"3FFF", "4", "1", "1", 1});
          number = spent = next.next;
          next.next = std::to_string(std::stoll(next.next) + 1);
          return next;
        });
    kvr::LineRecord record;
    record.serial = number;
    record.result = "OK";
    record.steps = "[]";
    if (!pool || !database.AddRecord("bench", record)) {
      std::fprintf(stderr, "gang_bench: %s\n", database.LastError().c_str());
      return -1;
    }
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kChips;
}
#endif

// One writer's repeat of numbered chips with the numbers and the count in the settings file, in
// SQLite and in PostgreSQL; false when a line did not program every chip.
bool LineDatabases(const fs::path& dir, int chips) {
#ifndef KVR_LINE
  (void)dir;
  (void)chips;
  std::printf("Built without the line database: nothing to compare.\n");
  return true;
#else
  const std::string numbering = " --serial-address 3FFF --serial-bytes 4 --serial-mode dec";
  const std::string init = " init --next 1 --address 3FFF --bytes 4 --mode dec > /dev/null";
  const std::string sqlite = "sqlite:" + (dir / "line.db").string();
  if (std::system((std::string(KVR_LINE) + " '" + sqlite + "'" + init).c_str()) != 0) return false;
  kvr::test::PgCluster cluster;
  if (cluster.Ready() &&
      std::system((std::string(KVR_LINE) + " '" + cluster.Url() + "'" + init).c_str()) != 0)
    return false;
  std::printf("One writer's repeat of numbered chips, %d chips:\n", chips);
  struct Way {
    const char* what;
    const char* name;
    std::string options;
  };
  const Way ways[] = {
      {"no line db   ", "file", numbering + " --serial-next 1 --serial-enable"},
      {"SQLite       ", "sqlite", "--serial-enable --line-db '" + sqlite + "'"},
      {"PostgreSQL   ", "postgres", "--serial-enable --line-db '" + cluster.Url() + "'"}};
  double alone = 0;
  for (const Way& way : ways) {
    if (&way == &ways[2] && !cluster.Ready()) {
      std::printf("  %s  not measured: %s\n", way.what, cluster.Why().c_str());
      continue;
    }
    const Result result = RunLine(dir, 1, chips, way.options, way.name);
    if (!result.ok) return false;
    if (alone == 0) {
      alone = result.chipsPerHour;
      std::printf("  %s %8.0f chips per hour\n", way.what, result.chipsPerHour);
      continue;
    }
    const double cost = 1.0 - result.chipsPerHour / alone;
    const double ms = DatabaseMsPerChip(&way == &ways[1] ? sqlite : cluster.Url());
    const double share = ms * alone / 3.6e6;
    std::printf(
        "  %s %8.0f chips per hour   %+5.2f %% against none; in the database %.2f ms a chip, "
        "%.3f %% of a chip's time (budget %.0f %%): %s\n",
        way.what, result.chipsPerHour, -100.0 * cost, ms, 100.0 * share, 100.0 * kDatabaseBudget,
        ms >= 0 && share < kDatabaseBudget ? "met" : "missed");
  }
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int chips = argc > 1 ? std::atoi(argv[1]) : 10;
  const bool lineOnly = argc > 2 && std::string(argv[2]) == "line";
  if (chips < 1 || argc > 3 || (argc > 2 && !lineOnly)) {
    std::fprintf(stderr, "usage: gang_bench [CHIPS per writer] [line]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("kvr-gang-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  WriteHex16k(dir / "fw16k.hex");
  if (lineOnly) {
    const bool measured = LineDatabases(dir, chips);
    fs::remove_all(dir);
    return measured ? 0 : 1;
  }
  std::printf(
      "Chips per hour of a line, 16 KB image, 115200 baud wire time, %d chips per writer,\n"
      "erase + blank check + program + verify by sums, no pause (%ld processors):\n",
      chips, ::sysconf(_SC_NPROCESSORS_ONLN));
  double one = 0;
  double most = 0;
  double ownMost = 0;
  double machineMost = 0;
  bool ok = true;
  for (const int writers : {1, 2, 4, 8, kMostWriters}) {
    const Result result = RunLine(dir, writers, chips);
    if (!result.ok) {
      // The larger lines are still measured: where a line stops scaling is the finding.
      ok = false;
      continue;
    }
    if (writers == 1) one = result.chipsPerHour;
    if (writers == kMostWriters) most = result.chipsPerHour;
    ownMost = std::max(ownMost, result.ownShare);
    machineMost = std::max(machineMost, result.machineShare);
    std::printf(
        "  %d writer%s %8.0f chips per hour   %.2f x one writer   processors %3.0f %% busy "
        "(%.0f %% by the line)\n",
        writers, writers == 1 ? ": " : "s:", result.chipsPerHour,
        one > 0 ? result.chipsPerHour / one : 0.0, 100.0 * result.machineShare,
        100.0 * result.ownShare);
  }
  if (one > 0 && most > 0) {
    const double scaling = most / one;
    std::printf("%d writers give %.2f times the chips per hour of one (target %.1f): %s\n",
                kMostWriters, scaling, kTargetScaling,
                scaling >= kTargetScaling ? "met" : "missed");
  }
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
  ok = LineDatabases(dir, chips) && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
