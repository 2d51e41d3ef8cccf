#pragma once

#include <optional>
#include <string>
#include <vector>

#include "command_line/command_line.h"

namespace kvr {

// What kvr-line is told: the database, the command and what the command takes.
struct LineOptions {
  std::vector<std::string> words;  // URL COMMAND [N]
  std::string url;
  std::string command;  // init, status, records or serial
  std::string serial;   // the N of "serial N"
  std::string line;     // --line NAME; empty: every line (init: "default")
  std::optional<std::string> since;
  int format = 0;  // --format: 0 csv, 1 jsonl
  // init: the line's numbering, as kvr-cli's --serial-* options take it.
  std::optional<std::string> next, step, bytes, address;
  std::optional<int> mode;
};

// kvr-line's command line, its options bound to `options`.
CommandLine LineCommandLine(LineOptions& options);
// Parses `args` with `line`: the URL, the command and the options that belong to it.
CommandLine::Result ParseLineOptions(CommandLine& line, const std::vector<std::string>& args,
                                     LineOptions& options);

}  // namespace kvr
