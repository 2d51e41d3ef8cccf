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
#include "cli/cli_options.h"
#include "cli/console_dialogs.h"
#include "cli/log_printer.h"
#include "cli/status_stream.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_stop_signals.h"
#include "platform/qt/qt_timer.h"
#include "platform/sql/engines.h"
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

// The station's text for the console: plain line breaks.
std::string ConsoleText(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
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

std::string SerialSettingsText(const kvr::Station& station) {
  static constexpr const char* kModes[] = {"hex", "dec", "ascii"};
  const auto& fields = station.texAuto_Increase;
  const int mode = station.optAuto_Increase.selected;
  return "address " + fields[0].text + ", bytes " + fields[1].text + ", next " + fields[2].text +
         ", step " + fields[3].text + ", mode " + (mode >= 0 && mode <= 2 ? kModes[mode] : "?");
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
  // Numbers only grow: a step of 0 repeats a number, a negative one hands out old ones.
  if (options.serialStep && !kvr::ReadStep(*options.serialStep))
    return Fail(
        "--serial-step wants a whole number of 1 or more, not \"" + *options.serialStep + "\"", 2);
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
  // A job that stamps numbers goes on stamping them, checked again with what the options
  // changed (a load clears the box, as it does in the window).
  const bool stamped = station.cheAuto_Increase.checked;
  if (!options.load.empty()) {
    if (IsFolder(options.load))
      return Fail("cannot open \"" + options.load + "\": it is a directory", 2);
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(options.load), error))
      return Fail("cannot open \"" + options.load + "\": no such file", 2);
    dialogs.QueueOpenPath(options.load);
    station.OnLoadFileClick();
  }
  if (options.serialEnable || stamped) {
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
    // Ticked but refused would program chips without their numbers: nothing starts.
    if (!station.SerialActive || station.SerialStampRefused())
      return Fail(std::string(options.serialEnable ? "--serial-enable" : "the job's stamp") +
                      " was refused: the serial-number settings are not valid (" +
                      SerialSettingsText(station) + "; see the message above)",
                  2);
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

// The automatic sequence as the operator builds it.
int SetSequence(kvr::Station& station, const std::vector<std::string>& steps) {
  const std::optional<std::string> unknown = station.SetAutoSequence(steps);
  if (!unknown) return 0;
  std::string names;
  for (int i = 0; i < kvr::Station::kFirstSequenceSlot; ++i)
    if (!station.txtAuto[static_cast<std::size_t>(i)].text.empty())
      names += "\n  " + station.txtAuto[static_cast<std::size_t>(i)].text;
  return Fail("no step \"" + *unknown + "\" for the automatic sequence; the steps are:" + names, 2);
}

// Good and failed chips of a run or a repeat, and when it began. A run that did not reach the
// writer is no chip.
struct Tally {
  long long good = 0;
  long long failed = 0;
  long long unreached = 0;
  int unreachedInARow = 0;
  bool gaveUp = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// A writer that three runs in a row did not reach is gone, as kvr-gang judges it too.
constexpr int kUnreachedRunsToGiveUp = 3;

void PrintSummary(const Tally& tally) {
  const long long total = tally.good + tally.failed;
  const double hours =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - tally.start).count() /
      3600.0;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", hours > 0 ? static_cast<double>(total) / hours : 0.0);
  std::cout << "Summary: " << tally.good << " good, " << tally.failed << " failed, " << total
            << " in all, " << rate << " chips per hour";
  if (tally.unreached > 0)
    std::cout << "; " << tally.unreached << (tally.unreached == 1 ? " run" : " runs")
              << " did not reach the writer";
  std::cout << '\n';
}

// What the station was told, in one line, so that the log of a line shows it for each station:
// the port and its device, the model, the image and what Program does.
std::string DescribeRun(const kvr::Station& station, const kvr::CliOptions& cli) {
  std::string image = "no image";
  if (station.FileLoaded) {
    std::error_code error;
    const auto size =
        std::filesystem::file_size(std::filesystem::u8path(station.LoadedFileName), error);
    char crc[24] = "";
    if (station.LoadedFileCrc32)
      std::snprintf(crc, sizeof crc, ", CRC-32 %08X",
                    static_cast<unsigned>(*station.LoadedFileCrc32));
    image = "image " + station.LoadedFileName + " (" +
            (error ? std::string("size unknown") : std::to_string(size) + " bytes") + crc + ")";
  }
  std::string what;
  if (cli.offline.download) {
    what = "offline download of " + cli.offline.copies.value_or("") + " copies";
  } else if (cli.ispDemo.write || cli.ispDemo.repeat) {
    what = cli.ispDemo.write ? "ISP demo write" : "ISP demo repeat";
  } else {
    what = "\"" + cli.start.function + "\"";
    if (cli.start.function == "Auto Program") {
      std::string steps;
      for (int i = kvr::Station::kFirstSequenceSlot; i < kvr::Station::kAutoSlots; ++i) {
        const std::string& step = station.txtAuto[static_cast<std::size_t>(i)].text;
        if (!step.empty()) steps += (steps.empty() ? "" : ", ") + step;
      }
      what += " (" + (steps.empty() ? std::string("empty sequence") : steps) + ")";
    }
    if (cli.start.repeat) what += ", repeated";
  }
  std::string job;
  if (station.Job) {
    const std::u8string name = std::filesystem::u8path(station.Job->file).filename().u8string();
    job = ", job " + std::string(name.begin(), name.end()) +
          (station.JobProductName().empty() ? "" : " (" + station.JobProductName() + ")");
  }
  std::string line;
  if (!kvr::Trim(station.txtLineDatabase.text).empty())
    line = ", line \"" + station.LineName() + "\" in " + kvr::Trim(station.txtLineDatabase.text);
  return station.describePort(station.combCommPort.index + 1) + job + ", model " +
         station.ModelName() + ", " + image + ", " + what + line;
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
  QCoreApplication app(argc, argv);
  kvr::CliOptions cli;
  kvr::CommandLine line = kvr::CliCommandLine(cli);
  if (const auto result =
          ParseCliOptions(line, std::vector<std::string>(argv + 1, argv + argc), cli);
      result != kvr::CommandLine::Result::Run)
    return line.Report(result, std::cout, std::cerr);
  kvr::StartOptions& options = cli.start;
  const kvr::OfflineOptions& offline = cli.offline;
  const kvr::IspDemoOptions& ispDemo = cli.ispDemo;

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
  const bool quiet = options.verbosity == kvr::Verbosity::Quiet;
  // Where what --quiet leaves out goes.
  std::ostream nowhere(nullptr);
  std::ostream& told = quiet ? nowhere : std::cout;
  port.SetLowLatencyNote([quiet](const std::string& refusal) {
    if (!quiet)
      std::cerr << "kvr-cli: note: " << refusal
                << "; replies may wait up to 16 ms in the adapter\n";
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
  const std::unique_ptr<kvr::LineDatabases> lineDatabases = kvr::LineDatabaseEngines();
  kvr::Platform platform{port,       pump,   timers,  dialogs,
                         production, beeper, nullptr, lineDatabases.get()};
  kvr::Station station(platform, options.english, {options.lineDatabase, options.lineName});
  station.HostName = QSysInfo::machineHostName().toStdString();
  station.describePort = [&ports](int number) {
    return "COM" + std::to_string(number) + " (" + ports.Target(number) + ")";
  };
  if (portIndex >= 0) station.combCommPort.index = portIndex;
  // The line goes on when its database comes back: a station that cannot reach it starts.
  if (!station.LineProblem.empty())
    std::cerr << "kvr-cli: warning: the line database cannot be used: " << station.LineProblem
              << '\n';
  // The job first; the options that follow change it for this run.
  if (!options.job.empty() && !station.OpenJobFile(options.job, options.locked))
    return Fail(ConsoleText(station.LastJobError), 2);
  if (options.showExtraFamilies) station.SetShowExtraFamilies(true);
  if (!options.treeModel.empty() && !station.ChooseModel(options.treeModel, false))
    return Fail("no model \"" + options.treeModel +
                    "\" in the device tree; it holds:" + TreeModels(station),
                2);
  if (!options.listModel.empty() && !station.ChooseModel(options.listModel, true)) {
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
  // A model choice has started the deferred save; its region display is needed now. A job
  // applied alone has run its own.
  if (station.Timer3().Enabled()) station.DeferredSave();

  if (const int status = PrepareImage(station, dialogs, options); status != 0) return status;
  if (options.autoSequence)
    if (const int status = SetSequence(station, *options.autoSequence); status != 0) return status;
  if (options.report) station.txtReportFile.text = *options.report;
  if (options.reportFormat) station.optReportFormat.selected = *options.reportFormat;
  if (options.delay) station.comDalay_ReDownLoad.index = *options.delay;
  if (options.clearOkCount) station.ClearOkCount();
  if (offline.legend) station.OnOfflineLegendClick();
  if (!cli.saveJob.empty()) {
    if (cli.product) station.txtJobProduct.text = *cli.product;
    if (cli.note) station.txtJobNote.text = *cli.note;
    // Options that set up no image set up no job; a file that cannot be written is no job saved.
    if (!station.SaveJobFile(cli.saveJob))
      return Fail(ConsoleText(station.LastJobError), station.FileLoaded ? 1 : 2);
    told << "Job saved: " << cli.saveJob << " (CRC-32 " << kvr::Crc32Text(station.Job->fileCrc32)
         << ")" << std::endl;
    return 0;
  }

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
  if (cli.statusFd >= 0) {
#ifndef _WIN32
    // A supervisor that went away is noticed on the next line, not by a signal mid-chip.
    ::signal(SIGPIPE, SIG_IGN);
#endif
    statusStream = std::make_unique<kvr::StatusStream>(kvr::DescriptorWriter(cli.statusFd));
    // Nobody supervises the line any more: stop as the Stop button does.
    statusStream->OnReaderGone([&station] {
      station.EndRepeat();
      if (station.RunInProgress()) station.OnStopClick();
    });
  }
  // ---- end of the status stream ----

  kvr::LogPrinter printer(told, terminal && !quiet);
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
    const kvr::Station::RunRecord& run = station.LastRun;
    if (!run.connected && !run.portLost) {
      ++tally.unreached;
      if (++tally.unreachedInARow >= kUnreachedRunsToGiveUp && (options.repeat || ispDemo.repeat) &&
          !tally.gaveUp) {
        tally.gaveUp = true;
        std::cerr << "kvr-cli: " << tally.unreachedInARow
                  << " runs in a row did not reach the writer: the repeat ends\n";
        station.EndRepeat();
      }
    } else {
      tally.unreachedInARow = 0;
      (run.connected && run.result == 0 ? tally.good : tally.failed) += 1;
    }
    if (!station.LastReportError.empty())
      std::cerr << "kvr-cli: warning: the production report could not be written: "
                << station.LastReportError << '\n';
    if (!station.LastLineError.empty())
      std::cerr << "kvr-cli: warning: the chip's record could not be written to the line "
                   "database: "
                << station.LastLineError << '\n';
    if (!station.LastCountError.empty())
      std::cerr << "kvr-cli: warning: the good count could not be stored: "
                << station.LastCountError << '\n';
    if (options.count && tally.good + tally.failed >= *options.count) station.EndRepeat();
    // A stop between two chips ends the repeat with the last chip's result standing.
    if (stopSignals.Received() > 0) station.EndRepeat();
  };
  if (statusStream) statusStream->Started(station.describePort(station.combCommPort.index + 1));
  if (options.verbosity == kvr::Verbosity::Verbose) kvr::ReportExchanges(station.link, std::cerr);
  told << "Run: " << DescribeRun(station, cli) << std::endl;
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
    return tally.failed == 0 && tally.good > 0 && !tally.gaveUp ? status : 1;
  }

  if (ispDemoWrites && station.IspDemoRefused)
    return Fail("the ISP demo was not written: its build was refused", 1);
  if (ispDemo.repeat) {
    const long long failed = tally.failed + tally.unreached;
    std::cout << "ISP demo runs: " << tally.good + failed << ", good " << tally.good << ", failed "
              << failed << '\n';
    return tally.good > 0 && failed == 0 ? status : 1;
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
