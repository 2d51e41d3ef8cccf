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
  int values;  // 0 or 1
  const char* valueName;
  const char* help;
};
constexpr Passed kPassed[] = {
    {"--settings", Goes::Shared, 1, "FILE", "the settings store the stations share"},
    {"--job", Goes::Shared, 1, "FILE", "the production job every station runs"},
    {"--locked", Goes::Shared, 0, "", "the stations keep the job as it is"},
    {"--model", Goes::Shared, 1, "NAME", "a model of the device tree"},
    {"--list-model", Goes::Shared, 1, "NAME", "a model of the model list"},
    {"--language", Goes::Shared, 1, "en|zh", "the language of the messages"},
    {"--port-map", Goes::Shared, 1, "COMn=PATH", "point COMn at a device path (repeatable)"},
    {"--line-db", Goes::Shared, 1, "URL",
     "the line database the stations share (sqlite:PATH or\npostgresql://user@host:port/dbname)"},
    {"--line", Goes::Shared, 1, "NAME",
     "the line in it (default: the job's product, else \"default\")"},
    {"--yes", Goes::Shared, 0, "", "answer question boxes with Yes"},
    {"--no", Goes::Shared, 0, "", "answer them with No"},
    {"--show-extra-families", Goes::Shared, 0, "", "add the VXC and VXD families"},
    {"--load", Goes::Station, 1, "FILE", "the image every station programs"},
    {"--fill", Goes::Station, 1, "FF|00", "the byte of unused buffer bytes"},
    {"--buffer-start", Goes::Station, 1, "HEX", "where address 0 of the file lands"},
    {"--clear-buffer", Goes::Station, 0, "", "clear the buffer before the load"},
    {"--serial-enable", Goes::Station, 0, "", "stamp serial numbers"},
    {"--report", Goes::Station, 1, "FILE", "the line's production report"},
    {"--report-format", Goes::Station, 1, "csv|jsonl", "the report's format"},
    {"--count", Goes::Station, 1, "N", "chips of each writer (without it: until stopped)"},
    {"--delay", Goes::Station, 1, "S", "seconds between two chips, 0 to 60"},
    {"--auto-sequence", Goes::Once, 1, "\"A,B,...\"", "the automatic sequence"},
    {"--serial-address", Goes::Once, 1, "HEX", "the serial number's highest address"},
    {"--serial-bytes", Goes::Once, 1, "N", "its length in bytes"},
    {"--serial-next", Goes::Once, 1, "N", "the next number"},
    {"--serial-step", Goes::Once, 1, "N", "the step after each good device"},
    {"--serial-mode", Goes::Once, 1, "hex|dec|ascii", "its encoding"},
    {"--clear-ok-count", Goes::Once, 0, "", "clear the good-device count (answer with --yes)"},
};

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

