#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvr::isp {

// The application as kvr-isp writes it: the bytes a file gives for the 64 KB code space.
struct IspImage {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(0x10000, 0xFF);
  std::vector<bool> present = std::vector<bool>(0x10000, false);
  std::int32_t first = -1;  // lowest and highest address the file gives; -1 when none
  std::int32_t last = -1;

  void Set(std::int32_t address, std::uint8_t value);
  bool Empty() const { return first < 0; }
};

// Intel HEX (.hex, .ihx, .ihex; data, end-of-file, extended segment and linear address
// records; a byte-order mark and blanks at line ends are allowed) or, for any other name, a
// binary file placed from address 0. False with `error` for a missing, unreadable, empty or
// broken file, or data beyond FFFFh.
bool LoadIspImage(const std::string& path, IspImage& image, std::string& error);

// The same for the text of a HEX file.
bool ParseIntelHex(const std::string& text, IspImage& image, std::string& error);

}  // namespace kvr::isp
