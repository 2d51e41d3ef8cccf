// kvr-cli: the station without a window. It presses Program once, prints the message log as it
// grows and tells by its exit status whether the run connected and its operation succeeded.

#include <QCoreApplication>
#include <QSysInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/start_options.h"
#include "app/station.h"
#include "cli/console_dialogs.h"
#include "cli/log_printer.h"
#include "cli/status_stream.h"
#include "kvr_version.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_stop_signals.h"
#include "platform/qt/qt_timer.h"
#include "simulator/offline_board_server.h"
#include "simulator/pty_server.h"

#ifndef _WIN32
#include <signal.h>
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

// Chooses a model as the operator would: in the device tree, or from the model list.
bool ChooseTreeModel(kvr::Station& station, const std::string& name) {
  for (const kvr::TreeNode& node : station.treeDevice.nodes) {
    if (node.key != name || node.parentKey.empty()) continue;
    station.OnDeviceTextClick();
    station.OnTreeNodeClick(name);
    return true;
  }
  return false;
}

bool ChooseListModel(kvr::Station& station, const std::string& name) {
  const auto& entries = station.combMcuModel.entries;
  const auto it = std::find(entries.begin(), entries.end(), name);
  if (it == entries.end()) return false;
  station.combMcuModel.index = static_cast<int>(it - entries.begin());
  station.OnModelListClick();
  return true;
}

std::string TreeModels(const kvr::Station& station) {
  std::string names;
  for (const kvr::TreeNode& node : station.treeDevice.nodes)
    if (!node.parentKey.empty()) names += " " + node.key;
  return names;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(path), error);
}

std::string Verdict(std::int16_t result) {
  if (result == 0) return "the chip is the selected model";
  if (result == -2) return "the chip is not the selected model, or it is encrypted";
  return "no identity was read";
}

// The store command of the Save_file tab with its two fields and the file.
int Store(kvr::Station& station, kvr::ConsoleDialogs& dialogs,
          const kvr::StartOptions::ExportRange& range) {
  if (IsFolder(range.file))
    return Fail("cannot store into \"" + range.file + "\": it is a directory", 2);
  station.WriteExportField(station.txt_Start_Address, range.start);
  station.WriteExportField(station.txt_length, range.length);
  dialogs.QueueSavePath(range.file);
  if (!station.BinExport()) return Fail("the export wrote no file", 1);
  return 0;
}

// The buffer and file options, in the order an operator would set them in the window.
int PrepareImage(kvr::Station& station, kvr::ConsoleDialogs& dialogs,
                 const kvr::StartOptions& options) {
  if (!options.bufferStart.empty()) station.Text4.text = options.bufferStart;
  if (options.clearBuffer) station.Check6.checked = true;
  if (options.fill) {
    station.OnFillByteClick(*options.fill);
    station.DeferredSave();
  }
  const std::optional<std::string>* fields[] = {&options.serialAddress, &options.serialBytes,
                                                &options.serialNext, &options.serialStep};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!*fields[i]) continue;
    station.texAuto_Increase[i].text = **fields[i];
    station.OnSerialFieldChange();
  }
  if (options.serialMode) {
    station.optAuto_Increase.selected = *options.serialMode;
    station.OnSerialFieldChange();
  }
  if (!options.load.empty()) {
    if (IsFolder(options.load))
      return Fail("cannot open \"" + options.load + "\": it is a directory", 2);
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(options.load), error))
      return Fail("cannot open \"" + options.load + "\": no such file", 2);
    dialogs.QueueOpenPath(options.load);
    station.OnLoadFileClick();
  }
  if (options.serialEnable) {
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
  }
  if (options.exportRange)
    if (const int status = Store(station, dialogs, *options.exportRange); status != 0)
      return status;
  if (options.view) {
    std::string view;
    for (char c : station.txtBuffer.text)
      if (c != '\r') view.push_back(c);
    std::cout << view;
  }
  return 0;
}

// The automatic sequence as the operator builds it: delete all, then append each step.
int SetSequence(kvr::Station& station, const std::vector<std::string>& steps) {
  for (const std::string& step : steps) {
    bool offered = false;
    for (int i = 0; i < kvr::Station::kFirstSequenceSlot; ++i)
      offered =
          offered || (!step.empty() && station.txtAuto[static_cast<std::size_t>(i)].text == step);
    if (!offered) {
      std::string names;
      for (int i = 0; i < kvr::Station::kFirstSequenceSlot; ++i)
        if (!station.txtAuto[static_cast<std::size_t>(i)].text.empty())
          names += "\n  " + station.txtAuto[static_cast<std::size_t>(i)].text;
      return Fail("no step \"" + step + "\" for the automatic sequence; the steps are:" + names, 2);
    }
  }
  station.EditAutoSequence(2);
  for (const std::string& step : steps) {
    for (int i = 0; i < kvr::Station::kFirstSequenceSlot; ++i)
      if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
    station.EditAutoSequence(0);
  }
  return 0;
}

