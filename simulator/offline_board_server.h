#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/offline_board.h"
#include "simulator/pty_server.h"

namespace kvr::sim {

// What kvr-writer-sim needs to serve the offline board instead of the writer.
struct BoardServeOptions {
  bool enabled = false;
  OfflineBoardConfig config;
  std::string imagePath;  // written at the end of every download; empty: not written
};

// The board's options of kvr-writer-sim, each with a value; every one of them implies --board.
struct BoardOptionName {
  const char* name;
  const char* valueName;
  const char* help;
};
extern const std::vector<BoardOptionName> kBoardOptions;

// Sets the board option `name` to `value`; what is wrong with it, or nothing.
std::string SetBoardOption(std::string_view name, std::string_view value,
                           BoardServeOptions& options);

// Puts the board on the server's line. The writer's reply latency and --silent apply to it too;
// its frames go to `frameLog` when there is one. The board lives as long as the server's peer.
std::shared_ptr<OfflineBoard> ServeOfflineBoard(PtyServer& server, BoardServeOptions options,
                                                const WriterConfig& writer, std::ostream* frameLog);

// Writes the board image to `path` through a file beside it, so a reader never sees half of it.
bool WriteBoardImage(const std::string& path, const Bytes& image);

}  // namespace kvr::sim
