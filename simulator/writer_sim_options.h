#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "command_line/command_line.h"
#include "simulator/offline_board_server.h"
#include "simulator/target_chip.h"
#include "simulator/writer_simulator.h"

namespace kvr::sim {

// What kvr-writer-sim is told on its command line.
struct WriterSimOptions {
  WriterConfig config;
  std::size_t flashSize = TargetChip::kDefaultFlashSize;
  std::optional<std::pair<std::uint8_t, std::uint8_t>> optionRegisters;
  std::string flashImagePath;
  std::string dumpPath;
  BoardServeOptions board;
  std::string framesPath;
  std::string linkPath;
  Verbosity verbosity = Verbosity::Normal;
};

// kvr-writer-sim's command line, its options bound to `options`.
CommandLine WriterSimCommandLine(WriterSimOptions& options);

}  // namespace kvr::sim
