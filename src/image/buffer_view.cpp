#include "image/buffer_view.h"

#include <algorithm>

namespace kvr {

namespace {

using namespace view_layout;

constexpr char kDigits[] = "0123456789ABCDEF";
// Events are let through every few lines: often enough for a responsive window, rarely enough to
// cost nothing.
constexpr int kLinesPerBreath = 8;
constexpr std::size_t kAddressDigits = 6;
constexpr std::size_t kLineChars = kDataColumn + kLineBytes * kCharsPerByte + 2;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendByte(std::string& text, std::uint8_t value) {
  text.push_back(kDigits[value >> 4]);
  text.push_back(kDigits[value & 0x0F]);
  text.push_back(' ');
}

void AppendLineHead(std::string& text, std::int32_t lineAddress) {
  text.push_back(' ');
  for (int shift = 4 * (static_cast<int>(kAddressDigits) - 1); shift >= 0; shift -= 4)
    text.push_back(kDigits[(lineAddress >> shift) & 0x0F]);
  text.append("   ");
}

}  // namespace

ViewText LayoutView(const ImageBufferArray& buffer, AddressSpan shown, AddressSpan serial,
                    const std::function<void()>& breather) {
  ViewText view;
  view.text = "\r\n\r\n";
  const std::int32_t first = std::max(shown.first, 0);
  const std::int32_t last = std::min(shown.last, ImageBufferArray::kLastAddress);
  if (last < first) return view;

  const std::int32_t firstLine = first / kLineBytes * kLineBytes;
  view.text.reserve(view.text.size() +
                    static_cast<std::size_t>((last - firstLine) / kLineBytes + 1) * kLineChars);
  const bool hasSerial = serial.last >= serial.first;
  std::optional<std::size_t> serialStart;
  std::size_t serialEnd = 0;
  int lines = 0;
  for (std::int32_t line = firstLine; line <= last; line += kLineBytes) {
    AppendLineHead(view.text, line);
    for (std::int32_t address = line; address < line + kLineBytes && address <= last; ++address) {
      if (address < first) {
        view.text.append("   ");
        continue;
      }
      if (hasSerial && address == serial.first) serialStart = view.text.size();
      if (serialStart && address <= serial.last) serialEnd = view.text.size() + 2;
      AppendByte(view.text, buffer.Get(address));
    }
    view.text.append("\r\n");
    if (++lines % kLinesPerBreath == 0 && breather) breather();
  }
  if (serialStart) {
    view.highlightStart = *serialStart;
    view.highlightLength = serialEnd - *serialStart;
  }
  return view;
}

std::optional<ViewCell> CellAt(std::string_view text, std::size_t position) {
  if (position >= text.size() || HexValue(text[position]) < 0) return std::nullopt;
  const auto lineBreak = text.rfind('\n', position);
  const std::size_t lineStart = lineBreak == std::string_view::npos ? 0 : lineBreak + 1;
  const std::size_t dataStart = lineStart + kDataColumn;
  // The whole line head lies before `position`, so it is within the text.
  if (position < dataStart || text[lineStart] != ' ') return std::nullopt;
  std::int32_t lineAddress = 0;
  for (std::size_t i = 1; i <= kAddressDigits; ++i) {
    const int digit = HexValue(text[lineStart + i]);
    if (digit < 0) return std::nullopt;
    lineAddress = lineAddress * 16 + digit;
  }
  if (text.substr(lineStart + kAddressDigits + 1, 3) != "   ") return std::nullopt;

  const std::size_t column = position - dataStart;
  const std::size_t byte = column / kCharsPerByte;
  if (column % kCharsPerByte == 2 || byte >= static_cast<std::size_t>(kLineBytes))
    return std::nullopt;
  const std::size_t pairStart = dataStart + byte * kCharsPerByte;
  if (pairStart + 1 >= text.size() || HexValue(text[pairStart]) < 0 ||
      HexValue(text[pairStart + 1]) < 0)
    return std::nullopt;
  return ViewCell{lineAddress + static_cast<std::int32_t>(byte), pairStart};
}

std::optional<std::size_t> NextDataDigit(std::string_view text, std::size_t position) {
  for (std::size_t p = position; p < text.size(); ++p)
    if (CellAt(text, p)) return p;
  return std::nullopt;
}

}  // namespace kvr
