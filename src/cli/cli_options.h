#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/start_options.h"
#include "command_line/command_line.h"

namespace kvr {

// The offline board's options: they replace pressing Program.
struct OfflineOptions {
  bool download = false;
  bool legend = false;
  std::optional<std::string> copies;
};

// Everything kvr-cli is told on its command line.
struct CliOptions {
  StartOptions start;
  IspDemoOptions ispDemo;
  OfflineOptions offline;
  int statusFd = -1;  // --status-fd N
  // --save-job FILE: the job the other options set up is written there, with the product name
  // and the note, instead of pressing Program.
  std::string saveJob;
  std::optional<std::string> product;
  std::optional<std::string> note;
};

// kvr-cli's command line, its options bound to `options`.
CommandLine CliCommandLine(CliOptions& options);
// Parses `args` with `line` and checks the options that need one another.
CommandLine::Result ParseCliOptions(CommandLine& line, const std::vector<std::string>& args,
                                    CliOptions& options);

}  // namespace kvr
