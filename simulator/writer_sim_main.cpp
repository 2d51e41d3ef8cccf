// Serves the writer simulator on a pseudo-terminal until SIGINT or SIGTERM.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kvr_version.h"
#include "simulator/offline_board_server.h"
#include "simulator/pty_server.h"

namespace {

using kvr::sim::Bytes;
using kvr::sim::Fault;
using kvr::sim::TargetChip;
using kvr::sim::WriteAck;
using kvr::sim::WriterConfig;

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "Usage: kvr-writer-sim [options]\n"
    "Emulates a writer box on a pseudo-terminal; prints the device path as the first line.\n"
    "\n"
    "Writer and chip:\n"
    "  --version-byte HEX     version byte the writer reports (default 13, shown as 1.3)\n"
    "  --chip-identity HEX    identity code of the target chip (default F101)\n"
    "  --no-chip              no chip answers the identity read\n"
    "  --flash-size HEX       flash size in bytes (default 12401: addresses 0 to 12400)\n"
    "  --flash-image FILE     raw binary loaded into the flash from address 0\n"
    "  --dump-flash FILE      write the flash as raw binary to FILE when ending\n"
    "  --options HEX HEX      option registers OR0 and OR1 (default FF FF)\n"
    "  --ack KIND             write acknowledge: page-echo (default) or short\n"
    "\n"
    "Timing:\n"
    "  --latency-us N         reply latency in microseconds (default 200)\n"
    "  --erase-ms N           chip erase time in milliseconds (default 40)\n"
    "  --write-us N           write time per data chunk in microseconds (default 1000)\n"
    "  --scan-ms N            blank check scan time in milliseconds (default 30)\n"
    "  --wire-time            add the time bytes take on a 115200 8N1 line\n"
    "\n"
    "Faults (replies, writes and reads counted from 1):\n"
    "  --handshake-every N    answer only every N-th handshake (default 1)\n"
    "  --silent               never answer\n"
    "  --fault KIND           bad-check, bad-end, garbage, split or long-length\n"
    "  --fault-command HEX    fault only the replies to this command code\n"
    "  --fault-count N        fault only the first N eligible replies\n"
    "  --split-gap-ms N       gap between the two parts of a split reply (default 50)\n"
    "  --drop-nth N           do not send the N-th reply\n"
    "  --corrupt-nth N        send the N-th reply with a wrong check value\n"
    "  --lose-write-nth N     acknowledge the N-th data chunk without storing it\n"
    "  --flip-read-nth N      flip a bit in the data of the N-th read reply\n"
    "  --no-blank-result      acknowledge blank checks but never send their result\n"
    "  --dead-after N         neither do nor answer anything after N received frames\n"
    "  --late-nth N           send the N-th reply late, past the station's time-out\n"
    "  --late-ms N            how late a late reply comes, in milliseconds (default 800)\n"
    "  --duplicate-nth N      send the N-th reply twice\n"
    "  --behind-after N       after N replies, answer each request with the reply to the one\n"
    "                         before it\n"
    "  --wrong-address-nth N  answer the N-th read with the data of another address\n"
    "  --stream-after N       after N received frames, answer nothing and send text without\n"
    "                         end\n"
    "  --blank-ack-twice      send every blank check's acknowledge twice\n"
    "  --random-faults RATE   give each reply a random fault with probability RATE (0 to 1)\n"
    "  --seed S               seed of the random faults (default 1)\n"
    "\n"
    "Output:\n"
    "  --frames FILE          write every received frame to FILE, one line of hex each\n"
    "  --link PATH            also create the symlink PATH to the device, removed at exit\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

struct Options {
  WriterConfig config;
  std::size_t flashSize = TargetChip::kDefaultFlashSize;
  std::optional<std::pair<std::uint8_t, std::uint8_t>> optionRegisters;
  std::string flashImagePath;
  std::string dumpPath;
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

using Setter = std::function<bool(std::string_view)>;

// Parses a number from min to max and stores it, times scale, in `to`.
template <typename T, typename To>
Setter SetNumber(To& to, int base, T min, T max, T scale = 1) {
  return [&to, base, min, max, scale](std::string_view v) {
    const auto n = ParseNumber<T>(v, base, min, max);
    if (n) to = static_cast<To>(*n * scale);
    return n.has_value();
  };
}

std::optional<double> ParseRate(std::string_view text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(value >= 0 && value <= 1)) return std::nullopt;
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
  WriterConfig& c = o.config;
  constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
  constexpr auto kUint64Max = std::numeric_limits<std::uint64_t>::max();
  constexpr auto kIntMax = std::numeric_limits<int>::max();
  // Durations beyond an hour are typing errors, and keep the clock arithmetic far from overflow.
  constexpr std::int64_t kHourMs = 3'600'000;

