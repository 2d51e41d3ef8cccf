#include "ispdemo/isp_image.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kvr::isp {

void IspImage::Set(std::int32_t address, std::uint8_t value) {
  bytes[address] = value;
  present[address] = true;
  first = first < 0 ? address : std::min(first, address);
  last = std::max(last, address);
}

namespace {

constexpr std::uintmax_t kCodeSpace = 0x10000;
// A HEX file describes 64 KB in well under 1 MB even in one-byte records; 4 MB leaves room for
// blanks and line ends.
constexpr std::uintmax_t kMaxHexFile = 4 << 20;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHexName(const std::string& path) {
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "hex" || extension == "ihx" || extension == "ihex";
}

}  // namespace

bool ParseIntelHex(const std::string& text, IspImage& image, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  std::uint32_t upper = 0;  // from the extended address records
  int number = 0;
  bool ended = false;
  while (std::getline(lines, line)) {
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (line.empty()) continue;
    if (ended) {
      error = where + "data after the end-of-file record";
      return false;
    }
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) {
      error = where + "not an Intel HEX record";
      return false;
    }
    std::vector<std::uint8_t> record;
    for (std::size_t i = 1; i < line.size(); i += 2) {
      const int high = HexValue(line[i]);
      const int low = HexValue(line[i + 1]);
      if (high < 0 || low < 0) {
        error = where + "not a hexadecimal digit";
        return false;
      }
      record.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    const std::size_t count = record[0];
    if (record.size() != count + 5) {
      error = where + "the length does not match the record";
      return false;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0) {
      error = where + "checksum wrong";
      return false;
    }
    const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
    const std::uint8_t* data = record.data() + 4;
    switch (record[3]) {
      case 0x00:
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint32_t address = upper + ((offset + i) & 0xFFFF);
          if (address > 0xFFFF) {
            error = where + "data beyond FFFFh";
            return false;
          }
          image.Set(static_cast<std::int32_t>(address), data[i]);
        }
        break;
      case 0x01:
        ended = true;
        break;
      case 0x02:
      case 0x04:
        if (count != 2) {
          error = where + "an address record needs two bytes";
          return false;
        }
        upper = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << (record[3] == 0x02 ? 4 : 16);
        break;
      case 0x03:
      case 0x05:
        break;  // start addresses mean nothing to the chip
      default:
        error = where + "unknown record type";
        return false;
    }
  }
  if (!ended) {
    error = "no end-of-file record: the file is cut short";
    return false;
  }
  if (image.Empty()) {
    error = "the file holds no data";
    return false;
  }
  return true;
}

bool LoadIspImage(const std::string& path, IspImage& image, std::string& error) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    error = "no such file: " + path;
    return false;
  }
  // Measured before it is read, and never read much further than the largest file that can
  // hold 64 KB: a huge file (or one that grows meanwhile) must not take the memory.
  const bool hex = IsHexName(path);
  const std::uintmax_t limit = hex ? kMaxHexFile : kCodeSpace;
  auto tooLarge = [&] {
    error = path + (hex ? ": the file is larger than 4 MB" : ": the file is larger than 64 KB");
    return false;
  };
  const std::uintmax_t size = std::filesystem::file_size(path, failure);
  if (!failure && size > limit) return tooLarge();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::string content;
  std::vector<char> chunk(0x10000);
  while (file && content.size() <= limit) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    content.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (content.size() > limit) return tooLarge();
  if (hex) {
    if (ParseIntelHex(content, image, error)) return true;
    error = path + ": " + error;
    return false;
  }
  if (content.empty()) {
    error = path + ": the file is empty";
    return false;
  }
  for (std::size_t i = 0; i < content.size(); ++i)
    image.Set(static_cast<std::int32_t>(i), static_cast<std::uint8_t>(content[i]));
  return true;
}

}  // namespace kvr::isp
