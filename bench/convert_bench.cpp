// Times a HEX-to-binary conversion by the command-line station, as a whole process, against
// srec_cat doing the same: `kvr-cli --load FILE --export 0 LEN OUT --no-program` and
// `srec_cat FILE -intel -o OUT -binary` on a generated 63 KB HEX file. Prints the median of
// several runs of each and their ratio; without srec_cat it says so and times kvr-cli alone.
// An argument names another kvr-cli to time, for example an older build.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 15;
constexpr std::size_t kFileBytes = 63 * 1024;
constexpr int kRecordBytes = 16;

// Intel HEX records of 16 bytes from address 0 until the file reaches kFileBytes; returns the
// number of data bytes.
std::size_t WriteHexFile(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  std::size_t written = 0;
  std::size_t data = 0;
  unsigned seed = 12345;
  char line[64];
  while (written + 44 + 13 <= kFileBytes) {
    unsigned sum = kRecordBytes + (data >> 8) + (data & 0xFF);
    int n =
        std::snprintf(line, sizeof line, ":%02X%04X00", kRecordBytes, static_cast<unsigned>(data));
    for (int i = 0; i < kRecordBytes; ++i) {
      seed = seed * 1103515245U + 12345U;
      const unsigned byte = (seed >> 16) & 0xFF;
      sum += byte;
      n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X", byte);
    }
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X\r\n",
                       (256 - (sum & 0xFF)) & 0xFF);
    out.write(line, n);
    written += static_cast<std::size_t>(n);
    data += kRecordBytes;
  }
  out << ":00000001FF\r\n";
  return data;
}

// Runs the program with its output discarded; the seconds it took, or nothing when it could
// not start or did not exit with 0.
std::optional<double> TimeRun(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::nullopt;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return std::nullopt;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return seconds;
}

std::optional<double> Median(const std::vector<std::string>& args) {
  if (!TimeRun(args)) return std::nullopt;  // warm-up, and the check that it runs at all
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const std::optional<double> t = TimeRun(args);
    if (!t) return std::nullopt;
    times.push_back(*t);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cli = argc > 1 ? argv[1] : KVR_CLI;
  std::string pattern = (fs::temp_directory_path() / "kvr-convert-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = pattern;
  const fs::path hex = dir / "image.hex";
  const std::size_t bytes = WriteHexFile(hex);
  char length[16];
  std::snprintf(length, sizeof length, "%zX", bytes);
  std::printf("HEX file: %ju bytes, %zu data bytes (export 0 %s)\n",
              static_cast<std::uintmax_t>(fs::file_size(hex)), bytes, length);

  const fs::path ours = dir / "kvr.bin";
  const std::optional<double> station =
      Median({cli, "--settings", (dir / "settings.ini").string(), "--model", "VXB06H", "--load",
              hex.string(), "--export", "0", length, ours.string(), "--no-program"});
  // The same without the export: what the durable replace of the output file costs.
  const std::optional<double> loadOnly =
      Median({cli, "--settings", (dir / "settings.ini").string(), "--model", "VXB06H", "--load",
              hex.string(), "--no-program"});
  const fs::path theirs = dir / "srec.bin";
  const std::optional<double> srec =
      Median({"srec_cat", hex.string(), "-intel", "-o", theirs.string(), "-binary"});

  int status = 0;
  if (station) {
    std::printf("kvr-cli  --load --export --no-program   median of %d: %8.2f ms\n", kRuns,
                *station * 1000);
  } else {
    std::printf("kvr-cli failed to run\n");
    status = 1;
  }
  if (loadOnly)
    std::printf("kvr-cli  --load --no-program (no export) median of %d: %8.2f ms\n", kRuns,
                *loadOnly * 1000);
  if (!srec) {
    std::printf("srec_cat: not installed or failed (Debian package srecord); comparison skipped\n");
  } else {
    std::printf("srec_cat -intel -o -binary              median of %d: %8.2f ms\n", kRuns,
                *srec * 1000);
    if (station) std::printf("ratio kvr-cli / srec_cat: %.2f\n", *station / *srec);
    if (station && Contents(ours) != Contents(theirs)) {
      std::printf("the two binary files differ\n");
      status = 1;
    }
  }
  std::error_code error;
  fs::remove_all(dir, error);
  return status;
}
