#include "app/start_options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "app/station.h"
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

StartOptions ParseStartOptions(const std::vector<std::string>& args, Program program) {
  StartOptions options;
  const bool cli = program == Program::CommandLine;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        options.errors.push_back("option " + arg + " needs a value");
        return;
      }
      into = args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--sim-chip") {
      std::string code;
      value(code);
      unsigned identity = 0;
      const auto [end, error] =
          std::from_chars(code.data(), code.data() + code.size(), identity, 16);
      if (code.size() != 4 || error != std::errc() || end != code.data() + code.size())
        options.errors.push_back("--sim-chip wants four hexadecimal digits, not \"" + code + "\"");
      else
        options.simulatedChip = static_cast<std::uint16_t>(identity);
    } else if (arg == "--port-map") {
      std::string assignment;
      value(assignment);
      PortMap check;
      if (!assignment.empty() && !check.ApplyOption(assignment))
        options.errors.push_back("--port-map wants COMn=PATH with n from 1 to 8, not \"" +
                                 assignment + "\"");
      else if (!assignment.empty())
        options.portMap.push_back(assignment);
    } else if (arg == "--language") {
      std::string language;
      value(language);
      if (language == "en" || language == "zh")
        options.english = language == "en";
      else
        options.errors.push_back("--language wants en or zh, not \"" + language + "\"");
    } else if (arg == "--settings") {
      value(options.settingsFile);
    } else if (cli && arg == "--port") {
      value(options.port);
    } else if (cli && arg == "--function") {
      value(options.function);
    } else if (cli && arg == "--yes") {
      options.answer = true;
    } else if (cli && arg == "--no") {
      options.answer = false;
    } else if (cli && arg == "--log-out") {
      value(options.logOut);
    } else if (cli && arg == "--model") {
      value(options.treeModel);
    } else if (cli && arg == "--list-model") {
      value(options.listModel);
    } else if (cli && arg == "--show-extra-families") {
      options.showExtraFamilies = true;
    } else if (cli && arg == "--buffer-start") {
      value(options.bufferStart);
    } else if (cli && arg == "--clear-buffer") {
      options.clearBuffer = true;
    } else if (cli && arg == "--fill") {
      std::string fill;
      value(fill);
      if (fill == "FF" || fill == "ff")
        options.fill = 0;
      else if (fill == "00")
        options.fill = 1;
      else
        options.errors.push_back("--fill wants FF or 00, not \"" + fill + "\"");
    } else if (cli && arg == "--load") {
      value(options.load);
    } else if (cli && (arg == "--export" || arg == "--save-after")) {
      if (i + 3 >= args.size()) {
        options.errors.push_back("option " + arg + " needs START LENGTH FILE");
        i = args.size();
      } else {
        StartOptions::ExportRange range{args[i + 1], args[i + 2], args[i + 3]};
        i += 3;
        // An empty field would leave the store command disabled and the run silent.
        if (!IsHexNumber(range.start) || !IsHexNumber(range.length))
          options.errors.push_back(arg + " wants hexadecimal START and LENGTH, not \"" +
                                   range.start + "\" and \"" + range.length + "\"");
        else if (range.file.empty())
          options.errors.push_back(arg + " wants a FILE to store into");
        else
          (arg == "--export" ? options.exportRange : options.saveAfter) = std::move(range);
      }
    } else if (cli && arg == "--auto-sequence") {
      std::string text;
      value(text);
      const std::vector<std::string> steps = SplitSteps(text);
      if (steps.size() > 8)
        options.errors.push_back("--auto-sequence holds at most 8 steps, not " +
                                 std::to_string(steps.size()));
      else
        options.autoSequence = steps;
    } else if (cli && arg == "--repeat") {
      options.repeat = true;
    } else if (cli && (arg == "--count" || arg == "--delay")) {
      std::string text;
      value(text);
      const bool count = arg == "--count";
      const auto number = WholeNumber(text, count ? 1 : 0, count ? 1'000'000'000 : 60);
      if (!number)
        options.errors.push_back(
            arg +
            (count ? " wants a number of chips from 1" : " wants whole seconds from 0 to 60") +
            ", not \"" + text + "\"");
      else if (count)
        options.count = *number;
      else
        options.delay = static_cast<int>(*number);
    } else if (cli && arg == "--clear-ok-count") {
      options.clearOkCount = true;
    } else if (cli && arg == "--report") {
      value(options.report.emplace());
    } else if (cli && arg == "--report-format") {
      std::string format;
      value(format);
      if (format == "csv" || format == "jsonl")
        options.reportFormat = format == "jsonl" ? 1 : 0;
      else
        options.errors.push_back("--report-format wants csv or jsonl, not \"" + format + "\"");
    } else if (cli && arg == "--view") {
      options.view = true;
    } else if (cli && arg == "--no-program") {
      options.program = false;
    } else if (cli && arg == "--serial-address") {
      value(options.serialAddress.emplace());
    } else if (cli && arg == "--serial-bytes") {
      value(options.serialBytes.emplace());
    } else if (cli && arg == "--serial-next") {
      value(options.serialNext.emplace());
    } else if (cli && arg == "--serial-step") {
      value(options.serialStep.emplace());
    } else if (cli && arg == "--serial-mode") {
      std::string mode;
      value(mode);
      if (mode == "hex")
        options.serialMode = 0;
      else if (mode == "dec")
        options.serialMode = 1;
      else if (mode == "ascii")
        options.serialMode = 2;
      else
        options.errors.push_back("--serial-mode wants hex, dec or ascii, not \"" + mode + "\"");
    } else if (cli && arg == "--serial-enable") {
      options.serialEnable = true;
    } else {
      options.errors.push_back("unknown option \"" + arg + "\" (see --help)");
    }
  }
  return options;
}

