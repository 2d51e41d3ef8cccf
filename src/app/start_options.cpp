#include "app/start_options.h"

#include <algorithm>
#include <charconv>

#include "app/station.h"
#include "image/hex_field.h"
#include "simulator/pty_server.h"

namespace kvr {

namespace {

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
    } else if (cli && arg == "--export") {
      if (i + 3 >= args.size()) {
        options.errors.push_back("option --export needs START LENGTH FILE");
        i = args.size();
      } else {
        StartOptions::ExportRange range{args[i + 1], args[i + 2], args[i + 3]};
        i += 3;
        // An empty field would leave the store command disabled and the run silent.
        if (!IsHexNumber(range.start) || !IsHexNumber(range.length))
          options.errors.push_back("--export wants hexadecimal START and LENGTH, not \"" +
                                   range.start + "\" and \"" + range.length + "\"");
        else if (range.file.empty())
          options.errors.push_back("--export wants a FILE to store into");
        else
          options.exportRange = std::move(range);
      }
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
         "  --no-program           do the file work only; do not press Program\n" +
         shared +
         "Exit status: 0 when the run connected and its operation succeeded; 1 when it did\n"
         "not; 2 for bad options.\n";
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
