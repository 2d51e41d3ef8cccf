#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "image/image_buffer.h"

namespace kvr {

// The hexadecimal dump of the buffer view: two empty lines, then one line per 16 addresses,
// " " + 6 address digits + 3 blanks + "XX " per byte, each line ending with CR LF.
namespace view_layout {
inline constexpr std::int32_t kLineBytes = 16;
// Where the first digit of a line's data part stands, counted from the line start.
inline constexpr std::size_t kDataColumn = 10;
inline constexpr std::size_t kCharsPerByte = 3;
// The most lines one redraw draws, and the bytes that makes from a line start.
inline constexpr std::int32_t kWindowLines = 62;
inline constexpr std::int32_t kWindowSpan = kWindowLines * kLineBytes - 3;  // First + 989
}  // namespace view_layout

struct AddressSpan {
  std::int32_t first = 0;
  std::int32_t last = -1;  // inclusive; empty when below first
};

struct ViewText {
  std::string text;
  // The drawn part of the serial number: from its first digit to its last drawn digit.
  std::size_t highlightStart = 0;
  std::size_t highlightLength = 0;
};

// Draws the bytes of `shown` (clipped to the buffer). Each line keeps its bytes in the columns of
// their addresses: a line that begins before the shown range leaves blanks where its missing
// bytes would stand, so a column always tells the byte's address. The highlight is set only when
// the first byte of `serial` is drawn. `breather` runs every few lines.
ViewText LayoutView(const ImageBufferArray& buffer, AddressSpan shown, AddressSpan serial,
                    const std::function<void()>& breather = {});

// The byte whose hexadecimal digit stands at `position` in the data part of a view line.
struct ViewCell {
  std::int32_t address = 0;
  std::size_t pairStart = 0;  // text position of the byte's first digit
};
std::optional<ViewCell> CellAt(std::string_view text, std::size_t position);

// The first data digit at or after `position`; none when no further byte is drawn.
std::optional<std::size_t> NextDataDigit(std::string_view text, std::size_t position);

}  // namespace kvr
