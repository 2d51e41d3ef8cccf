#pragma once

#include <string>
#include <vector>

#include "command_line/command_line.h"

namespace kvr {

// What kvr-isp is told on its command line.
struct IspOptions {
  std::string port;
  int baud = 0;
  bool parity = false;
  int waitMs = 0;
  std::string command;
  std::string file;
  Verbosity verbosity = Verbosity::Normal;
  std::vector<std::string> words;  // the command and its file
};

// kvr-isp's command line, its options bound to `options`.
CommandLine IspCommandLine(IspOptions& options);
// Parses `args` with `line`, the command and its file among them.
CommandLine::Result ParseIspOptions(CommandLine& line, const std::vector<std::string>& args,
                                    IspOptions& options);

}  // namespace kvr
