#include "gang/gang_options.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace kvr::gang {

namespace {

// kvr-cli's options a line takes, where they go and the number of values each carries.
enum class Goes { Shared, Station, Once };
struct Passed {
  const char* name;
  Goes goes;
  int values;
};
constexpr Passed kPassed[] = {
    {"--settings", Goes::Shared, 1},
    {"--model", Goes::Shared, 1},
    {"--list-model", Goes::Shared, 1},
    {"--language", Goes::Shared, 1},
    {"--port-map", Goes::Shared, 1},
    {"--yes", Goes::Shared, 0},
    {"--no", Goes::Shared, 0},
    {"--show-extra-families", Goes::Shared, 0},
    {"--load", Goes::Station, 1},
    {"--fill", Goes::Station, 1},
    {"--buffer-start", Goes::Station, 1},
    {"--clear-buffer", Goes::Station, 0},
    {"--serial-enable", Goes::Station, 0},
    {"--report", Goes::Station, 1},
    {"--report-format", Goes::Station, 1},
    {"--count", Goes::Station, 1},
    {"--delay", Goes::Station, 1},
    {"--auto-sequence", Goes::Once, 1},
    {"--serial-address", Goes::Once, 1},
    {"--serial-bytes", Goes::Once, 1},
    {"--serial-next", Goes::Once, 1},
    {"--serial-step", Goes::Once, 1},
    {"--serial-mode", Goes::Once, 1},
    {"--clear-ok-count", Goes::Once, 0},
};

const Passed* FindPassed(const std::string& name) {
  for (const Passed& entry : kPassed)
    if (name == entry.name) return &entry;
  return nullptr;
}

std::optional<int> WholeNumber(const std::string& text, int min, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : text + separator) {
    if (c != separator) {
      part += c;
      continue;
    }
    const auto first = part.find_first_not_of(' ');
    parts.push_back(first == std::string::npos
                        ? std::string()
                        : part.substr(first, part.find_last_not_of(' ') - first + 1));
    part.clear();
  }
  return parts;
}

constexpr int kMostWriters = 32;

}  // namespace

GangOptions ParseGangOptions(const std::vector<std::string>& args) {
  GangOptions options;
  bool portsGiven = false;
  std::vector<std::string> simOptionTexts;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 < args.size()) return args[++i];
      options.errors.push_back("option " + arg + " needs a value");
      return std::nullopt;
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--ports") {
      const auto text = value();
      if (!text) continue;
      portsGiven = true;
      for (const std::string& port : Split(*text, ',')) {
        if (port.empty()) {
          options.errors.push_back(
              "--ports wants COMn or device paths separated by commas, not \"" + *text + "\"");
          break;
        }
        if (std::find(options.ports.begin(), options.ports.end(), port) != options.ports.end())
          options.errors.push_back("--ports names " + port + " twice: one station per writer");
        options.ports.push_back(port);
      }
    } else if (arg == "--simulate" || arg == "--hang-after") {
      const auto text = value();
      if (!text) continue;
      const bool simulate = arg == "--simulate";
      const auto number = WholeNumber(*text, 1, simulate ? kMostWriters : 3600);
      if (!number)
        options.errors.push_back(arg +
                                 (simulate ? " wants a number of writers from 1 to 32"
                                           : " wants whole seconds from 1 to 3600") +
                                 ", not \"" + *text + "\"");
      else
        (simulate ? options.simulate : options.hangAfterSeconds) = *number;
    } else if (arg == "--sim-options") {
      if (const auto text = value()) simOptionTexts.push_back(*text);
    } else if (arg == "--log-dir") {
      if (const auto text = value()) options.logDir = *text;
    } else if (arg == "--cli") {
      if (const auto text = value()) options.cli = *text;
    } else if (arg == "--writer-sim") {
      if (const auto text = value()) options.writerSim = *text;
    } else if (const Passed* passed = FindPassed(arg)) {
      std::vector<std::string>& into = passed->goes == Goes::Shared    ? options.sharedArgs
                                       : passed->goes == Goes::Station ? options.stationArgs
                                                                       : options.onceArgs;
      into.push_back(arg);
      if (passed->values == 1)
        if (const auto text = value()) into.push_back(*text);
    } else {
      options.errors.push_back("unknown option \"" + arg + "\" (see --help)");
    }
  }
  if (portsGiven == (options.simulate > 0) && !options.help)
    options.errors.push_back("name the writers with either --ports or --simulate N");
  if (options.ports.size() > static_cast<std::size_t>(kMostWriters))
    options.errors.push_back("--ports names more than 32 writers");
  for (const std::string& text : simOptionTexts) {
    // "N:OPTIONS" for writer N alone, "OPTIONS" for every one.
    int writer = 0;
    std::string rest = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos && colon > 0 &&
        std::all_of(text.begin(), text.begin() + static_cast<long>(colon),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      const auto number = WholeNumber(text.substr(0, colon), 1, std::max(options.simulate, 1));
      if (!number) {
        options.errors.push_back("--sim-options names writer " + text.substr(0, colon) +
                                 ", but there are " + std::to_string(options.simulate));
        continue;
      }
      writer = *number;
      rest = text.substr(colon + 1);
    }
    if (options.simulate == 0) {
      options.errors.push_back("--sim-options belongs to --simulate N");
      break;
    }
    std::vector<std::string> words;
    for (std::string& word : Split(rest, ' '))
      if (!word.empty()) words.push_back(std::move(word));
    options.simOptions.emplace_back(writer, std::move(words));
  }
  return options;
}

