#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <memory>

#include "command_line/command_line.h"
#include "link/writer_link.h"
#include "platform/port_map.h"
#include "platform/settings_store.h"

namespace kvr {

namespace sim {
class PtyServer;
}

// Start options of both programs; the command line has a few more of its own.
struct StartOptions {
  // Shared.
  bool simulate = false;                       // COM1 points at the built-in simulated writer
  std::optional<std::uint16_t> simulatedChip;  // identity code of the simulated chip
  std::vector<std::string> portMap;            // "COMn=PATH", applied after the stored overrides
  std::string settingsFile;                    // another settings file instead of the per-user one
  bool english = true;                         // --language en|zh: the language of the window
  Verbosity verbosity = Verbosity::Normal;     // -q, -v
  bool languageGiven = false;                  // else the window speaks the stored language
  std::optional<std::string> lineDatabase;     // --line-db URL, for this session
  std::string lineName;                        // --line NAME
  bool help = false;
  std::string job;      // --job FILE: the production job, opened before the other options
  bool locked = false;  // --locked: operator mode; options that would change the job are refused

  // Command line only.
  std::string port;  // "COMn" or a device path
  std::string function = "Auto Program";
  std::optional<bool> answer;  // --yes / --no for question boxes
  std::string logOut;
  std::string treeModel;  // --model: a model of the device tree
  std::string listModel;  // --list-model: a model of the model list
  bool showExtraFamilies = false;
  // Image buffer and files, applied in this order: buffer start, clear, fill byte, serial
  // fields, load, serial stamp, export, view.
  std::string bufferStart;         // --buffer-start HEX
  bool clearBuffer = false;        // --clear-buffer
  std::optional<int> fill;         // --fill FF|00: index of the fill-byte choice
  std::string load;                // --load FILE; the window: FILE, the one argument not an option
  std::vector<std::string> files;  // the window's arguments that are no options
  struct ExportRange {
    std::string start, length, file;
  };
  std::optional<ExportRange> exportRange;  // --export START LENGTH FILE
  bool view = false;                       // --view
  // Serial numbers: the four fields, the encoding (0 hex, 1 dec, 2 ascii) and the check box.
  std::optional<std::string> serialAddress, serialBytes, serialNext, serialStep;
  std::optional<int> serialMode;
  bool serialEnable = false;
  bool program = true;  // --no-program: file work only, no run
  // After the run: the .bin export of the Save_file tab (only when the run succeeded).
  std::optional<ExportRange> saveAfter;  // --save-after START LENGTH FILE

  // Production runs.
  std::optional<std::vector<std::string>> autoSequence;  // --auto-sequence "A,B,C"
  bool repeat = false;                                   // --repeat
  std::optional<long long> count;                        // --count N: chips of a repeat
  std::optional<int> delay;                              // --delay S: seconds between chips
  bool clearOkCount = false;                             // --clear-ok-count
  std::optional<std::string> report;                     // --report FILE
  std::optional<int> reportFormat;                       // --report-format csv|jsonl: 0 or 1

  std::vector<std::string> errors;  // one clear message per bad option
};

enum class Program { Window, CommandLine };

// The program's command line without its options; AddStartOptions adds those of StartOptions.
CommandLine StartCommandLine(Program program);
void AddStartOptions(CommandLine& line, StartOptions& options, Program program);
// The window's FILE into `load`; false (and the error added) when more than one was given, or
// one and a job, or --locked without a job.
bool TakeWindowFile(StartOptions& options);

StartOptions ParseStartOptions(const std::vector<std::string>& args, Program program);

// The built-in simulated writer of --simulate, serving on a pseudo-terminal; nullptr (and the
// reason in `error`) when it cannot start.
std::unique_ptr<sim::PtyServer> StartSimulatedWriter(const StartOptions& options,
                                                     std::string* error);

// A line per exchange with the writer on `out` (--verbose).
void ReportExchanges(WriterLink& link, std::ostream& out);

// Default table, then the stored overrides, then the start options; `simulatorPath` (when not
// empty) is where COM1 points for --simulate.
void ApplyPortOptions(PortMap& ports, SettingsStore& settings, const StartOptions& options,
                      const std::string& simulatorPath);

// ---- The ISP demo on the command line ----
class Station;

// A pin as the two lists of the ISP demo tab choose it: port P0..P4, bit 0..7.
struct IspDemoPin {
  int port = 0;
  int bit = 0;
};

struct IspDemoOptions {
  std::optional<std::string> crystal;  // --isp-crystal MHZ
  std::optional<std::string> baud;     // --isp-baud B
  std::optional<bool> parity;          // --isp-parity yes|no
  std::optional<bool> eraseData;       // --isp-erase-data yes|no
  // --isp-watchdog and --isp-rs485: none (an empty pin) or PORT.BIT.
  std::optional<std::optional<IspDemoPin>> watchdog;
  std::optional<std::optional<IspDemoPin>> rs485;
  std::optional<bool> rs485HighTransmit;  // --isp-rs485-logic high-transmit|high-receive
  bool show = false;                      // --show-isp-demo
  bool write = false;                     // --isp-demo-write
  bool repeat = false;                    // --isp-demo-repeat

  bool Builds() const { return show || write || repeat; }
};

void AddIspDemoOptions(CommandLine& line, IspDemoOptions& options);
// Sets the tab's controls as an operator would; an error text when a value fits no control.
std::string ApplyIspDemoOptions(Station& station, const IspDemoOptions& options);
// The demo's kilobyte as the builder placed it, 16 bytes a line with the address, then the
// reload and the baud-rate error.
std::string IspDemoListing(const Station& station);
// ---- end of the ISP demo ----

}  // namespace kvr
