#include "simulator/offline_board_server.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>

namespace kvr::sim {

const std::vector<BoardOptionName> kBoardOptions = {
    {"--board-image", "FILE", "write the received board image to FILE when a download ends"},
    {"--board-capacity", "K", "what the board holds, in K (default 51)"},
    {"--board-option", "N", "the option byte the board reports (default 0)"},
    {"--board-erase-ms", "N", "time the board takes to erase (default 1000)"},
    {"--board-drop-frame", "N", "lose the N-th data frame after an erase"},
    {"--board-bad-check", "HEX", "answer this command with a wrong CRC"},
    {"--board-weak-cell", "HEX", "a board address that stores the inverse of its byte"},
};

namespace {

template <typename T>
bool Parse(std::string_view text, int base, T min, T max, T& value) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= min &&
         value <= max;
}

}  // namespace

std::string SetBoardOption(std::string_view name, std::string_view value,
                           BoardServeOptions& options) {
  auto bad = [&](std::string_view what) { return std::string(name) + ": " + std::string(what); };
  OfflineBoardConfig& c = options.config;
  unsigned number = 0;
  if (name == "--board-image") {
    if (value.empty()) return bad("expects a path");
    options.imagePath = value;
  } else if (name == "--board-capacity" || name == "--board-option") {
    if (!Parse(value, 10, 0U, 255U, number)) return bad("expects a number from 0 to 255");
    (name == "--board-capacity" ? c.capacityK : c.optionByte) = static_cast<std::uint8_t>(number);
  } else if (name == "--board-erase-ms") {
    if (!Parse(value, 10, 0U, 3'600'000U, number))
      return bad("expects a number of milliseconds from 0 to 3600000");
    c.eraseTimeUs = static_cast<std::int64_t>(number) * 1000;
  } else if (name == "--board-drop-frame") {
    if (!Parse(value, 10, 1U, static_cast<unsigned>(std::numeric_limits<int>::max()), number))
      return bad("expects a number >= 1");
    c.dropDataFrame = static_cast<int>(number);
  } else if (name == "--board-bad-check") {
    if (!Parse(value, 16, 0U, 0xFFU, number)) return bad("expects a hex command code, e.g. 86");
    c.badCheckCommand = static_cast<int>(number);
  } else if (name == "--board-weak-cell") {
    if (!Parse(value, 16, 0U, 0xFFFFU, number)) return bad("expects a hex board address");
    c.weakCell = static_cast<std::uint16_t>(number);
  } else {
    return bad("unknown option");
  }
  options.enabled = true;
  return {};
}

bool WriteBoardImage(const std::string& path, const Bytes& image) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out.flush()) return false;
  }
  return std::rename(partial.c_str(), path.c_str()) == 0;
}

std::shared_ptr<OfflineBoard> ServeOfflineBoard(PtyServer& server, BoardServeOptions options,
                                                const WriterConfig& writer,
                                                std::ostream* frameLog) {
  options.config.latencyUs = writer.latencyUs;
  options.config.silent = options.config.silent || writer.fault == Fault::Silent;
  auto board = std::make_shared<OfflineBoard>(options.config);
  if (frameLog != nullptr)
    board->SetFrameObserver(
        [frameLog](const Bytes& frame) { *frameLog << ToHexLine(frame) << std::endl; });
  if (!options.imagePath.empty())
    board->SetDownloadObserver([path = options.imagePath](const Bytes& image, bool) {
      if (!WriteBoardImage(path, image))
        std::cerr << "kvr-writer-sim: cannot write " << path << "\n";
    });
  server.SetPeer([board](const std::uint8_t* data, std::size_t size, std::int64_t nowUs) {
    return board->Receive(data, size, nowUs);
  });
  return board;
}

}  // namespace kvr::sim
