#include "simulator/writer_sim_options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <string_view>
#include <vector>

namespace kvr::sim {

namespace {

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

}  // namespace

CommandLine WriterSimCommandLine(WriterSimOptions& o) {
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
  CommandLine line("kvr-writer-sim",
                   "Emulates a writer box on a pseudo-terminal; prints the device path as "
                   "the first line.");
  // Each value's rule, and what the message says it expects.
  auto value = [&line](const char* name, const char* valueName, const char* help,
                       std::string expects, Setter set) {
    line.Option(name, valueName, help, [name, expects, set](const std::string& v) {
      return set(v) ? std::string() : std::string(name) + ": expects " + expects;
    });
  };

  line.Group("Writer and chip");
  value("--version-byte", "HEX", "version byte the writer reports (default 13, shown as 1.3)",
        "a hex byte, e.g. 13 or 0A", SetNumber(c.versionByte, 16, 0u, 0xFFu));
  value("--chip-identity", "HEX", "identity code of the target chip (default F101)",
        "four hex digits, e.g. F101", SetNumber(c.chipIdentity, 16, 0u, 0xFFFFu));
  line.Flag("--no-chip", "no chip answers the identity read", [&c] { c.chipIdentity.reset(); });
  value("--flash-size", "HEX", "flash size in bytes (default 12401: addresses 0 to 12400)",
        "a hex size from 1 to 1000000",
        SetNumber(o.flashSize, 16, std::size_t{1}, TargetChip::kMaxFlashSize));
  value("--flash-image", "FILE", "raw binary loaded into the flash from address 0", "a path",
        path(o.flashImagePath));
  value("--dump-flash", "FILE", "write the flash as raw binary to FILE when ending", "a path",
        path(o.dumpPath));
  line.Option(
      "--options", 2, "HEX HEX", "option registers OR0 and OR1 (default FF FF)",
      [&o](const std::vector<std::string>& values) {
        const auto or0 = ParseNumber<unsigned>(values[0], 16, 0, 0xFF);
        const auto or1 = ParseNumber<unsigned>(values[1], 16, 0, 0xFF);
        if (!or0 || !or1) return std::string("--options: expects two hex bytes, e.g. FF FB");
        o.optionRegisters = {static_cast<std::uint8_t>(*or0), static_cast<std::uint8_t>(*or1)};
        return std::string();
      });
  value("--ack", "KIND", "write acknowledge: page-echo (default) or short", "page-echo or short",
        [&c](std::string_view v) {
          if (v == "page-echo") c.writeAck = WriteAck::PageEcho;
          if (v == "short") c.writeAck = WriteAck::Short;
          return v == "page-echo" || v == "short";
        });

  line.Group("Timing");
  value("--latency-us", "N", "reply latency in microseconds (default 200)",
        "a number of microseconds >= 0",
        SetNumber(c.latencyUs, 10, std::int64_t{0}, kInt64Max / 2));
  value("--erase-ms", "N", "chip erase time in milliseconds (default 40)",
        "a number of milliseconds from 0 to 3600000",
        SetNumber(c.eraseUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000}));
  value("--write-us", "N", "write time per data chunk in microseconds (default 1000)",
        "a number of microseconds from 0 to 3600000000",
        SetNumber(c.writeUs, 10, std::int64_t{0}, kHourMs * 1000));
  value("--scan-ms", "N", "blank check scan time in milliseconds (default 30)",
        "a number of milliseconds from 0 to 3600000",
        SetNumber(c.scanUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000}));
  line.Flag("--wire-time", "add the time bytes take on a 115200 8N1 line",
            [&c] { c.wireTime = true; });

  line.Group("Faults (replies, writes and reads counted from 1)");
  value("--handshake-every", "N", "answer only every N-th handshake (default 1)", "a number >= 1",
        SetNumber(c.handshakeEvery, 10, 1, kIntMax));
  line.Flag("--silent", "never answer", [&c] { c.fault = Fault::Silent; });
  value("--fault", "KIND", "bad-check, bad-end, garbage, split or long-length",
        "bad-check, bad-end, garbage, split or long-length", [&c](std::string_view v) {
          const auto f = ParseFault(v);
          if (f) c.fault = *f;
          return f.has_value();
        });
  value("--fault-command", "HEX", "fault only the replies to this command code",
        "a hex command code, e.g. 0C", SetNumber(c.faultCommand, 16, 0, 0xFF));
  value("--fault-count", "N", "fault only the first N eligible replies", "a number >= 0",
        SetNumber(c.faultCount, 10, 0, kIntMax));
  value("--split-gap-ms", "N", "gap between the two parts of a split reply (default 50)",
        "a number of milliseconds from 0 to 3600000",
        SetNumber(c.splitGapUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000}));
  value("--drop-nth", "N", "do not send the N-th reply", "a number >= 1",
        SetNumber(c.dropNth, 10, std::uint64_t{1}, kUint64Max));
  value("--corrupt-nth", "N", "send the N-th reply with a wrong check value", "a number >= 1",
        SetNumber(c.corruptNth, 10, std::uint64_t{1}, kUint64Max));
  value("--lose-write-nth", "N", "acknowledge the N-th data chunk without storing it",
        "a number >= 1", SetNumber(c.loseWriteNth, 10, std::uint64_t{1}, kUint64Max));
  value("--flip-read-nth", "N", "flip a bit in the data of the N-th read reply", "a number >= 1",
        SetNumber(c.flipReadNth, 10, std::uint64_t{1}, kUint64Max));
  line.Flag("--no-blank-result", "acknowledge blank checks but never send their result",
            [&c] { c.blankResult = false; });
  value("--dead-after", "N", "neither do nor answer anything after N received frames",
        "a number >= 0", SetNumber(c.deadAfter, 10, std::uint64_t{0}, kUint64Max));
  value("--late-nth", "N", "send the N-th reply late, past the station's time-out", "a number >= 1",
        SetNumber(c.lateNth, 10, std::uint64_t{1}, kUint64Max));
  value("--late-ms", "N", "how late a late reply comes, in milliseconds (default 800)",
        "a number of milliseconds from 0 to 3600000",
        SetNumber(c.lateUs, 10, std::int64_t{0}, kHourMs, std::int64_t{1000}));
  value("--duplicate-nth", "N", "send the N-th reply twice", "a number >= 1",
        SetNumber(c.duplicateNth, 10, std::uint64_t{1}, kUint64Max));
  value("--behind-after", "N",
        "after N replies, answer each request with the reply to the one before it", "a number >= 0",
        SetNumber(c.behindAfter, 10, std::uint64_t{0}, kUint64Max));
  value("--wrong-address-nth", "N", "answer the N-th read with the data of another address",
        "a number >= 1", SetNumber(c.wrongAddressNth, 10, std::uint64_t{1}, kUint64Max));
  value("--stream-after", "N", "after N received frames, answer nothing and send text without end",
        "a number >= 0", SetNumber(c.streamAfter, 10, std::uint64_t{0}, kUint64Max));
  line.Flag("--blank-ack-twice", "send every blank check's acknowledge twice",
            [&c] { c.blankAckTwice = true; });
  value("--random-faults", "RATE", "give each reply a random fault with probability RATE (0 to 1)",
        "a rate from 0 to 1, e.g. 0.05", [&c](std::string_view v) {
          const auto r = ParseRate(v);
          if (r) c.randomFaultRate = *r;
          return r.has_value();
        });
  value("--seed", "S", "seed of the random faults (default 1)", "a number >= 0",
        SetNumber(c.seed, 10, std::uint64_t{0}, kUint64Max));

  line.Group("Offline board (every --board-... option implies --board)");
  line.Flag("--board", "serve the offline programming board instead of the writer",
            [&o] { o.board.enabled = true; });
  for (const BoardOptionName& board : kBoardOptions)
    line.Option(board.name, board.valueName, board.help,
                [&o, name = std::string(board.name)](const std::string& v) {
                  return SetBoardOption(name, v, o.board);
                });

  line.Group("Output");
  value("--frames", "FILE", "write every received frame to FILE, one line of hex each", "a path",
        path(o.framesPath));
  value("--link", "PATH", "also create the symlink PATH to the device, removed at exit", "a path",
        path(o.linkPath));
  line.VerbosityOptions(o.verbosity, "leave out the report of the injected faults",
                        "a line per received frame on standard error");
  line.Footer(
      "Exit status: 0 after SIGINT or SIGTERM; 1 when the terminal, a file or the dump\n"
      "failed; 2 for bad options.");
  return line;
}

}  // namespace kvr::sim
