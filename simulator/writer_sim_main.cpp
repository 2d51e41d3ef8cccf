// Serves the writer simulator on a pseudo-terminal until SIGINT or SIGTERM.

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simulator/offline_board_server.h"
#include "simulator/pty_server.h"

namespace {

using kvr::sim::Fault;
using kvr::sim::WriterConfig;

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "Usage: kvr-writer-sim [options]\n"
    "Emulates a writer box on a pseudo-terminal; prints the device path as the first line.\n"
    "\n"
    "  --version-byte HEX     version byte the writer reports (default 13, shown as 1.3)\n"
    "  --chip-identity HEX    identity code of the target chip (default F101)\n"
    "  --no-chip              no chip answers the identity read\n"
    "  --latency-us N         reply latency in microseconds (default 200)\n"
    "  --wire-time            add the time bytes take on a 115200 8N1 line\n"
    "  --handshake-every N    answer only every N-th handshake (default 1)\n"
    "  --silent               never answer\n"
    "  --fault KIND           bad-check, bad-end, garbage, split or long-length\n"
    "  --fault-command HEX    fault only the replies to this command code\n"
    "  --fault-count N        fault only the first N eligible replies\n"
    "  --split-gap-ms N       gap between the two parts of a split reply (default 50)\n"
    "  --frames FILE          write every received frame to FILE, one line of hex each\n"
    "  --link PATH            also create the symlink PATH to the device, removed at exit\n"
    "  --help                 show this text\n";

struct Options {
  WriterConfig config;
  kvr::sim::BoardServeOptions board;
  std::string framesPath;
  std::string linkPath;
  bool help = false;
};

template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base, T min, T max) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<Fault> ParseFault(std::string_view text) {
  if (text == "bad-check") return Fault::BadCheck;
  if (text == "bad-end") return Fault::BadEnd;
  if (text == "garbage") return Fault::Garbage;
  if (text == "split") return Fault::Split;
  if (text == "long-length") return Fault::LongLength;
  return std::nullopt;
}

// Options, or a message saying what is wrong with them.
std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string* error) {
  Options o;
  constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto bad = [&](std::string_view what) {
      *error = std::string(arg) + ": " + std::string(what);
      return std::nullopt;
    };
    if (arg == "--help") {
      o.help = true;
      continue;
    }
    if (const auto board = kvr::sim::TakeBoardOption(args, i, o.board, error);
        board != kvr::sim::BoardOption::NotABoardOption) {
      if (board == kvr::sim::BoardOption::Bad) return std::nullopt;
      continue;
    }
    if (arg == "--wire-time") {
      o.config.wireTime = true;
      continue;
    }
    if (arg == "--no-chip") {
      o.config.chipIdentity.reset();
      continue;
    }
    if (arg == "--silent") {
      o.config.fault = Fault::Silent;
      continue;
    }
    const bool takesValue =
        arg == "--version-byte" || arg == "--chip-identity" || arg == "--latency-us" ||
        arg == "--handshake-every" || arg == "--fault" || arg == "--fault-command" ||
        arg == "--fault-count" || arg == "--split-gap-ms" || arg == "--frames" || arg == "--link";
    if (!takesValue) return bad("unknown option");
    if (i + 1 >= args.size()) return bad("needs a value");
    const std::string_view value = args[++i];

    if (arg == "--version-byte") {
      const auto v = ParseNumber<unsigned>(value, 16, 0, 0xFF);
      if (!v) return bad("expects a hex byte, e.g. 13 or 0A");
      o.config.versionByte = static_cast<std::uint8_t>(*v);
    } else if (arg == "--chip-identity") {
      const auto v = ParseNumber<unsigned>(value, 16, 0, 0xFFFF);
      if (!v) return bad("expects four hex digits, e.g. F101");
      o.config.chipIdentity = static_cast<std::uint16_t>(*v);
    } else if (arg == "--latency-us") {
      const auto v = ParseNumber<std::int64_t>(value, 10, 0, kInt64Max / 2);
      if (!v) return bad("expects a number of microseconds >= 0");
      o.config.latencyUs = *v;
    } else if (arg == "--handshake-every") {
      const auto v = ParseNumber<int>(value, 10, 1, std::numeric_limits<int>::max());
      if (!v) return bad("expects a number >= 1");
      o.config.handshakeEvery = *v;
    } else if (arg == "--fault") {
      const auto v = ParseFault(value);
      if (!v) return bad("expects bad-check, bad-end, garbage, split or long-length");
      o.config.fault = *v;
    } else if (arg == "--fault-command") {
      const auto v = ParseNumber<int>(value, 16, 0, 0xFF);
      if (!v) return bad("expects a hex command code, e.g. 0C");
      o.config.faultCommand = *v;
    } else if (arg == "--fault-count") {
      const auto v = ParseNumber<int>(value, 10, 0, std::numeric_limits<int>::max());
      if (!v) return bad("expects a number >= 0");
      o.config.faultCount = *v;
    } else if (arg == "--split-gap-ms") {
      const auto v = ParseNumber<std::int64_t>(value, 10, 0, 3'600'000);
      if (!v) return bad("expects a number of milliseconds from 0 to 3600000");
      o.config.splitGapUs = *v * 1000;
    } else if (value.empty()) {
      return bad("expects a path");
    } else if (arg == "--frames") {
      o.framesPath = value;
    } else {
      o.linkPath = value;
    }
  }
  return o;
}

// Replaces a stale symlink from an earlier run, never anything else.
bool CreateLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = link + " exists and is not a symlink";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = "cannot create " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  std::vector<char> buffer(target.size() + 2);
  const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
  // Only our own link: another run may have taken the name over.
  if (n >= 0 && std::string_view(buffer.data(), static_cast<std::size_t>(n)) == target) {
    unlink(link.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = ParseOptions(std::vector<std::string_view>(argv + 1, argv + argc), &error);
  if (!options) {
    std::cerr << "kvr-writer-sim: " << error << "\nTry kvr-writer-sim --help\n";
    return kUsageError;
  }
  if (options->help) {
    std::cout << kUsage << kvr::sim::kBoardUsage;
    return 0;
  }

  // Blocked before any thread exists, so only the waiter below ever takes these signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::ofstream frames;
  if (!options->framesPath.empty()) {
    frames.open(options->framesPath, std::ios::out | std::ios::trunc);
    if (!frames) {
      std::cerr << "kvr-writer-sim: cannot write " << options->framesPath << "\n";
      return 1;
    }
  }

  kvr::sim::PtyServer server(options->config);
  if (!server.Open(&error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
  if (!options->linkPath.empty() && !CreateLink(options->linkPath, server.DevicePath(), &error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
  if (frames.is_open()) server.SetFrameLog(&frames);
  std::shared_ptr<kvr::sim::OfflineBoard> board;
  if (options->board.enabled)
    board = kvr::sim::ServeOfflineBoard(server, options->board, options->config,
                                        frames.is_open() ? &frames : nullptr);
  std::cout << server.DevicePath() << std::endl;

  std::atomic<bool> signalled = false;
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    signalled = true;
    server.Stop();
  });
  server.Serve();
  // Serve() may also end on a failing pseudo-terminal: wake the waiter then.
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();

  if (!options->linkPath.empty()) RemoveLink(options->linkPath, server.DevicePath());
  if (const std::string failure = server.Error(); !failure.empty()) {
    std::cerr << "kvr-writer-sim: " << failure << "\n";
    return 1;
  }
  return 0;
}