  auto path = [](std::string& to) {
    return [&to](std::string_view v) {
      to = v;
      return !v.empty();
    };
  };
  struct ValueOption {
    std::string_view name;
    std::string_view expects;
    Setter set;
  };
  const ValueOption valueOptions[] = {
      {"--version-byte", "a hex byte, e.g. 13 or 0A", SetNumber(c.versionByte, 16, 0u, 0xFFu)},
      {"--chip-identity", "four hex digits, e.g. F101", SetNumber(c.chipIdentity, 16, 0u, 0xFFFFu)},
      {"--flash-size", "a hex size from 1 to 1000000",
       SetNumber(o.flashSize, 16, std::size_t{1}, TargetChip::kMaxFlashSize)},
      {"--ack", "page-echo or short",
       [&](std::string_view v) {
         if (v == "page-echo") c.writeAck = WriteAck::PageEcho;
         if (v == "short") c.writeAck = WriteAck::Short;
         return v == "page-echo" || v == "short";
       }},
      {"--latency-us", "a number of microseconds >= 0",
       SetNumber(c.latencyUs, 10, std::int64_t{0}, kInt64Max / 2)},
      {"--erase-ms", "a number of milliseconds from 0 to 3600000",
       SetNumber(c.eraseUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000})},
      {"--write-us", "a number of microseconds from 0 to 3600000000",
       SetNumber(c.writeUs, 10, std::int64_t{0}, kHourMs * 1000)},
      {"--scan-ms", "a number of milliseconds from 0 to 3600000",
       SetNumber(c.scanUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000})},
      {"--split-gap-ms", "a number of milliseconds from 0 to 3600000",
       SetNumber(c.splitGapUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000})},
      {"--handshake-every", "a number >= 1", SetNumber(c.handshakeEvery, 10, 1, kIntMax)},
      {"--fault", "bad-check, bad-end, garbage, split or long-length",
       [&](std::string_view v) {
         const auto f = ParseFault(v);
         if (f) c.fault = *f;
         return f.has_value();
       }},
      {"--fault-command", "a hex command code, e.g. 0C", SetNumber(c.faultCommand, 16, 0, 0xFF)},
      {"--fault-count", "a number >= 0", SetNumber(c.faultCount, 10, 0, kIntMax)},
      {"--drop-nth", "a number >= 1", SetNumber(c.dropNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--corrupt-nth", "a number >= 1", SetNumber(c.corruptNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--lose-write-nth", "a number >= 1",
       SetNumber(c.loseWriteNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--flip-read-nth", "a number >= 1",
       SetNumber(c.flipReadNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--dead-after", "a number >= 0", SetNumber(c.deadAfter, 10, std::uint64_t{0}, kUint64Max)},
      {"--late-nth", "a number >= 1", SetNumber(c.lateNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--late-ms", "a number of milliseconds from 0 to 3600000",
       SetNumber(c.lateUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000})},
      {"--duplicate-nth", "a number >= 1",
       SetNumber(c.duplicateNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--behind-after", "a number >= 0",
       SetNumber(c.behindAfter, 10, std::uint64_t{0}, kUint64Max)},
      {"--wrong-address-nth", "a number >= 1",
       SetNumber(c.wrongAddressNth, 10, std::uint64_t{1}, kUint64Max)},
      {"--stream-after", "a number >= 0",
       SetNumber(c.streamAfter, 10, std::uint64_t{0}, kUint64Max)},
      {"--random-faults", "a rate from 0 to 1, e.g. 0.05",
       [&](std::string_view v) {
         const auto r = ParseRate(v);
         if (r) c.randomFaultRate = *r;
         return r.has_value();
       }},
      {"--seed", "a number >= 0", SetNumber(c.seed, 10, std::uint64_t{0}, kUint64Max)},
      {"--flash-image", "a path", path(o.flashImagePath)},
      {"--dump-flash", "a path", path(o.dumpPath)},
      {"--frames", "a path", path(o.framesPath)},
      {"--link", "a path", path(o.linkPath)},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto bad = [&](std::string_view what) {
      *error = std::string(arg) + ": " + std::string(what);
      return std::nullopt;
    };
    if (arg == "--help") {
      o.help = true;
    } else if (const auto board = kvr::sim::TakeBoardOption(args, i, o.board, error);
               board != kvr::sim::BoardOption::NotABoardOption) {
      if (board == kvr::sim::BoardOption::Bad) return std::nullopt;
    } else if (arg == "--wire-time") {
      c.wireTime = true;
    } else if (arg == "--no-chip") {
      c.chipIdentity.reset();
    } else if (arg == "--silent") {
      c.fault = Fault::Silent;
    } else if (arg == "--no-blank-result") {
      c.blankResult = false;
    } else if (arg == "--blank-ack-twice") {
      c.blankAckTwice = true;
    } else if (arg == "--options") {
      if (i + 2 >= args.size()) return bad("needs two values");
      const auto or0 = ParseNumber<unsigned>(args[i + 1], 16, 0, 0xFF);
      const auto or1 = ParseNumber<unsigned>(args[i + 2], 16, 0, 0xFF);
      if (!or0 || !or1) return bad("expects two hex bytes, e.g. FF FB");
      o.optionRegisters = {static_cast<std::uint8_t>(*or0), static_cast<std::uint8_t>(*or1)};
      i += 2;
    } else {
      const auto option = std::ranges::find(valueOptions, arg, &ValueOption::name);
      if (option == std::end(valueOptions)) return bad("unknown option");
      if (i + 1 >= args.size()) return bad("needs a value");
      if (!option->set(args[++i])) return bad("expects " + std::string(option->expects));
    }
  }
  return o;
}

// The image file into the chip's flash from address 0; false with a message when it cannot be
// read or does not fit.
bool LoadFlashImage(const std::string& path, TargetChip& chip, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  // One byte more than fits is enough to know the file is too large, whatever it is.
  Bytes image(chip.FlashSize() + 1);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  image.resize(static_cast<std::size_t>(in.gcount()));
  if (!chip.Load(0, image)) {
    std::ostringstream text;
    text << path << " is larger than the flash (" << std::hex << std::uppercase << chip.FlashSize()
         << "h bytes)";
    *error = text.str();
    return false;
  }
  return true;
}

// Written beside the target and renamed over it, so a reader never sees half a dump. An empty
// flash only checks that the dump can be written there.
bool DumpFlash(const std::string& path, const Bytes* flash, std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && flash != nullptr && done < flash->size();) {
    const ssize_t n = write(fd, flash->data() + done, flash->size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
  if (fd >= 0 && close(fd) != 0 && ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (ok && flash != nullptr && rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (fd >= 0 && (!ok || flash == nullptr)) unlink(temp.c_str());
  return ok;
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
  if (kvr::PrintVersionIfAsked(argc, argv, "kvr-writer-sim")) return 0;
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

  // Found out now rather than after a whole session.
  if (!options->dumpPath.empty() && !DumpFlash(options->dumpPath, nullptr, &error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }

  kvr::sim::PtyServer server(options->config);
  bool loaded = true;
  server.Access([&](kvr::sim::WriterSimulator& simulator) {
    TargetChip& chip = simulator.Chip();
    chip.SetFlashSize(options->flashSize);
    if (options->optionRegisters) {
      chip.SetOptions(options->optionRegisters->first, options->optionRegisters->second);
    }
    if (!options->flashImagePath.empty())
      loaded = LoadFlashImage(options->flashImagePath, chip, &error);
  });
  if (!loaded) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
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
  int status = 0;
  Bytes flash;
  kvr::sim::FaultRecord injected;
  server.Access([&](kvr::sim::WriterSimulator& simulator) {
    flash = simulator.Flash();
    injected = simulator.InjectedFaults();
  });
  if (injected.Total() > 0) {
    std::cerr << "kvr-writer-sim: injected faults:";
    const char* separator = " ";
    for (std::size_t k = 0; k < kvr::sim::kFaultKinds; ++k) {
      if (injected.counts[k] == 0) continue;
      std::cerr << separator << kvr::sim::FaultName(static_cast<Fault>(k)) << ' '
                << injected.counts[k];
      separator = ", ";
    }
    std::cerr << "\n";
  }
  if (!options->dumpPath.empty()) {
    if (!DumpFlash(options->dumpPath, &flash, &error)) {
      std::cerr << "kvr-writer-sim: " << error << "\n";
      status = 1;
    }
  }
  if (const std::string failure = server.Error(); !failure.empty()) {
    std::cerr << "kvr-writer-sim: " << failure << "\n";
    return 1;
  }
  return status;
}
