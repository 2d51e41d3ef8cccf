// kvr-isp: talks to a chip running the ISP demo over its serial line, without the writer:
// identifies it, erases it, programs or verifies an application file, and starts the
// application. Exit status 0 only when the command succeeded.

#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "command_line/exchange_line.h"
#include "isp_cli/isp_options.h"
#include "isp_cli/isp_serial_port.h"
#include "ispdemo/isp_client.h"
#include "ispdemo/isp_tool.h"
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

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  kvr::IspOptions options;
  kvr::CommandLine line = kvr::IspCommandLine(options);
  if (const auto result =
          ParseIspOptions(line, std::vector<std::string>(argv + 1, argv + argc), options);
      result != kvr::CommandLine::Result::Run)
    return line.Report(result, std::cout, std::cerr);
  const bool quiet = options.verbosity == kvr::Verbosity::Quiet;

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
  auto progress = [terminal, quiet](const std::string& what, int done, int total) {
    if (quiet) return;
    if (terminal) {
      std::cout << '\r' << what << ' ' << done << '/' << total << (done == total ? "\n" : "")
                << std::flush;
    } else if (done == total) {
      std::cout << what << ' ' << done << '/' << total << std::endl;
    }
  };

  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::isp::IspClient client(port, pump, timers, {options.baud, options.parity, options.waitMs});
  if (options.verbosity == kvr::Verbosity::Verbose)
    client.OnExchange = [](std::uint8_t command, std::size_t length, const std::string& result) {
      std::cerr << kvr::ExchangeLine(command, length, result) << std::endl;
    };
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