std::string StartOptionsHelp(Program program) {
  const std::string shared =
      "  --simulate             point COM1 at the built-in simulated writer\n"
      "  --sim-chip HEX         identity code of the simulated writer's chip (default F101)\n"
      "  --port-map COMn=PATH   point COMn at a device path (repeatable)\n"
      "  --settings FILE        use FILE as the settings store\n"
      "  --language en|zh       the language of the messages (default en)\n"
      "  --help                 this text\n"
      "  --version              the program's version\n";
  if (program == Program::Window) return "Usage: kvr-station [options]\n" + shared;
  return "Usage: kvr-cli [options]\n"
         "Presses Program once and prints the message log as it grows.\n"
         "  --port COMn|PATH       the writer's port (default: the stored choice, else COM1)\n"
         "  --function NAME        the function-list entry to run (default \"Auto Program\")\n"
         "  --yes | --no           the answer to question boxes (default: the preselected No)\n"
         "  --log-out FILE         write the message log as it stands at the end to FILE\n"
         "  --model NAME           choose NAME in the device tree (e.g. VXA01H, VXB03L)\n"
         "  --list-model NAME      choose NAME from the model list (e.g. VXA06H, VXE02L)\n"
         "  --show-extra-families  add the VXC and VXD families to the device tree\n"
         "  --buffer-start HEX     where address 0 of a file lands in the buffer\n"
         "  --clear-buffer         clear the buffer before every load\n"
         "  --fill FF|00           the byte that stands for unused buffer bytes\n"
         "  --load FILE            open FILE (Intel HEX or binary) as the Open file command does\n"
         "  --serial-address HEX   serial number: its highest address\n"
         "  --serial-bytes N       serial number: its length in bytes\n"
         "  --serial-next N        serial number: the next number, decimal\n"
         "  --serial-step N        serial number: the step after each good device\n"
         "  --serial-mode hex|dec|ascii  serial number: its encoding\n"
         "  --serial-enable        tick Enable Auto_Increase (validate and stamp)\n"
         "  --export START LENGTH FILE  store buffer bytes START.. (hex, LENGTH hex) in FILE\n"
         "  --view                 print the buffer view\n"
         "  --no-program           do the file work only; do not press Program\n"
         "  --save-after START LENGTH FILE  after a successful run, store buffer bytes as\n"
         "                         --export does (e.g. what \"Read EEPROM\" read)\n"
         "Production:\n"
         "  --auto-sequence \"A,B\"  set the automatic sequence (saved, as the window saves it)\n"
         "  --repeat               run the function again and again (Program repeat)\n"
         "  --count N              end the repeat after N chips\n"
         "  --delay S              seconds between two chips of a repeat, 0 to 60\n"
         "  --clear-ok-count       clear the good-device count (asks; answer with --yes)\n"
         "  --report FILE          append one record per automatic run to FILE\n"
         "  --report-format csv|jsonl  the report's format (default: the stored one, csv)\n"
         "  SIGINT or SIGTERM acts as the Stop button.\n" +
         shared +
         "Exit status: 0 when the run connected and its operation succeeded (with --repeat:\n"
         "when every chip was good); 1 when it did not; 2 for bad options.\n";
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

std::optional<bool> YesNo(const std::string& text) {
  if (text == "yes") return true;
  if (text == "no") return false;
  return std::nullopt;
}

// "none": no pin; "P1.7": port 1, bit 7.
std::optional<std::optional<IspDemoPin>> ParsePin(const std::string& text) {
  if (text == "none") return std::optional<IspDemoPin>{};
  if (text.size() == 4 && text[0] == 'P' && text[1] >= '0' && text[1] <= '4' && text[2] == '.' &&
      text[3] >= '0' && text[3] <= '7')
    return std::optional<IspDemoPin>{IspDemoPin{text[1] - '0', text[3] - '0'}};
  return std::nullopt;
}

}  // namespace

