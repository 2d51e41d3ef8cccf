#pragma once

#include <cstdint>
#include <optional>
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

// The trimmed text brought to `digits` characters: the last `digits` characters of fifteen "0"
// followed by it. A number with more significant digits is kept whole, without its leading
// zeros: it is never cut (and then does not fit its bytes).
std::string FitDigits(std::string_view text, int digits);

// The step of the next number: a whole decimal number of 1 or more (longer numbers saturate at
// kMaxSerialMagnitude); nothing for any other text, so that no number is handed out twice.
std::optional<std::int64_t> ReadStep(std::string_view text);

// The decimal text of the whole number at the start of `text` plus `step`, exact at any length.
std::string AddToNumber(std::string_view text, std::int64_t step);

enum class StampError { None, NotDecimal, TooManyBinaryBytes, BinaryTooBig, DoesNotFit };

struct SerialEncoding {
  StampError error = StampError::None;
  // Least significant byte first: byte i belongs at the highest address minus i.
  std::vector<std::uint8_t> bytes;
  // With DoesNotFit: the number without its leading zeros, and the largest the bytes hold.
  std::string number;
  std::string largest;
};

// The bytes of the number text (trimmed, decimal digits only) in `bytes` bytes. A number with
// fewer digits than the bytes hold is padded with zeros in its encoding; one that the bytes
// cannot hold is refused, never cut.
SerialEncoding EncodeSerial(std::string_view number, SerialMode mode, std::int64_t bytes);

}  // namespace kvr
