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
  using Traits = std::char_traits<char>;
  item.clear();
  // The stream buffer directly: a file is read character by character.
  std::streambuf* in = in_.rdbuf();
  if (in == nullptr) return false;
  int c = in->sbumpc();
  if (c == Traits::eof()) return false;
  while (c == ' ' || c == '\t') c = in->sbumpc();
  for (; c != Traits::eof(); c = in->sbumpc()) {
    if (c == '\n' || c == ',') break;
    if (c == '\r') {
      if (in->sgetc() == '\n') in->sbumpc();
      break;
    }
    if (item.size() < kMaxItem) item.push_back(static_cast<char>(c));
  }
  // A record's length is counted from its text: a trailing blank would make its check byte data.
  while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
  return true;
}

HexRecordText::HexRecordText(std::string_view rest) {
  // Round half to even, as the record length has always been computed.
  n_ = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(rest.size()) / 2.0 - 2.0));
  // Each byte is read once: the check, the type and the data all use it.
  bytes_.resize((rest.size() + 1) / 2);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    const int high = HexDigitValue(rest[2 * i]);
    const int low = 2 * i + 1 < rest.size() ? HexDigitValue(rest[2 * i + 1]) : -1;
    if (high < 0)
      bytes_[i] = 0;
    else
      bytes_[i] = static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
  }
}

bool HexRecordText::CheckIsGood() const {
  unsigned sum = 0;
  for (std::int64_t i = 0; i <= n_; ++i) sum = (sum + Byte(i)) & 0xFFU;
  return sum == (256U - Byte(n_ + 1)) % 256U;
}

}  // namespace kvr
