// kvr-cli: the station without a window. It presses Program once, prints the message log as it
// grows and tells by its exit status whether the run connected and its operation succeeded.

#include <QCoreApplication>

#include <fstream>
#include <iostream>
#include <memory>

#include "app/start_options.h"
#include "app/station.h"
#include "cli/console_dialogs.h"
#include "cli/log_printer.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_timer.h"
#include "simulator/pty_server.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

int Fail(const std::string& message, int status) {
  std::cerr << "kvr-cli: " << message << '\n';
  return status;
}

// The entry of the function list with this name, or -1.
int FindFunction(const kvr::Station& station, const std::string& name) {
  for (int i = 0; i < kvr::Station::kFunctions; ++i)
    if (station.txtFuction[static_cast<std::size_t>(i)].text == name) return i;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  const kvr::StartOptions options = ParseStartOptions(args, kvr::Program::CommandLine);
  if (!options.errors.empty()) {
    for (const std::string& error : options.errors) std::cerr << "kvr-cli: " << error << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << StartOptionsHelp(kvr::Program::CommandLine);
    return 0;
  }

  auto settings =
      options.settingsFile.empty()
          ? std::make_unique<kvr::QtSettingsStore>()
          : std::make_unique<kvr::QtSettingsStore>(QString::fromStdString(options.settingsFile));

  std::unique_ptr<kvr::sim::PtyServer> simulator;
  if (options.simulate) {
    simulator = std::make_unique<kvr::sim::PtyServer>();
    std::string error;
    if (!simulator->Open(&error)) return Fail("cannot start the simulated writer: " + error, 1);
    simulator->Start();
  }

  kvr::PortMap ports;
  ApplyPortOptions(ports, *settings, options, simulator ? simulator->DevicePath() : "");
  int portIndex = 0;
  if (!options.port.empty()) {
    const int number = kvr::PortMap::ParsePortName(options.port);
    if (number > 0)
      portIndex = number - 1;
    else
      ports.SetTarget(1, options.port);  // a device path: COM1 points there for this run
  }

  kvr::QtSerialPort port(ports);
  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::ConsoleDialogs dialogs(std::cout, options.answer);
#ifndef _WIN32
  kvr::ConsoleBeeper beeper(isatty(STDERR_FILENO) != 0);
#else
  kvr::ConsoleBeeper beeper(false);
#endif
  kvr::Platform platform{port, pump, timers, dialogs, *settings, beeper};
  kvr::Station station(platform);
  station.combCommPort.index = portIndex;

  const int function = FindFunction(station, options.function);
  if (function < 0) {
    std::string names;
    for (const auto& entry : station.txtFuction) names += "\n  " + entry.text;
    return Fail("no function \"" + options.function + "\"; the function list holds:" + names, 2);
  }
  station.OnFunctionClick(function);

  kvr::LogPrinter printer(std::cout);
  pump.SetIdleHook([&] { printer.Update(station.textMsg.Text()); });
  station.OnProgramClick();
  printer.Update(station.textMsg.Text());
  printer.Finish();

  int status = 0;
  if (!options.logOut.empty()) {
    std::ofstream out(options.logOut, std::ios::binary | std::ios::trunc);
    out << station.textMsg.Text();
    out.close();
    if (!out) status = Fail("cannot write the message log to " + options.logOut, 1);
  }

  const auto& run = station.LastRun;
  if (!run.connected) return Fail("the run did not reach the writer", 1);
  if (!run.result) {
    std::cerr << "kvr-cli: note: \"" << run.function
              << "\" has no operation in this build yet; the run connected and closed down\n";
    return status;
  }
  if (*run.result != 0)
    return Fail("\"" + run.function + "\" failed (result " + std::to_string(*run.result) + ")", 1);
  return status;
}