IspDemoOptions TakeIspDemoOptions(std::vector<std::string>& args) {
  IspDemoOptions options;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 < args.size()) return args[++i];
      options.errors.push_back("option " + arg + " needs a value");
      return std::nullopt;
    };
    auto wants = [&](const std::string& what, const std::string& given) {
      options.errors.push_back(arg + " wants " + what + ", not \"" + given + "\"");
    };
    if (arg == "--show-isp-demo") {
      options.show = true;
    } else if (arg == "--isp-demo-write") {
      options.write = true;
    } else if (arg == "--isp-demo-repeat") {
      options.repeat = true;
    } else if (arg == "--isp-crystal" || arg == "--isp-baud") {
      if (const auto text = value())
        (arg == "--isp-crystal" ? options.crystal : options.baud) = text;
    } else if (arg == "--isp-parity" || arg == "--isp-erase-data") {
      const auto text = value();
      if (!text) continue;
      if (const auto yes = YesNo(*text))
        (arg == "--isp-parity" ? options.parity : options.eraseData) = yes;
      else
        wants("yes or no", *text);
    } else if (arg == "--isp-watchdog" || arg == "--isp-rs485") {
      const auto text = value();
      if (!text) continue;
      if (const auto pin = ParsePin(*text))
        (arg == "--isp-watchdog" ? options.watchdog : options.rs485) = pin;
      else
        wants("none or a pin P0.0 to P4.7", *text);
    } else if (arg == "--isp-rs485-logic") {
      const auto text = value();
      if (!text) continue;
      if (*text == "high-transmit" || *text == "high-receive")
        options.rs485HighTransmit = *text == "high-transmit";
      else
        wants("high-transmit or high-receive", *text);
    } else {
      rest.push_back(arg);
    }
  }
  if (options.write && options.repeat)
    options.errors.push_back("--isp-demo-write and --isp-demo-repeat exclude each other");
  args = std::move(rest);
  return options;
}

std::string IspDemoOptionsHelp() {
  return "ISP demo (models of the VXA family, chosen with --list-model):\n"
         "  --isp-crystal MHZ      the crystal, e.g. 11.0592\n"
         "  --isp-baud B           the demo's baud rate: 2400 ... 115200\n"
         "  --isp-parity yes|no    9-bit frames with parity\n"
         "  --isp-erase-data yes|no  erasing the AP area erases the data flash too\n"
         "  --isp-watchdog none|PORT.BIT  the pin that feeds an external watchdog, e.g. P1.7\n"
         "  --isp-rs485 none|PORT.BIT     the RS-485 direction pin, e.g. P3.5\n"
         "  --isp-rs485-logic high-transmit|high-receive  the level of that pin for transmitting\n"
         "  --show-isp-demo        build the demo and print its kilobyte, the reload and the\n"
         "                         baud-rate error\n"
         "  --isp-demo-write       write the demo once (instead of pressing Program)\n"
         "  --isp-demo-repeat      write it chip after chip until stopped, or --count N runs\n"
         "                         (the first chip is written twice, as in the window)\n"
         "  The demo's model number is that of the model in the model box: choose the same\n"
         "  model with --model as well.\n";
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
