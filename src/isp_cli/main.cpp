// kvr-isp: talks to a chip running the ISP demo over its serial line, without the writer:
// identifies it, erases it, programs or verifies an application file, and starts the
// application. Exit status 0 only when the command succeeded.

#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "isp_cli/isp_serial_port.h"
#include "ispdemo/isp_client.h"
#include "ispdemo/isp_tool.h"
#include "kvr_version.h"
#include "platform/port_map.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_timer.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const char* const kUsage =
    "usage: kvr-isp --port COMn|PATH --baud B [--parity] identify | erase | program FILE |\n"
    "               verify FILE | run\n"
    "  --port    COM1..COM8 (the station's default devices) or a device path\n"
    "  --baud    the baud rate the demo was built for, e.g. 38400\n"
    "  --parity  the demo was built with parity: 9-bit frames, even parity (8E1)\n"
    "  FILE      Intel HEX (.hex, .ihx, .ihex) or binary, placed from address 0\n"
    "  --help    show this text\n"
    "  --version show the version\n";

int BadOptions(const std::string& message) {
  std::cerr << "kvr-isp: " << message << "\n" << kUsage;
  return 2;
}

struct Options {
  std::string port;
  int baud = 0;
  bool parity = false;
  std::string command;
  std::string file;
};

// Empty when the options are sound, else what is wrong.
std::string Parse(const std::vector<std::string>& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--port") {
      if (!value(o.port) || o.port.empty()) return "--port needs COMn or a path";
    } else if (a == "--baud") {
      std::string text;
      if (!value(text) || text.empty() || text.size() > 7 ||
          text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) == 0)
        return "--baud needs a baud rate, e.g. 38400";
      o.baud = std::stoi(text);
    } else if (a == "--parity") {
      o.parity = true;
    } else if (!o.command.empty() || a.rfind("--", 0) == 0) {
      return "unexpected '" + a + "'";
    } else if (a == "identify" || a == "erase" || a == "run") {
      o.command = a;
    } else if (a == "program" || a == "verify") {
      o.command = a;
      if (!value(o.file)) return a + " needs a file";
    } else {
      return "unknown command '" + a + "'";
    }
  }
  if (o.port.empty()) return "--port is missing";
  if (o.baud == 0) return "--baud is missing";
  if (o.command.empty()) return "no command given";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (kvr::PrintVersionIfAsked(argc, argv, "kvr-isp")) return 0;
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  Options options;
  if (const std::string wrong = Parse(args, options); !wrong.empty()) return BadOptions(wrong);

  kvr::isp::IspImage image;
  if (!options.file.empty()) {
    std::string error;
    if (!kvr::isp::LoadIspImage(options.file, image, error)) {
      std::cerr << "kvr-isp: " << error << '\n';
      return 2;
    }
  }

  const int number = kvr::PortMap::ParsePortName(options.port);
  const std::string target = number > 0 ? kvr::PortMap().Target(number) : options.port;
  kvr::IspSerialPort port;
  if (!port.OpenLine(target, options.baud, options.parity)) {
    std::cerr << "kvr-isp: cannot open " << target << ": " << port.ErrorText() << '\n';
    return 1;
  }

  const bool terminal = isatty(fileno(stdout)) != 0;
  auto print = [](const std::string& line) { std::cout << line << std::endl; };
  // On a terminal one line counts up; elsewhere only the end of each step is written.
  auto progress = [terminal](const std::string& what, int done, int total) {
    if (terminal) {
      std::cout << '\r' << what << ' ' << done << '/' << total << (done == total ? "\n" : "")
                << std::flush;
    } else if (done == total) {
      std::cout << what << ' ' << done << '/' << total << std::endl;
    }
  };

  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::isp::IspClient client(port, pump, timers, {options.baud, options.parity});
  kvr::isp::IspTool tool(client, print, progress);
  bool ok = false;
  if (options.command == "identify") ok = tool.Identify();
  if (options.command == "erase") ok = tool.Erase();
  if (options.command == "program") ok = tool.Program(image);
  if (options.command == "verify") ok = tool.Verify(image);
  if (options.command == "run") ok = tool.Run();
  port.Close();
  return ok ? 0 : 1;
}
