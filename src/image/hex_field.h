#pragma once

#include <cstdint>
#include <string_view>

namespace kvr {

// The value of one hexadecimal digit (either case), or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A hexadecimal field of a fixed width (4 or 5 digits): blanks trimmed, padded on the left with
// "0", and only the last `width` characters read, so a longer text loses its leading characters.
// Letters in either case. Negative when a kept character is no hexadecimal digit or the width is
// not 1 to 7.
std::int32_t ParseHexField(std::string_view text, int width);

}  // namespace kvr
