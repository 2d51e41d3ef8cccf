#include "image/hex_text.h"

#include <cmath>

#include "image/hex_field.h"

namespace kvr {

TextItemReader::TextItemReader(std::istream& in) : in_(in) {
  const std::istream::pos_type start = in_.tellg();
  char mark[3] = {};
  in_.read(mark, sizeof mark);
  if (in_.gcount() == 3 && mark[0] == '\xEF' && mark[1] == '\xBB' && mark[2] == '\xBF') return;
  in_.clear();
  if (start != std::istream::pos_type(-1)) in_.seekg(start);
}

bool TextItemReader::Next(std::string& item) {
  item.clear();
  int c = in_.get();
  if (c == std::char_traits<char>::eof()) return false;
  while (c == ' ' || c == '\t') c = in_.get();
  for (; c != std::char_traits<char>::eof(); c = in_.get()) {
    if (c == '\n' || c == ',') break;
    if (c == '\r') {
      if (in_.peek() == '\n') in_.get();
      break;
    }
    if (item.size() < kMaxItem) item.push_back(static_cast<char>(c));
  }
  // A record's length is counted from its text: a trailing blank would make its check byte data.
  while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
  return true;
}

HexRecordText::HexRecordText(std::string_view rest) : rest_(rest) {
  // Round half to even, as the record length has always been computed.
  n_ = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(rest.size()) / 2.0 - 2.0));
}

std::uint8_t HexRecordText::Byte(std::int64_t i) const {
  const std::int64_t start = 2 * i;  // zero-based position of character 2i+1
  if (start < 0 || start >= static_cast<std::int64_t>(rest_.size())) return 0;
  const int high = HexDigitValue(rest_[static_cast<std::size_t>(start)]);
  if (high < 0) return 0;
  if (start + 1 >= static_cast<std::int64_t>(rest_.size())) return static_cast<std::uint8_t>(high);
  const int low = HexDigitValue(rest_[static_cast<std::size_t>(start + 1)]);
  if (low < 0) return static_cast<std::uint8_t>(high);
  return static_cast<std::uint8_t>(high * 16 + low);
}

bool HexRecordText::CheckIsGood() const {
  unsigned sum = 0;
  for (std::int64_t i = 0; i <= n_; ++i) sum = (sum + Byte(i)) & 0xFFU;
  return sum == (256U - Byte(n_ + 1)) % 256U;
}

}  // namespace kvr