// Good and failed chips of a run or a repeat, and when it began.
struct Tally {
  long long good = 0;
  long long failed = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

void PrintSummary(const Tally& tally) {
  const long long total = tally.good + tally.failed;
  const double hours =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - tally.start).count() /
      3600.0;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", hours > 0 ? static_cast<double>(total) / hours : 0.0);
  std::cout << "Summary: " << tally.good << " good, " << tally.failed << " failed, " << total
            << " in all, " << rate << " chips per hour\n";
}

// The offline board's options; taken out of the arguments before the station's own are read.
struct OfflineOptions {
  bool download = false;
  bool legend = false;
  std::optional<std::string> copies;
  std::vector<std::string> errors;
};

constexpr const char* kOfflineHelp =
    "Offline board (instead of pressing Program):\n"
    "  --offline-download     download the loaded image to the offline programming board\n"
    "  --copies N             the board's copy limit, 1 to 1000000 (needed for the download)\n"
    "  --offline-legend       show the legend of the board's LEDs\n"
    "  With --offline-download, --simulate serves a simulated offline board, and the exit\n"
    "  status is 0 only when the download ended with \"Download OK.\".\n";

OfflineOptions TakeOfflineOptions(std::vector<std::string>& args) {
  OfflineOptions offline;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--offline-download") {
      offline.download = true;
    } else if (args[i] == "--offline-legend") {
      offline.legend = true;
    } else if (args[i] == "--copies") {
      if (i + 1 < args.size())
        offline.copies = args[++i];
      else
        offline.errors.push_back("option --copies needs a value");
    } else {
      rest.push_back(args[i]);
    }
  }
  if (offline.download && !offline.copies && offline.errors.empty())
    offline.errors.push_back("--offline-download needs --copies N");
  if (offline.copies && !offline.download)
    offline.errors.push_back("--copies belongs to --offline-download");
  args = std::move(rest);
  return offline;
}

std::unique_ptr<kvr::sim::PtyServer> StartSimulatedBoard(std::string* error) {
  auto server = std::make_unique<kvr::sim::PtyServer>();
  if (!server->Open(error)) return nullptr;
  kvr::sim::ServeOfflineBoard(*server, {}, {}, nullptr);
  server->Start();
  return server;
}

}  // namespace

