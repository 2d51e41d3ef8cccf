#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// Reads a text file item by item: an item ends at a line end or a comma; blanks and tabs
// around it are no part of it, nor is the CR of a CR LF. A UTF-8 byte-order mark at the very
// start, as some editors write it, is skipped. An item longer than kMaxItem keeps only its
// first kMaxItem characters, so an endless line cannot take all memory.
class TextItemReader {
 public:
  static constexpr std::size_t kMaxItem = 64 * 1024;

  explicit TextItemReader(std::istream& in);
  // False at the end of the file.
  bool Next(std::string& item);

 private:
  std::istream& in_;
};

// One record of a HEX file as the loader reads it, from the line without its colon.
class HexRecordText {
 public:
  explicit HexRecordText(std::string_view rest);
  // Index of the last byte covered by the record check: the text's length / 2 - 2, halves to
  // even.
  std::int64_t N() const { return n_; }
  // Byte i: the two characters 2i+1 and 2i+2 (counted from 1), read up to the first
  // non-hexadecimal character; a single remaining character counts alone; nothing readable is 0.
  std::uint8_t Byte(std::int64_t i) const {
    return i >= 0 && static_cast<std::uint64_t>(i) < bytes_.size()
               ? bytes_[static_cast<std::size_t>(i)]
               : 0;
  }
  bool CheckIsGood() const;

 private:
  std::int64_t n_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kvr
