#include "app/start_options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <ostream>

#include "app/station.h"
#include "command_line/exchange_line.h"
#include "image/hex_field.h"
#include "ispdemo/isp_demo_builder.h"
#include "simulator/pty_server.h"

namespace kvr {

namespace {

// A whole decimal number from `min` to `max`, or nothing.
std::optional<long long> WholeNumber(const std::string& text, long long min, long long max) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::vector<std::string> SplitSteps(const std::string& text) {
  std::vector<std::string> steps;
  std::string step;
  for (const char c : text + ",") {
    if (c != ',') {
      step += c;
      continue;
    }
    const auto first = step.find_first_not_of(' ');
    if (first != std::string::npos)
      steps.push_back(step.substr(first, step.find_last_not_of(' ') - first + 1));
    step.clear();
  }
  return steps;
}

bool IsHexNumber(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

}  // namespace

namespace {

// The message of a value that fits no choice.
std::string Wants(const std::string& option, const std::string& what, const std::string& text) {
  return option + " wants " + what + ", not \"" + text + "\"";
}

// Sets `into` to the index of `text` among `choices`.
CommandLine::Take Choice(const std::string& option, std::vector<std::string> choices,
                         std::optional<int>& into) {
  return [option, choices = std::move(choices), &into](const std::string& text) {
    for (std::size_t i = 0; i < choices.size(); ++i)
      if (text == choices[i]) {
        into = static_cast<int>(i);
        return std::string();
      }
    std::string names;
    for (std::size_t i = 0; i < choices.size(); ++i)
      names += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
    return Wants(option, names, text);
  };
}

CommandLine::Take Text(std::optional<std::string>& into) {
  return [&into](const std::string& text) {
    into = text;
    return std::string();
  };
}

// START LENGTH FILE of the store command; an empty field would leave the command disabled and
// the run silent.
CommandLine::TakeAll Range(const std::string& option,
                           std::optional<StartOptions::ExportRange>& into) {
  return [option, &into](const std::vector<std::string>& values) {
    StartOptions::ExportRange range{values[0], values[1], values[2]};
    if (!IsHexNumber(range.start) || !IsHexNumber(range.length))
      return option + " wants hexadecimal START and LENGTH, not \"" + range.start + "\" and \"" +
             range.length + "\"";
    if (range.file.empty()) return option + " wants a FILE to store into";
    into = std::move(range);
    return std::string();
  };
}

CommandLine::Take Number(const std::string& option, const std::string& what, long long min,
                         long long max, std::function<void(long long)> set) {
  return [=](const std::string& text) {
    const auto number = WholeNumber(text, min, max);
    if (!number) return Wants(option, what, text);
    set(*number);
    return std::string();
  };
}

}  // namespace

void AddStartOptions(CommandLine& line, StartOptions& options, Program program) {
  StartOptions& o = options;
  if (program == Program::CommandLine) {
    line.Group("The run");
    line.Option("--port", "COMn|PATH", "the writer's port (default: the stored choice, else COM1)",
                o.port);
    line.Option("--function", "NAME", "the function-list entry to run (default \"Auto Program\")",
                o.function);
    line.Flag("--yes", "answer question boxes with Yes", [&o] { o.answer = true; });
    line.Flag("--no", "answer them with No (without --yes or --no: the preselected No)",
              [&o] { o.answer = false; });
    line.Excludes("--yes", "--no");
    line.Option("--log-out", "FILE", "write the message log as it stands at the end to FILE",
                o.logOut);
    line.Option("--model", "NAME", "choose NAME in the device tree (e.g. VXA01H, VXB03L)",
                o.treeModel);
    line.Option("--list-model", "NAME", "choose NAME from the model list (e.g. VXA06H, VXE02L)",
                o.listModel);
    line.Flag("--show-extra-families", "add the VXC and VXD families to the device tree",
              o.showExtraFamilies);

    line.Group("Image and files");
    line.Option("--buffer-start", "HEX", "where address 0 of a file lands in the buffer",
                o.bufferStart);
    line.Flag("--clear-buffer", "clear the buffer before every load", o.clearBuffer);
    line.Option("--fill", "FF|00", "the byte that stands for unused buffer bytes",
                [&o](const std::string& text) {
                  if (text != "FF" && text != "ff" && text != "00")
                    return Wants("--fill", "FF or 00", text);
                  o.fill = text == "00" ? 1 : 0;
                  return std::string();
                });
    line.Option("--load", "FILE", "open FILE (Intel HEX or binary) as the Open file command does",
                o.load);
    line.Option("--export", 3, "START LENGTH FILE",
                "store buffer bytes START.. (hex, LENGTH hex) in FILE",
                Range("--export", o.exportRange));
    line.Flag("--view", "print the buffer view", o.view);
    line.Flag("--no-program", "do the file work only; do not press Program",
              [&o] { o.program = false; });
    line.Option("--save-after", 3, "START LENGTH FILE",
                "after a successful run, store buffer bytes as --export does\n"
                "(e.g. what \"Read EEPROM\" read)",
                Range("--save-after", o.saveAfter));
    line.Excludes("--no-program", "--save-after");

    line.Group("Serial numbers");
    line.Option("--serial-address", "HEX", "the serial number's highest address",
                Text(o.serialAddress));
    line.Option("--serial-bytes", "N", "its length in bytes", Text(o.serialBytes));
    line.Option("--serial-next", "N", "the next number, decimal (stored)", Text(o.serialNext));
    line.Option("--serial-step", "N", "the step from one chip's number to the next (1 or more)",
                Text(o.serialStep));
    line.Option("--serial-mode", "hex|dec|ascii", "its encoding",
                Choice("--serial-mode", {"hex", "dec", "ascii"}, o.serialMode));
    line.Flag("--serial-enable",
              "tick Enable Auto_Increase (validate and stamp); settings it refuses\n"
              "end the program with exit status 2 before any run",
              o.serialEnable);

    line.Group("Production");
    line.Option("--auto-sequence", "\"A,B,...\"",
                "set the automatic sequence (saved, as the window saves it)",
                [&o](const std::string& text) {
                  const std::vector<std::string> steps = SplitSteps(text);
                  if (steps.size() > 8)
                    return "--auto-sequence holds at most 8 steps, not " +
                           std::to_string(steps.size());
                  o.autoSequence = steps;
                  return std::string();
                });
    line.Flag("--repeat", "run the function again and again (Program repeat)", o.repeat);
    line.Excludes("--repeat", "--no-program");
    line.Option("--count", "N", "end the repeat after N chips",
                Number("--count", "a number of chips from 1", 1, 1'000'000'000,
                       [&o](long long n) { o.count = n; }));
    line.Option("--delay", "S", "seconds between two chips of a repeat, 0 to 60",
                Number("--delay", "whole seconds from 0 to 60", 0, 60,
                       [&o](long long n) { o.delay = static_cast<int>(n); }));
    line.Flag("--clear-ok-count", "clear the good-device count (asks; answer with --yes)",
              o.clearOkCount);
    line.Option("--report", "FILE", "append one record per automatic run to FILE", Text(o.report));
    line.Option("--report-format", "csv|jsonl",
                "the report's format (default: the stored one, csv)",
                Choice("--report-format", {"csv", "jsonl"}, o.reportFormat));
  }

  line.Group(program == Program::CommandLine ? "Production job" : "Options");
  line.Option("--job", "FILE",
              program == Program::Window
                  ? "open the production job FILE (its image with it) at the start"
                  : "open the production job FILE first; the other options\n"
                    "change it for this run",
              o.job);
  line.Flag("--locked",
            program == Program::Window
                ? "open the job in operator mode: nothing that changes what a\n"
                  "chip gets can be changed"
                : "keep the job as it is: an option that would change it is\n"
                  "refused",
            o.locked);

  if (program == Program::CommandLine) line.Group("Station");
  line.Flag("--simulate", "point COM1 at the built-in simulated writer", o.simulate);
  line.Option("--sim-chip", "HEX", "identity code of the simulated writer's chip (default F101)",
              [&o](const std::string& code) {
                unsigned identity = 0;
                const auto [end, error] =
                    std::from_chars(code.data(), code.data() + code.size(), identity, 16);
                if (code.size() != 4 || error != std::errc() || end != code.data() + code.size())
                  return Wants("--sim-chip", "four hexadecimal digits", code);
                o.simulatedChip = static_cast<std::uint16_t>(identity);
                return std::string();
              });
  line.Option("--port-map", "COMn=PATH", "point COMn at a device path (repeatable)",
              [&o](const std::string& assignment) {
                PortMap check;
                if (!assignment.empty() && !check.ApplyOption(assignment))
                  return Wants("--port-map", "COMn=PATH with n from 1 to 8", assignment);
                if (!assignment.empty()) o.portMap.push_back(assignment);
                return std::string();
              });
  line.Repeatable("--port-map");
  line.Option("--settings", "FILE", "use FILE as the settings store", o.settingsFile);
  line.Option("--line-db", "URL",
              "keep the serial numbers, the good count and the records in this\n"
              "line database: sqlite:PATH or postgresql://user@host:port/dbname\n"
              "(the password in PGPASSWORD or ~/.pgpass); \"\" for none",
              [&o](const std::string& url) {
                if (!url.empty())
                  if (const std::string problem = LineUrlProblem(url); !problem.empty())
                    return "--line-db: " + problem;
                o.lineDatabase = url;
                return std::string();
              });
  line.Option("--line", "NAME",
              "the line in the line database (default: the job's product, else \"default\")",
              [&o](const std::string& name) {
                if (name.empty()) return std::string("--line wants the name of a line");
                o.lineName = name;
                return std::string();
              });
  line.Option("--language", "en|zh",
              program == Program::Window
                  ? "the language of the window (default: the one chosen in it last)"
                  : "the language of the messages (default en)",
              [&o](const std::string& language) {
                if (language != "en" && language != "zh")
                  return Wants("--language", "en or zh", language);
                o.english = language == "en";
                o.languageGiven = true;
                return std::string();
              });
  if (program == Program::Window) {
    line.Flag("-v,--verbose", "a line per exchange with the writer on standard error",
              [&o] { o.verbosity = Verbosity::Verbose; });
    line.Words(o.files);
  }
}

CommandLine StartCommandLine(Program program) {
  if (program == Program::Window)
    return CommandLine("kvr-station",
                       "The programming station's window: a writer on a serial port programs\n"
                       "8051-compatible flash microcontrollers. Opens FILE (Intel HEX or binary),\n"
                       "else the file opened last when it is still there.",
                       "kvr-station [options] [FILE]");
  return CommandLine("kvr-cli", "Presses Program once and prints the message log as it grows.");
}

bool TakeWindowFile(StartOptions& options) {
  if (options.files.size() > 1) {
    options.errors.push_back("kvr-station opens one FILE, not " +
                             std::to_string(options.files.size()));
    return false;
  }
  if (!options.files.empty() && !options.job.empty()) {
    options.errors.push_back(
        "kvr-station opens a FILE or a --job, not both: the job names its image");
    return false;
  }
  if (options.locked && options.job.empty()) {
    options.errors.push_back("--locked belongs to --job");
    return false;
  }
  if (!options.files.empty()) options.load = options.files.front();
  return true;
}

StartOptions ParseStartOptions(const std::vector<std::string>& args, Program program) {
  StartOptions options;
  CommandLine line = StartCommandLine(program);
  AddStartOptions(line, options, program);
  options.help = line.Parse(args) == CommandLine::Result::Help;
  options.errors = line.Errors();
  TakeWindowFile(options);
  return options;
}

std::unique_ptr<sim::PtyServer> StartSimulatedWriter(const StartOptions& options,
                                                     std::string* error) {
  sim::WriterConfig config;
  if (options.simulatedChip) config.chipIdentity = *options.simulatedChip;
  auto server = std::make_unique<sim::PtyServer>(config);
  if (!server->Open(error)) return nullptr;
  server->Start();
  return server;
}

void ReportExchanges(WriterLink& link, std::ostream& out) {
  link.OnExchange = [&out](std::uint8_t command, std::size_t length, WriterLink::Outcome outcome,
                           int replyLength) {
    std::string result = "stopped";
    if (outcome == WriterLink::Outcome::Complete)
      result = "reply of " + std::to_string(replyLength) + " bytes";
    else if (outcome == WriterLink::Outcome::TimedOut)
      result = "no reply";
    else if (outcome == WriterLink::Outcome::Corrupt)
      result = "corrupt reply";
    out << ExchangeLine(command, length, result) << std::endl;
  };
}

void ApplyPortOptions(PortMap& ports, SettingsStore& settings, const StartOptions& options,
                      const std::string& simulatorPath) {
  ports.LoadOverrides(settings, Station::kApplication);
  for (const std::string& assignment : options.portMap) ports.ApplyOption(assignment);
  if (!simulatorPath.empty()) ports.SetTarget(1, simulatorPath);
}

}  // namespace kvr

// ---- The ISP demo on the command line ----

namespace kvr {

namespace {

// "none": no pin; "P1.7": port 1, bit 7.
std::optional<std::optional<IspDemoPin>> ParsePin(const std::string& text) {
  if (text == "none") return std::optional<IspDemoPin>{};
  if (text.size() == 4 && text[0] == 'P' && text[1] >= '0' && text[1] <= '4' && text[2] == '.' &&
      text[3] >= '0' && text[3] <= '7')
    return std::optional<IspDemoPin>{IspDemoPin{text[1] - '0', text[3] - '0'}};
  return std::nullopt;
}

}  // namespace

void AddIspDemoOptions(CommandLine& line, IspDemoOptions& options) {
  IspDemoOptions& o = options;
  line.Group("ISP demo (models of the VXA family, chosen with --list-model)");
  line.Option("--isp-crystal", "MHZ", "the crystal, e.g. 11.0592", Text(o.crystal));
  line.Option("--isp-baud", "B", "the demo's baud rate: 2400 ... 115200", Text(o.baud));
  const auto yesNo = [](const std::string& option, std::optional<bool>& into) {
    return [option, &into](const std::string& text) {
      if (text != "yes" && text != "no") return Wants(option, "yes or no", text);
      into = text == "yes";
      return std::string();
    };
  };
  line.Option("--isp-parity", "yes|no", "9-bit frames with parity",
              yesNo("--isp-parity", o.parity));
  line.Option("--isp-erase-data", "yes|no",
              "erasing the AP area erases the data flash too (refused for a\n"
              "model whose AP area reaches the ISP area)",
              yesNo("--isp-erase-data", o.eraseData));
  const auto pin = [](const std::string& option, std::optional<std::optional<IspDemoPin>>& into) {
    return [option, &into](const std::string& text) {
      const auto parsed = ParsePin(text);
      if (!parsed) return Wants(option, "none or a pin P0.0 to P4.7", text);
      into = parsed;
      return std::string();
    };
  };
  line.Option("--isp-watchdog", "none|PORT.BIT",
              "the pin that feeds an external watchdog, e.g. P1.7",
              pin("--isp-watchdog", o.watchdog));
  line.Option("--isp-rs485", "none|PORT.BIT", "the RS-485 direction pin, e.g. P3.5",
              pin("--isp-rs485", o.rs485));
  line.Option("--isp-rs485-logic", "high-transmit|high-receive",
              "the level of that pin for transmitting (needs --isp-rs485\nPORT.BIT)",
              [&o](const std::string& text) {
                if (text != "high-transmit" && text != "high-receive")
                  return Wants("--isp-rs485-logic", "high-transmit or high-receive", text);
                o.rs485HighTransmit = text == "high-transmit";
                return std::string();
              });
  line.Flag("--show-isp-demo",
            "build the demo and print its kilobyte, the reload and the\nbaud-rate error", o.show);
  line.Flag("--isp-demo-write", "write the demo once (instead of pressing Program)", o.write);
  line.Flag("--isp-demo-repeat",
            "write it chip after chip until stopped, or --count N runs\n"
            "(the first chip is written twice, as in the window)",
            o.repeat);
  line.Excludes("--isp-demo-write", "--isp-demo-repeat");
}

std::string ApplyIspDemoOptions(Station& station, const IspDemoOptions& options) {
  if (options.crystal) station.OnCrystalChange(*options.crystal);
  if (options.baud) {
    const auto& entries = station.comb_ISP_buad.entries;
    const auto found = std::find(entries.begin(), entries.end(), *options.baud);
    if (found == entries.end()) {
      std::string names;
      for (const std::string& entry : entries) names += " " + entry;
      return "--isp-baud wants one of" + names + ", not \"" + *options.baud + "\"";
    }
    station.OnIspBaudChange(static_cast<int>(found - entries.begin()));
  }
  if (options.parity) station.OnIspDemoParityClick(*options.parity ? 0 : 1);
  if (options.eraseData) {
    if (!station.optISP_DEMO_erase_data.enabled)
      return "--isp-erase-data: this model has no data flash apart from the AP area";
    station.OnIspDemoEraseDataClick(*options.eraseData ? 0 : 1);
  }
  if (options.watchdog) {
    station.OnIspDemoWdtClick(*options.watchdog ? 1 : 0);
    if (const auto& pin = *options.watchdog) {
      station.OnIspDemoWdtPinChange(0, pin->port);
      station.OnIspDemoWdtPinChange(1, pin->bit);
    }
  }
  if (options.rs485) {
    station.On485PinClick(*options.rs485 ? 1 : 0);
    if (const auto& pin = *options.rs485) {
      station.On485PinChange(0, pin->port);
      station.On485PinChange(1, pin->bit);
    }
  }
  if (options.rs485HighTransmit) {
    if (!station.opt_485_logic.enabled)
      return "--isp-rs485-logic needs an RS-485 pin (--isp-rs485 PORT.BIT)";
    station.On485LogicClick(*options.rs485HighTransmit ? 0 : 1);
  }
  return {};
}

std::string IspDemoListing(const Station& station) {
  const std::int32_t base = station.SelectedDevice.IspEnd - 1023;
  std::string out;
  char text[16];
  for (std::int32_t line = base; line < base + 1024; line += 16) {
    std::snprintf(text, sizeof text, "%04X:", static_cast<unsigned>(line));
    out += text;
    for (std::int32_t a = line; a < line + 16; ++a) {
      std::snprintf(text, sizeof text, " %02X", station.ImageBuffer.Get(a));
      out += text;
    }
    out += '\n';
  }
  // What the buffer holds: after a refused build, not the values that were refused.
  const unsigned reload = PlacedReload(station.ImageBuffer, base);
  std::snprintf(text, sizeof text, "%04X", reload);
  out += std::string("Reload: ") + text + " (N = " + std::to_string(65536 - reload) + ")\n";
  const std::uint32_t colour = station.Lab_BAUD_ERR.backColour;
  out += "Baud error: " + Trim(station.Lab_BAUD_ERR.caption) + " (" +
         (colour == BaudErrorBackColour(BaudErrorColour::Red)      ? "red"
          : colour == BaudErrorBackColour(BaudErrorColour::Yellow) ? "yellow"
                                                                   : "normal") +
         ")\n";
  return out;
}

}  // namespace kvr
// ---- end of the ISP demo ----