int main(int argc, char** argv) {
  if (kvr::PrintVersionIfAsked(argc, argv, "kvr-cli")) return 0;
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  const OfflineOptions offline = TakeOfflineOptions(args);
  const kvr::IspDemoOptions ispDemo = kvr::TakeIspDemoOptions(args);
  const kvr::StatusOption statusOption = kvr::TakeStatusOption(args);
  kvr::StartOptions options = ParseStartOptions(args, kvr::Program::CommandLine);
  options.errors.insert(options.errors.end(), offline.errors.begin(), offline.errors.end());
  options.errors.insert(options.errors.end(), ispDemo.errors.begin(), ispDemo.errors.end());
  if (!statusOption.error.empty()) options.errors.push_back(statusOption.error);
  if ((ispDemo.write || ispDemo.repeat) && offline.download)
    options.errors.push_back("--offline-download and the ISP demo's writes exclude each other");
  if (!options.errors.empty()) {
    for (const std::string& error : options.errors) std::cerr << "kvr-cli: " << error << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << StartOptionsHelp(kvr::Program::CommandLine) << kOfflineHelp
              << kvr::IspDemoOptionsHelp() << kvr::StatusOptionHelp();
    return 0;
  }

  auto settings =
      options.settingsFile.empty()
          ? std::make_unique<kvr::QtSettingsStore>()
          : std::make_unique<kvr::QtSettingsStore>(QString::fromStdString(options.settingsFile));

  std::unique_ptr<kvr::sim::PtyServer> simulator;
  if (options.simulate) {
    std::string error;
    simulator =
        offline.download ? StartSimulatedBoard(&error) : kvr::StartSimulatedWriter(options, &error);
    if (!simulator) return Fail("cannot start the simulated writer: " + error, 1);
  }

  kvr::PortMap ports;
  ApplyPortOptions(ports, *settings, options, simulator ? simulator->DevicePath() : "");
  int portIndex = options.simulate ? 0 : -1;  // the simulated writer, else the stored choice
  if (!options.port.empty()) {
    const int number = kvr::PortMap::ParsePortName(options.port);
    if (number > 0)
      portIndex = number - 1;
    else {
      ports.SetTarget(1, options.port);  // a device path: COM1 points there for this run
      portIndex = 0;
    }
  }

  kvr::QtSerialPort port(ports);
  port.SetLowLatencyNote([](const std::string& refusal) {
    std::cerr << "kvr-cli: note: " << refusal << "; replies may wait up to 16 ms in the adapter\n";
  });
  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::ConsoleDialogs dialogs(std::cout, options.answer);
#ifndef _WIN32
  kvr::ConsoleBeeper beeper(isatty(STDERR_FILENO) != 0);
#else
  kvr::ConsoleBeeper beeper(false);
#endif
  kvr::ProductionSettings production(*settings);
  if (options.autoSequence) production.AllowSequence();
  kvr::Platform platform{port, pump, timers, dialogs, production, beeper};
  kvr::Station station(platform, options.english);
  station.HostName = QSysInfo::machineHostName().toStdString();
  station.describePort = [&ports](int number) {
    return "COM" + std::to_string(number) + " (" + ports.Target(number) + ")";
  };
  if (portIndex >= 0) station.combCommPort.index = portIndex;
  if (options.showExtraFamilies) station.SetShowExtraFamilies(true);
  if (!options.treeModel.empty() && !ChooseTreeModel(station, options.treeModel))
    return Fail("no model \"" + options.treeModel +
                    "\" in the device tree; it holds:" + TreeModels(station),
                2);
  if (!options.listModel.empty() && !ChooseListModel(station, options.listModel)) {
    std::string names;
    for (const std::string& name : station.combMcuModel.entries) names += " " + name;
    return Fail("no model \"" + options.listModel + "\" in the model list; it holds:" + names, 2);
  }

  const int function = FindFunction(station, options.function);
  if (function < 0) {
    std::string names;
    for (const auto& entry : station.txtFuction) names += "\n  " + entry.text;
    return Fail("no function \"" + options.function + "\"; the function list holds:" + names, 2);
  }
  station.OnFunctionClick(function);
  // The model choice has started the deferred save; its region display is needed now.
  station.DeferredSave();

  if (const int status = PrepareImage(station, dialogs, options); status != 0) return status;
  if (options.autoSequence)
    if (const int status = SetSequence(station, *options.autoSequence); status != 0) return status;
  if (options.report) station.txtReportFile.text = *options.report;
  if (options.reportFormat) station.optReportFormat.selected = *options.reportFormat;
  if (options.delay) station.comDalay_ReDownLoad.index = *options.delay;
  if (options.clearOkCount) station.ClearOkCount();
  if (offline.legend) station.OnOfflineLegendClick();

  // ---- ISP demo ----
  if (const std::string error = kvr::ApplyIspDemoOptions(station, ispDemo); !error.empty())
    return Fail(error, 2);
  if (ispDemo.Builds() && station.SelectedDevice.DeviceClassCode != 2)
    return Fail(
        "the ISP demo is built for a model of the VXA family from the model list "
        "(--list-model VXA01H ... VXA06L)",
        2);
  bool ispDemoRefused = false;
  if (ispDemo.show) {
    ispDemoRefused = station.BuildIspDemo();
    std::cout << kvr::IspDemoListing(station);
  }
  const bool ispDemoWrites = ispDemo.write || ispDemo.repeat;
  if (ispDemo.show && !ispDemoWrites) return ispDemoRefused ? 1 : 0;
  // ---- end of the ISP demo ----

  if (!offline.download && !ispDemoWrites && (offline.legend || !options.program)) return 0;

#ifndef _WIN32
  const bool terminal = isatty(STDOUT_FILENO) != 0;
#else
  const bool terminal = false;
#endif
  // ---- Status stream for a supervisor ----
  std::unique_ptr<kvr::StatusStream> statusStream;
  if (statusOption.fd >= 0) {
#ifndef _WIN32
    // A supervisor that went away is noticed on the next line, not by a signal mid-chip.
    ::signal(SIGPIPE, SIG_IGN);
#endif
    statusStream = std::make_unique<kvr::StatusStream>(kvr::DescriptorWriter(statusOption.fd));
    // Nobody supervises the line any more: stop as the Stop button does.
    statusStream->OnReaderGone([&station] {
      station.EndRepeat();
      if (station.RunInProgress()) station.OnStopClick();
    });
  }
  // ---- end of the status stream ----

  kvr::LogPrinter printer(std::cout, terminal);
  std::chrono::steady_clock::time_point progressStart;
  std::chrono::steady_clock::time_point progressDrawn;
  bool progressShown = false;
  std::uint64_t runsPrinted = station.RunsStarted;
  pump.SetIdleHook([&] {
    if (statusStream) statusStream->Update(station);
    if (station.RunsStarted != runsPrinted) {
      runsPrinted = station.RunsStarted;
      printer.NewRun();
    }
    printer.Update(station.textMsg.Text());
    const kvr::ProgressBar& bar = station.ProgressBar1;
    if (!bar.visible) {
      progressShown = false;
      printer.SetStatus({});
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!progressShown) progressStart = now;
    // Ten times a second is as often as anybody reads it.
    if (progressShown && now - progressDrawn < std::chrono::milliseconds(100)) return;
    progressShown = true;
    progressDrawn = now;
    printer.SetStatus(
        kvr::ProgressText(station.CurrentOperation, bar.minimum, bar.maximum, bar.value,
                          std::chrono::duration<double>(now - progressStart).count()));
  });
  // The command line's Stop button.
  kvr::QtStopSignals stopSignals([&station] {
    if (station.RunInProgress()) station.OnStopClick();
  });

  Tally tally;
  station.onRunFinished = [&] {
    if (statusStream) statusStream->RunFinished(station);
    const bool good = station.LastRun.connected && station.LastRun.result == 0;
    (good ? tally.good : tally.failed) += 1;
    if (!station.LastReportError.empty())
      std::cerr << "kvr-cli: warning: the production report could not be written: "
                << station.LastReportError << '\n';
    if (options.count && tally.good + tally.failed >= *options.count) station.EndRepeat();
    // A stop between two chips ends the repeat with the last chip's result standing.
    if (stopSignals.Received() > 0) station.EndRepeat();
  };
  if (statusStream) statusStream->Started(station.describePort(station.combCommPort.index + 1));
  if (offline.download) {
    station.txt_download_max.text = *offline.copies;
    station.OnOfflineDownloadClick();
  } else if (ispDemo.write) {
    station.OnWriteIspDemoClick();
  } else if (ispDemo.repeat) {
    station.OnRewriteIspDemoClick();
  } else if (options.repeat) {
    station.RepeatRun();
  } else {
    station.OnProgramClick();
  }
  station.onRunFinished = {};
  printer.Update(station.textMsg.Text());
  printer.Finish();

  int status = 0;
  if (!options.logOut.empty()) {
    std::ofstream out(options.logOut, std::ios::binary | std::ios::trunc);
    out << station.textMsg.Text();
    out.close();
    if (!out) status = Fail("cannot write the message log to " + options.logOut, 1);
  }

  if (offline.download) {
    if (station.LastOfflineDownload != 0)
      return Fail("the download to the offline board did not end with \"Download OK.\"", 1);
    return status;
  }
  if (options.repeat) {
    PrintSummary(tally);
    return tally.failed == 0 && tally.good > 0 ? status : 1;
  }

  if (ispDemoWrites && station.IspDemoRefused)
    return Fail("the ISP demo was not written: its build was refused", 1);
  if (ispDemo.repeat) {
    std::cout << "ISP demo runs: " << tally.good + tally.failed << ", good " << tally.good
              << ", failed " << tally.failed << '\n';
    return tally.good > 0 && tally.failed == 0 ? status : 1;
  }

  const auto& run = station.LastRun;
  if (run.portLost) return Fail("the port was lost during the run", 1);
  if (!run.connected) return Fail(run.reason.Pick(station.UseEnglish), 1);
  if (run.function == "Read MCU ID" && run.result) {
    const kvr::SelectedDeviceFields& device = station.SelectedDevice;
    const bool fromList = !options.listModel.empty();
    std::cout << "Model: " << (fromList ? options.listModel : station.txtDevice.text)
              << (fromList ? " from the model list" : " from the device tree") << " (class "
              << device.DeviceClassCode << ", identity " << device.IdentityCode << ")\n"
              << "Verdict: " << Verdict(*run.result) << '\n';
  }
  if (run.result != 0) return Fail(run.reason.Pick(station.UseEnglish), 1);
  if (options.saveAfter) return Store(station, dialogs, *options.saveAfter);
  return status;
}