std::string GangHelp() {
  return "Usage: kvr-gang (--ports COM1,COM2,...|--simulate N) [options]\n"
         "Runs one station (kvr-cli) per writer, each programming chip after chip with the\n"
         "automatic sequence, and supervises them: a live table on a terminal, otherwise one\n"
         "line per finished chip; a summary at the end.\n"
         "Writers:\n"
         "  --ports LIST           the writers' ports: COMn entries or device paths, by commas\n"
         "  --simulate N           N simulated writers (kvr-writer-sim) on pseudo-terminals\n"
         "  --sim-options [N:]OPTS kvr-writer-sim options for every simulated writer, or for\n"
         "                         writer N only, e.g. \"--wire-time\" or \"2:--random-faults "
         "0.05\"\n"
         "Every station (as kvr-cli takes them):\n"
         "  --settings FILE  --model NAME  --list-model NAME  --show-extra-families\n"
         "  --language en|zh  --port-map COMn=PATH  --yes|--no  --load FILE  --fill FF|00\n"
         "  --buffer-start HEX  --clear-buffer  --serial-enable  --report FILE\n"
         "  --report-format csv|jsonl  --count N (chips of each writer)  --delay S\n"
         "Set once in the shared settings before the line starts:\n"
         "  --auto-sequence \"A,B\"  --serial-address HEX  --serial-bytes N  --serial-next N\n"
         "  --serial-step N  --serial-mode hex|dec|ascii  --clear-ok-count\n"
         "Supervision:\n"
         "  --hang-after S         a station silent for S seconds is hung and stopped (30)\n"
         "  --log-dir DIR          keep each station's message log and each simulator's\n"
         "                         errors in DIR\n"
         "  --cli PATH             the station program (default: kvr-cli beside kvr-gang)\n"
         "  --writer-sim PATH      the simulator (default: kvr-writer-sim beside kvr-gang)\n"
         "  --help                 this text\n"
         "  --version              the program's version\n"
         "A writer whose port is lost, that does not answer three runs in a row or whose\n"
         "station hangs or ends leaves the line; the others carry on. SIGINT or SIGTERM stops\n"
         "every station as the Stop button does.\n"
         "Exit status: 0 when every writer finished and every chip was good; 1 otherwise;\n"
         "2 for bad options.\n";
}

std::vector<std::string> SetUpArguments(const GangOptions& options) {
  std::vector<std::string> args = options.sharedArgs;
  args.insert(args.end(), options.stationArgs.begin(), options.stationArgs.end());
  args.insert(args.end(), options.onceArgs.begin(), options.onceArgs.end());
  // The serial-number fields are stored when the stamp is switched on and they are valid.
  const bool serialFields =
      std::any_of(options.onceArgs.begin(), options.onceArgs.end(),
                  [](const std::string& arg) { return arg.rfind("--serial-", 0) == 0; });
  const bool enabled = std::find(args.begin(), args.end(), "--serial-enable") != args.end();
  if (serialFields && !enabled) args.push_back("--serial-enable");
  args.push_back("--no-program");
  return args;
}

std::vector<std::string> StationArguments(const GangOptions& options, const std::string& port,
                                          int statusFd) {
  std::vector<std::string> args = options.sharedArgs;
  args.insert(args.end(), options.stationArgs.begin(), options.stationArgs.end());
  const std::vector<std::string> own = {"--port",
                                        port,
                                        "--function",
                                        "Auto Program",
                                        "--repeat",
                                        "--status-fd",
                                        std::to_string(statusFd)};
  args.insert(args.end(), own.begin(), own.end());
  return args;
}

std::vector<std::string> SimulatorArguments(const GangOptions& options, int number) {
  std::vector<std::string> args;
  for (const auto& [writer, words] : options.simOptions)
    if (writer == 0 || writer == number) args.insert(args.end(), words.begin(), words.end());
  return args;
}

}  // namespace kvr::gang
