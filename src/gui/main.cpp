#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/start_options.h"
#include "app/station.h"
#include "gui/main_window.h"
#include "kvr_version.h"
#include "platform/port_map.h"
#include "platform/qt/qt_beeper.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_timer.h"
#include "platform/sql/engines.h"
#include "simulator/pty_server.h"

namespace {

std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kvr;

  // The version and the help need no display; anything else is parsed once Qt has taken its own
  // options.
  {
    StartOptions early;
    CommandLine line = StartCommandLine(Program::Window);
    AddStartOptions(line, early, Program::Window);
    if (const auto result = line.Parse(Arguments(argc, argv));
        result == CommandLine::Result::Help || result == CommandLine::Result::Version)
      return line.Report(result, std::cout, std::cerr);
  }

  QApplication app(argc, argv);
  StartOptions options;
  CommandLine line = StartCommandLine(Program::Window);
  AddStartOptions(line, options, Program::Window);
  if (const auto result = line.Parse(Arguments(argc, argv)); result != CommandLine::Result::Run)
    return line.Report(result, std::cout, std::cerr);
  if (!TakeWindowFile(options)) {
    std::cerr << "kvr-station: " << options.errors.back() << '\n';
    return 2;
  }

  std::unique_ptr<QtSettingsStore> settings =
      options.settingsFile.empty()
          ? std::make_unique<QtSettingsStore>()
          : std::make_unique<QtSettingsStore>(QString::fromLocal8Bit(options.settingsFile));

  std::unique_ptr<sim::PtyServer> simulator;
  std::string simulatorPath;
  if (options.simulate) {
    std::string error;
    simulator = StartSimulatedWriter(options, &error);
    if (!simulator) {
      QMessageBox::critical(nullptr, QStringLiteral("KVR programming station"),
                            QStringLiteral("The simulated writer could not be started:\n") +
                                QString::fromStdString(error));
      return 1;
    }
    simulatorPath = simulator->DevicePath();
  }

  PortMap ports;
  ApplyPortOptions(ports, *settings, options, simulatorPath);

  QtSerialPort serial(ports);
  QtEventPump pump;
  QtTimerFactory timers;
  QtDialogs dialogs;
  QtBeeper beeper;
  const std::unique_ptr<LineDatabases> lineDatabases = LineDatabaseEngines();
  Platform platform{serial, pump, timers, dialogs, *settings, beeper, nullptr, lineDatabases.get()};
  Station station(platform,
                  options.languageGiven ? options.english : StoredLanguageIsEnglish(*settings),
                  {options.lineDatabase, options.lineName});
  // The simulated writer is COM1 for this session, whatever port is stored.
  if (options.simulate) station.UsePortForThisSession(0);
  station.ApplicationDirectory = QCoreApplication::applicationDirPath().toStdString();
  station.HostName = QSysInfo::machineHostName().toStdString();
  station.describePort = [&ports](int number) {
    return "COM" + std::to_string(number) + " (" + ports.Target(number) + ")";
  };
  if (options.verbosity == Verbosity::Verbose) ReportExchanges(station.link, std::cerr);
  MainWindow window(station, ports);
  window.SetAbout(QString::fromLatin1(kvr::kVersion), settings->FileFor(Station::kApplication));
  station.onCloseWindow = [&window] { window.close(); };
  dialogs.SetParent(&window);
  pump.SetIdleHook([&window] { window.Sync(); });

  const QScreen* screen = QGuiApplication::primaryScreen();
  window.ShowOnScreen(screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 728));
  // Over the window: loading may ask questions.
  int refusedJob = 0;
  QTimer::singleShot(0, &window, [&] {
    if (options.job.empty()) {
      station.LoadAtStart(options.load);
    } else if (!station.OpenJobFile(options.job, options.locked)) {
      dialogs.Information(station.LastJobError);
      // A production station does not start without its lock.
      if (options.locked) {
        refusedJob = 2;
        window.close();
      }
    }
    window.Sync();
  });
  const int status = app.exec();

  pump.SetIdleHook({});
  station.onCloseWindow = {};
  if (simulator) simulator->Stop();
  return refusedJob != 0 ? refusedJob : status;
}
