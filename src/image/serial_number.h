#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// How the serial number is stored in the image.
enum class SerialMode { Binary = 0, PackedBcd = 1, Ascii = 2 };

// The largest magnitude the operator's numbers are read with; two of them still add exactly in
// 64 bits.
inline constexpr std::int64_t kMaxSerialMagnitude = 999'999'999'999'999'999;

// The number at the start of an operator's text: blanks, a sign, digits and a fraction, rounded
// half away from zero; 0 when there is none. Longer numbers saturate at kMaxSerialMagnitude.
std::int64_t ReadNumber(std::string_view text);

// How many digits the next-number field keeps for this many bytes; 0 for no bytes.
int SerialDigitCount(SerialMode mode, std::int64_t bytes);

// The last `digits` characters of fifteen "0" followed by the trimmed text: a longer number
// loses its leading digits.
std::string FitDigits(std::string_view text, int digits);

// The decimal text of the whole number at the start of `text` plus `step`, exact at any length.
std::string AddToNumber(std::string_view text, std::int64_t step);

enum class StampError { None, NotDecimal, TooManyBinaryBytes, BinaryTooBig };

struct SerialEncoding {
  StampError error = StampError::None;
  // Least significant byte first: byte i belongs at the highest address minus i.
  std::vector<std::uint8_t> bytes;
};

// The bytes of the number text (trimmed, decimal digits only) in `bytes` bytes. A number with
// fewer digits than the bytes hold is padded with zeros in its encoding.
SerialEncoding EncodeSerial(std::string_view number, SerialMode mode, std::int64_t bytes);

}  // namespace kvr
