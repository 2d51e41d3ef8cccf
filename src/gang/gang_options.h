#pragma once

#include <string>
#include <utility>
#include <vector>

#include "command_line/command_line.h"

namespace kvr::gang {

// kvr-gang's command line: the writers, the station options every station gets, the options
// that set shared settings once before the line starts, and the supervisor's own.
struct GangOptions {
  std::vector<std::string> ports;  // --ports: COMn entries or device paths
  int simulate = 0;                // --simulate N: N simulated writers instead
  // kvr-writer-sim options: for every simulated writer (number 0) or for writer 1..N.
  std::vector<std::pair<int, std::vector<std::string>>> simOptions;
  std::vector<std::string> simOptionTexts;  // --sim-options as given

  // Passed to every station as given.
  std::vector<std::string> stationArgs;
  // Set once in the shared settings before the stations start: a station that started later
  // would otherwise set the next serial number back under the feet of the others.
  std::vector<std::string> onceArgs;
  // Given to the setting-up run and to every station (settings file, model, language, answer).
  std::vector<std::string> sharedArgs;

  int hangAfterSeconds = 30;  // --hang-after S: no word from a station for S seconds
  std::string logDir;         // --log-dir DIR: each station's message log, each simulator's errors
  std::string cli;            // --cli PATH: the station program
  std::string writerSim;      // --writer-sim PATH: the simulator program
  Verbosity verbosity = Verbosity::Normal;
  std::vector<std::string> errors;
};

// kvr-gang's command line, its options bound to `options`.
CommandLine GangCommandLine(GangOptions& options);
// Parses `args` with `line` and checks the options that need one another.
CommandLine::Result ParseGangOptions(CommandLine& line, const std::vector<std::string>& args,
                                     GangOptions& options);
// The same on a command line of its own; the errors in `errors`.
GangOptions ParseGangOptions(const std::vector<std::string>& args);

// The setting-up run before the line starts: every option checked once (a bad one fails here,
// not in every station) and the shared settings set once; the station presses nothing.
std::vector<std::string> SetUpArguments(const GangOptions& options);

// kvr-cli's arguments for the station of `port`, its status stream on descriptor `statusFd`.
std::vector<std::string> StationArguments(const GangOptions& options, const std::string& port,
                                          int statusFd);

// kvr-writer-sim's arguments for simulated writer `number` (from 1).
std::vector<std::string> SimulatorArguments(const GangOptions& options, int number);

}  // namespace kvr::gang
