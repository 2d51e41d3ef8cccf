#include "simulator/offline_board_server.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>

namespace kvr::sim {

const char* const kBoardUsage =
    "\n"
    "Offline board (every --board-... option implies --board):\n"
    "  --board                serve the offline programming board instead of the writer\n"
    "  --board-image FILE     write the received board image to FILE when a download ends\n"
    "  --board-capacity K     what the board holds, in K (default 51)\n"
    "  --board-option N       the option byte the board reports (default 0)\n"
    "  --board-erase-ms N     time the board takes to erase (default 1000)\n"
    "  --board-drop-frame N   lose the N-th data frame after an erase\n"
    "  --board-bad-check HEX  answer this command with a wrong CRC\n"
    "  --board-weak-cell HEX  a board address that stores the inverse of its byte\n";

namespace {

template <typename T>
bool Parse(std::string_view text, int base, T min, T max, T& value) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= min &&
         value <= max;
}

}  // namespace

BoardOption TakeBoardOption(const std::vector<std::string_view>& args, std::size_t& i,
                            BoardServeOptions& options, std::string* error) {
  const std::string_view arg = args[i];
  if (arg == "--board") {
    options.enabled = true;
    return BoardOption::Taken;
  }
  if (!arg.starts_with("--board-")) return BoardOption::NotABoardOption;
  auto bad = [&](std::string_view what) {
    *error = std::string(arg) + ": " + std::string(what);
    return BoardOption::Bad;
  };
  const bool known = arg == "--board-image" || arg == "--board-capacity" ||
                     arg == "--board-option" || arg == "--board-erase-ms" ||
                     arg == "--board-drop-frame" || arg == "--board-bad-check" ||
                     arg == "--board-weak-cell";
  if (!known) return bad("unknown option");
  if (i + 1 >= args.size()) return bad("needs a value");
  const std::string_view value = args[++i];
  options.enabled = true;
  OfflineBoardConfig& c = options.config;
  unsigned number = 0;
  if (arg == "--board-image") {
    if (value.empty()) return bad("expects a path");
    options.imagePath = value;
  } else if (arg == "--board-capacity" || arg == "--board-option") {
    if (!Parse(value, 10, 0U, 255U, number)) return bad("expects a number from 0 to 255");
    (arg == "--board-capacity" ? c.capacityK : c.optionByte) = static_cast<std::uint8_t>(number);
  } else if (arg == "--board-erase-ms") {
    if (!Parse(value, 10, 0U, 3'600'000U, number))
      return bad("expects a number of milliseconds from 0 to 3600000");
    c.eraseTimeUs = static_cast<std::int64_t>(number) * 1000;
  } else if (arg == "--board-drop-frame") {
    if (!Parse(value, 10, 1U, static_cast<unsigned>(std::numeric_limits<int>::max()), number))
      return bad("expects a number >= 1");
    c.dropDataFrame = static_cast<int>(number);
  } else if (arg == "--board-bad-check") {
    if (!Parse(value, 16, 0U, 0xFFU, number)) return bad("expects a hex command code, e.g. 86");
    c.badCheckCommand = static_cast<int>(number);
  } else {
    if (!Parse(value, 16, 0U, 0xFFFFU, number)) return bad("expects a hex board address");
    c.weakCell = static_cast<std::uint16_t>(number);
  }
  return BoardOption::Taken;
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
