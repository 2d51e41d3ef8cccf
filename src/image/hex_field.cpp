#include "image/hex_field.h"

#include <cstddef>

namespace kvr {

std::int32_t ParseHexField(std::string_view text, int width) {
  // Seven digits still fit a signed 32-bit result.
  if (width < 1 || width > 7) return -1;
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  const auto kept = static_cast<std::size_t>(width);
  if (text.size() > kept) text.remove_prefix(text.size() - kept);

  std::int32_t value = 0;
  for (const char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;  // the padding zeros add nothing
}

}  // namespace kvr
