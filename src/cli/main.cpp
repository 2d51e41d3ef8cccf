// kvr-cli: the station without a window. It presses Program once, prints the message log as it
// grows and tells by its exit status whether the run connected and its operation succeeded.

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/start_options.h"
#include "app/station.h"
#include "cli/console_dialogs.h"
#include "cli/log_printer.h"
#include "kvr_version.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_timer.h"
#include "simulator/offline_board_server.h"
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
  if (options.exportRange) {
    if (IsFolder(options.exportRange->file))
      return Fail("cannot store into \"" + options.exportRange->file + "\": it is a directory", 2);
    station.WriteExportField(station.txt_Start_Address, options.exportRange->start);
    station.WriteExportField(station.txt_length, options.exportRange->length);
    dialogs.QueueSavePath(options.exportRange->file);
    if (!station.BinExport()) return Fail("the export wrote no file", 1);
  }
  if (options.view) {
    std::string view;
    for (char c : station.txtBuffer.text)
      if (c != '\r') view.push_back(c);
    std::cout << view;
  }
  return 0;
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
  kvr::StartOptions options = ParseStartOptions(args, kvr::Program::CommandLine);
  options.errors.insert(options.errors.end(), offline.errors.begin(), offline.errors.end());
  if (!options.errors.empty()) {
    for (const std::string& error : options.errors) std::cerr << "kvr-cli: " << error << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << StartOptionsHelp(kvr::Program::CommandLine) << kOfflineHelp;
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
  int portIndex = -1;  // the stored choice
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
  kvr::Platform platform{port, pump, timers, dialogs, production, beeper};
  kvr::Station station(platform, options.english);
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
  if (offline.legend) station.OnOfflineLegendClick();
  if (!offline.download && (offline.legend || !options.program)) return 0;

  kvr::LogPrinter printer(std::cout);
  pump.SetIdleHook([&] { printer.Update(station.textMsg.Text()); });
  if (offline.download) {
    station.txt_download_max.text = *offline.copies;
    station.OnOfflineDownloadClick();
  } else {
    station.OnProgramClick();
  }
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

  const auto& run = station.LastRun;
  if (run.portLost) return Fail("the port was lost during the run", 1);
  if (!run.connected) return Fail("the run did not reach the writer", 1);
  if (run.function == "Read MCU ID" && run.result) {
    const kvr::SelectedDeviceFields& device = station.SelectedDevice;
    const bool fromList = !options.listModel.empty();
    std::cout << "Model: " << (fromList ? options.listModel : station.txtDevice.text)
              << (fromList ? " from the model list" : " from the device tree") << " (class "
              << device.DeviceClassCode << ", identity " << device.IdentityCode << ")\n"
              << "Verdict: " << Verdict(*run.result) << '\n';
  }
  if (!run.result) {
    std::cerr << "kvr-cli: note: \"" << run.function
              << "\" has no operation in this build yet; the run connected and closed down\n";
    return status;
  }
  if (*run.result != 0)
    return Fail("\"" + run.function + "\" failed (result " + std::to_string(*run.result) + ")", 1);
  return status;
}
