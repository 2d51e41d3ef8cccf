#include "isp_cli/isp_options.h"

namespace kvr {

CommandLine IspCommandLine(IspOptions& o) {
  CommandLine line(
      "kvr-isp", "Talks to a chip running the ISP demo over its serial line, without the writer.",
      "kvr-isp --port COMn|PATH --baud B [--parity] identify | erase | program FILE |\n"
      "               verify FILE | run");
  line.Group("Line");
  line.Option("--port", "COMn|PATH", "COM1..COM8 (the station's default devices) or a device path",
              [&o](const std::string& text) {
                if (text.empty()) return std::string("--port needs COMn or a path");
                o.port = text;
                return std::string();
              });
  line.Option("--baud", "B", "the baud rate the demo was built for, e.g. 38400",
              [&o](const std::string& text) {
                if (text.empty() || text.size() > 7 ||
                    text.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(text) == 0)
                  return std::string("--baud needs a baud rate, e.g. 38400");
                o.baud = std::stoi(text);
                return std::string();
              });
  line.Flag("--parity", "the demo was built with parity: 9-bit frames, even parity (8E1)",
            o.parity);
  line.Option("--wait-ms", "N",
              "milliseconds more each answer may take (a slow adapter; default 0, at most 60000)",
              [&o](const std::string& text) {
                if (text.empty() || text.size() > 5 ||
                    text.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(text) > 60000)
                  return std::string("--wait-ms needs a number of milliseconds from 0 to 60000");
                o.waitMs = std::stoi(text);
                return std::string();
              });
  line.Words(o.words, {"identify", "erase", "program", "verify", "run"});
  line.VerbosityOptions(o.verbosity, "print only the result and errors, no progress",
                        "also a line per request to the chip on standard error");
  line.Footer(
      "Commands: identify, erase, program FILE (erase, write, verify), verify FILE, run.\n"
      "FILE is Intel HEX (.hex, .ihx, .ihex) or binary, placed from address 0.\n"
      "Exit status: 0 success; 1 no answer, a refusal or a mismatch; 2 bad options or a\n"
      "missing or broken file.");
  return line;
}

namespace {

// The command and its file out of the words; what is wrong, or nothing.
std::string TakeCommand(IspOptions& o) {
  std::size_t next = 0;
  if (next < o.words.size()) {
    o.command = o.words[next++];
    if (o.command == "program" || o.command == "verify") {
      if (next >= o.words.size()) return o.command + " needs a file";
      o.file = o.words[next++];
    } else if (o.command != "identify" && o.command != "erase" && o.command != "run") {
      return "unknown command '" + o.command + "'";
    }
  }
  if (next < o.words.size()) return "unexpected '" + o.words[next] + "'";
  if (o.port.empty()) return "--port is missing";
  if (o.baud == 0) return "--baud is missing";
  if (o.command.empty()) return "no command given";
  return "";
}

}  // namespace

CommandLine::Result ParseIspOptions(CommandLine& line, const std::vector<std::string>& args,
                                    IspOptions& options) {
  CommandLine::Result result = line.Parse(args);
  if (result == CommandLine::Result::Run)
    if (std::string wrong = TakeCommand(options); !wrong.empty()) {
      line.Errors().push_back(std::move(wrong));
      result = CommandLine::Result::Bad;
    }
  return result;
}

}  // namespace kvr
