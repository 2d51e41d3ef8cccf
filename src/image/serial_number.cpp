#include "image/serial_number.h"

#include <algorithm>
#include <cstddef>

namespace kvr {

namespace {

constexpr std::size_t kMaxExactDigits = 18;
constexpr std::size_t kFieldZeros = 15;
// The binary encoding holds at most a positive 32-bit value in at most four bytes.
constexpr std::int64_t kMaxBinaryBytes = 4;
constexpr std::int64_t kMaxBinaryValue = 2'147'483'647;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct SignedDigits {
  bool negative = false;
  std::string_view digits;  // without leading zeros
  std::string_view rest;
};

SignedDigits LeadingDigits(std::string_view text) {
  SignedDigits result;
  text = Trim(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    result.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t n = 0;
  while (n < text.size() && IsDigit(text[n])) ++n;
  result.digits = text.substr(0, n);
  result.rest = text.substr(n);
  while (!result.digits.empty() && result.digits.front() == '0') result.digits.remove_prefix(1);
  return result;
}

// Digits beyond the exact range read as the largest magnitude.
std::int64_t Magnitude(std::string_view digits) {
  if (digits.size() > kMaxExactDigits) return kMaxSerialMagnitude;
  std::int64_t value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

std::int64_t ReadNumber(std::string_view text) {
  const SignedDigits number = LeadingDigits(text);
  std::int64_t value = Magnitude(number.digits);
  if (number.rest.size() >= 2 && number.rest[0] == '.' && number.rest[1] >= '5' &&
      number.rest[1] <= '9' && value < kMaxSerialMagnitude)
    ++value;
  return number.negative ? -value : value;
}

int SerialDigitCount(SerialMode mode, std::int64_t bytes) {
  if (bytes <= 0) return 0;
  // Byte counts in use are 16-bit; beyond that the count no longer matters.
  bytes = std::min<std::int64_t>(bytes, 0x7FFF);
  std::int64_t digits = 0;
  switch (mode) {
    case SerialMode::Binary:
      // Int(bytes * 2.41 + 1.5): enough decimal digits for the largest value of the bytes.
      digits = (bytes * 241 + 150) / 100;
      break;
    case SerialMode::PackedBcd:
      digits = bytes * 2;
      break;
    case SerialMode::Ascii:
      digits = bytes;
      break;
  }
  return static_cast<int>(digits);
}

std::string FitDigits(std::string_view text, int digits) {
  if (digits <= 0) return {};
  text = Trim(text);
  const std::string_view significant =
      text.substr(std::min(text.find_first_not_of('0'), text.size()));
  if (significant.size() > static_cast<std::size_t>(digits)) return std::string(significant);
  std::string padded(kFieldZeros, '0');
  padded.append(text);
  const auto keep = std::min(padded.size(), static_cast<std::size_t>(digits));
  return padded.substr(padded.size() - keep);
}

std::optional<std::int64_t> ReadStep(std::string_view text) {
  text = Trim(text);
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) return std::nullopt;
  const std::int64_t step = Magnitude(LeadingDigits(text).digits);
  if (step < 1) return std::nullopt;
  return step;
}

std::string AddToNumber(std::string_view text, std::int64_t step) {
  const SignedDigits number = LeadingDigits(text);
  step = std::clamp(step, -kMaxSerialMagnitude, kMaxSerialMagnitude);
  if (number.digits.size() <= kMaxExactDigits) {
    const std::int64_t value = Magnitude(number.digits);
    return std::to_string((number.negative ? -value : value) + step);
  }
  // The magnitude is at least 10^18, above any step: the sign stays and only the digits move.
  std::string magnitude(number.digits);
  std::int64_t carry = number.negative ? -step : step;
  for (auto it = magnitude.rbegin(); it != magnitude.rend() && carry != 0; ++it) {
    const std::int64_t sum = (*it - '0') + carry;
    std::int64_t digit = sum % 10;
    if (digit < 0) digit += 10;
    *it = static_cast<char>('0' + digit);
    carry = (sum - digit) / 10;
  }
  // The magnitude is above any step: no borrow outlasts its digits, and a carry is 0 or more.
  magnitude.insert(0, std::to_string(carry));
  magnitude.erase(0, std::min(magnitude.find_first_not_of('0'), magnitude.size() - 1));
  return (number.negative ? "-" : "") + magnitude;
}

SerialEncoding EncodeSerial(std::string_view number, SerialMode mode, std::int64_t bytes) {
  SerialEncoding result;
  number = Trim(number);
  if (!std::all_of(number.begin(), number.end(), IsDigit)) {
    result.error = StampError::NotDecimal;
    return result;
  }
  std::int64_t binary = 0;
  const std::string_view digits = LeadingDigits(number).digits;
  if (mode == SerialMode::Binary) {
    if (bytes > kMaxBinaryBytes) {
      result.error = StampError::TooManyBinaryBytes;
      return result;
    }
    binary = Magnitude(digits);
    if (binary > kMaxBinaryValue) {
      result.error = StampError::BinaryTooBig;
      return result;
    }
  }
  if (bytes <= 0) return result;

  // What the bytes hold: a binary number below 256^bytes, two digits a byte, or one.
  std::string largest;
  bool fits = true;
  if (mode == SerialMode::Binary) {
    const std::int64_t most = (std::int64_t{1} << (8 * bytes)) - 1;
    largest = std::to_string(most);
    fits = binary <= most;
  } else {
    const std::int64_t places = mode == SerialMode::PackedBcd ? 2 * bytes : bytes;
    fits = static_cast<std::int64_t>(digits.size()) <= places;
    if (!fits) largest.assign(static_cast<std::size_t>(places), '9');
  }
  if (!fits) {
    result.error = StampError::DoesNotFit;
    result.number = digits;
    result.largest = std::move(largest);
    return result;
  }

  result.bytes.reserve(static_cast<std::size_t>(bytes));
  const std::size_t length = number.size();
  for (std::int64_t i = 0; i < bytes; ++i) {
    const auto index = static_cast<std::size_t>(i);
    std::uint8_t value = 0;
    switch (mode) {
      case SerialMode::Binary:
        value = static_cast<std::uint8_t>((binary >> (8 * i)) & 0xFF);
        break;
      case SerialMode::PackedBcd: {
        // Two decimal digits per byte, read as the two hexadecimal digits of the byte.
        const std::size_t low = 2 * index;
        if (low < length) value = static_cast<std::uint8_t>(number[length - 1 - low] - '0');
        if (low + 1 < length)
          value = static_cast<std::uint8_t>(value | (number[length - 2 - low] - '0') << 4);
        break;
      }
      case SerialMode::Ascii:
        value = static_cast<std::uint8_t>(index < length ? number[length - 1 - index] : '0');
        break;
    }
    result.bytes.push_back(value);
  }
  return result;
}

}  // namespace kvr