CommandLine GangCommandLine(GangOptions& options) {
  CommandLine line(
      "kvr-gang",
      "Runs one station (kvr-cli) per writer, each programming chip after chip with the\n"
      "automatic sequence, and supervises them: a live table on a terminal, otherwise\n"
      "one line per finished chip; a summary at the end.",
      "kvr-gang (--ports COM1,COM2,...|--simulate N) [options]");
  GangOptions& o = options;
  line.Group("Writers");
  line.Option("--ports", "LIST", "the writers' ports: COMn entries or device paths, by commas",
              [&o](const std::string& text) {
                o.ports.clear();
                for (const std::string& port : Split(text, ',')) {
                  if (port.empty())
                    return "--ports wants COMn or device paths separated by commas, not \"" + text +
                           "\"";
                  if (std::find(o.ports.begin(), o.ports.end(), port) != o.ports.end())
                    return "--ports names " + port + " twice: one station per writer";
                  o.ports.push_back(port);
                }
                if (o.ports.size() > static_cast<std::size_t>(kMostWriters))
                  return std::string("--ports names more than 32 writers");
                return std::string();
              });
  line.Option("--simulate", "N", "N simulated writers (kvr-writer-sim) on pseudo-terminals",
              [&o](const std::string& text) {
                const auto number = WholeNumber(text, 1, kMostWriters);
                if (!number)
                  return "--simulate wants a number of writers from 1 to 32, not \"" + text + "\"";
                o.simulate = *number;
                return std::string();
              });
  line.Option("--sim-options", "[N:]OPTIONS",
              "kvr-writer-sim options for every simulated writer, or for\n"
              "writer N only, e.g. \"--wire-time\" or \"2:--random-faults 0.05\"",
              [&o](const std::string& text) {
                o.simOptionTexts.push_back(text);
                return std::string();
              });
  line.Repeatable("--sim-options");
  line.TakesOptions("--sim-options");

  std::string group;
  for (const Passed& passed : kPassed) {
    const char* heading = passed.goes == Goes::Once
                              ? "Set once in the shared settings before the line starts"
                              : "Every station (as kvr-cli takes them)";
    if (group != heading) line.Group(group = heading);
    std::vector<std::string>& into = passed.goes == Goes::Shared    ? o.sharedArgs
                                     : passed.goes == Goes::Station ? o.stationArgs
                                                                    : o.onceArgs;
    const std::string name = passed.name;
    if (passed.values == 0)
      line.Flag(name, passed.help, [&into, name] { into.push_back(name); });
    else
      line.Option(name, passed.valueName, passed.help, [&into, name](const std::string& value) {
        into.insert(into.end(), {name, value});
        return std::string();
      });
  }
  line.Repeatable("--port-map");
  line.Excludes("--yes", "--no");

  line.Group("Supervision");
  line.Option("--hang-after", "S", "a station silent for S seconds is hung and stopped (30)",
              [&o](const std::string& text) {
                const auto number = WholeNumber(text, 1, 3600);
                if (!number)
                  return "--hang-after wants whole seconds from 1 to 3600, not \"" + text + "\"";
                o.hangAfterSeconds = *number;
                return std::string();
              });
  line.Option("--log-dir", "DIR",
              "keep each station's message log and each simulator's\nerrors in DIR", o.logDir);
  line.Option("--cli", "PATH", "the station program (default: kvr-cli beside kvr-gang)", o.cli);
  line.Option("--writer-sim", "PATH", "the simulator (default: kvr-writer-sim beside kvr-gang)",
              o.writerSim);
  line.VerbosityOptions(o.verbosity, "print only each writer's end and the summary",
                        "the stations' lines per exchange with their writers on\nstandard error");
  line.Footer(
      "A writer whose port is lost, that does not answer three runs in a row or whose\n"
      "station hangs or ends leaves the line; the others carry on. SIGINT or SIGTERM stops\n"
      "every station as the Stop button does.\n"
      "Exit status: 0 when every writer finished and every chip was good; 1 otherwise;\n"
      "2 for bad options.");
  return line;
}

CommandLine::Result ParseGangOptions(CommandLine& line, const std::vector<std::string>& args,
                                     GangOptions& options) {
  CommandLine::Result result = line.Parse(args);
  std::vector<std::string>& errors = line.Errors();
  const bool asked = result == CommandLine::Result::Help || result == CommandLine::Result::Version;
  if (line.Given("--ports") == (options.simulate > 0) && errors.empty() && !asked)
    errors.push_back("name the writers with either --ports or --simulate N");
  for (const std::string& text : options.simOptionTexts) {
    // "N:OPTIONS" for writer N alone, "OPTIONS" for every one.
    int writer = 0;
    std::string rest = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos && colon > 0 &&
        std::all_of(text.begin(), text.begin() + static_cast<long>(colon),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      const auto number = WholeNumber(text.substr(0, colon), 1, std::max(options.simulate, 1));
      if (!number) {
        errors.push_back("--sim-options names writer " + text.substr(0, colon) +
                         ", but there are " + std::to_string(options.simulate));
        continue;
      }
      writer = *number;
      rest = text.substr(colon + 1);
    }
    if (options.simulate == 0) {
      errors.push_back("--sim-options belongs to --simulate N");
      break;
    }
    std::vector<std::string> words;
    for (std::string& word : Split(rest, ' '))
      if (!word.empty()) words.push_back(std::move(word));
    options.simOptions.emplace_back(writer, std::move(words));
  }
  if (line.Given("--locked") && !line.Given("--job")) errors.push_back("--locked belongs to --job");
  // Every station applies the job's sequence and numbering over the shared settings: set once,
  // these would be the set-up run's alone.
  if (line.Given("--job"))
    for (const char* name : {"--auto-sequence", "--serial-address", "--serial-bytes",
                             "--serial-step", "--serial-mode"})
      if (line.Given(name))
        errors.push_back("--job sets the automatic sequence and the serial numbers: " +
                         std::string(name) + " is refused with it (change the job)");
  // The stations tell their exchanges when the line is asked to.
  if (options.verbosity == Verbosity::Verbose) options.sharedArgs.push_back("--verbose");
  options.errors = errors;
  if (result == CommandLine::Result::Run && !errors.empty()) result = CommandLine::Result::Bad;
  return result;
}

GangOptions ParseGangOptions(const std::vector<std::string>& args) {
  GangOptions options;
  CommandLine line = GangCommandLine(options);
  ParseGangOptions(line, args, options);
  return options;
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
  // A job decides whether numbers are stamped.
  const bool job = std::find(args.begin(), args.end(), "--job") != args.end();
  if (serialFields && !enabled && !job) args.push_back("--serial-enable");
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
