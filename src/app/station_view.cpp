#include <algorithm>
#include <cstdio>

#include "app/station.h"
#include "image/buffer_view.h"
#include "image/hex_field.h"

namespace kvr {

namespace {

constexpr Wording kUpdateQuestion{"Update the buffer?", "Update the buffer? / 修改缓冲区内容吗?"};
constexpr Wording kOpenFile{"Please open file.", "    Please open file./请打开文件。 "};

bool IsHexKey(char key) {
  return HexDigitValue(key) >= 0;
}

std::string UpperHex(std::int64_t value) {
  const auto magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                   : static_cast<unsigned long long>(value);
  char text[24];
  std::snprintf(text, sizeof text, "%s%llX", value < 0 ? "-" : "", magnitude);
  return text;
}

}  // namespace

void Station::RenderView(std::int32_t first, std::int32_t last) {
  platform_.pump.ProcessPendingEvents();
  HighlightStart = 0;
  HighlightLength = 0;
  AddressSpan serial;
  if (SerialBytes > 0) serial = {SerialAddress - SerialBytes + 1, SerialAddress};
  // Only the working range is shown, even where a line begins before it.
  const AddressSpan shown{std::max(first, ProgramStart), std::min(last, ProgramEnd)};
  ViewText view =
      LayoutView(ImageBuffer, shown, serial, [this] { platform_.pump.ProcessPendingEvents(); });
  txtBuffer.text = std::move(view.text);
  HighlightStart = view.highlightStart;
  HighlightLength = view.highlightLength;
}

void Station::ViewRangeUpdate() {
  SerialAddress = ParseHexField(texAuto_Increase[0].text, 4);
  ProgramStart = std::min(ProgramStart, LoadStart);
  ProgramEnd = std::max(ProgramEnd, DataEnd);
  if (SerialActive) {
    ProgramEnd = std::max(ProgramEnd, SerialAddress);
    // Down to the number's first byte; validation keeps it at 0 or above.
    ProgramStart = std::min(ProgramStart, std::max(SerialAddress - SerialBytes + 1, 0));
  }
  const std::int32_t lines = (ProgramEnd - ProgramStart) / view_layout::kLineBytes - 3;
  VScroll1.maximum = std::max(lines, VScroll1.minimum);
  VScroll1.value = std::clamp(VScroll1.value, VScroll1.minimum, VScroll1.maximum);
  OnScrollChange();
}

void Station::OnScrollChange() {
  VScroll1.enabled = false;
  const std::int64_t startLine = ProgramStart / view_layout::kLineBytes;
  std::int64_t first = (startLine + VScroll1.value) * view_layout::kLineBytes;
  if (first < ProgramStart) first = startLine * view_layout::kLineBytes;
  // A position beyond the range draws nothing rather than wrapping around.
  first = std::min<std::int64_t>(first, static_cast<std::int64_t>(ProgramEnd) + 1);
  const std::int64_t last = std::min<std::int64_t>(first + view_layout::kWindowSpan, ProgramEnd);

  RenderView(static_cast<std::int32_t>(first), static_cast<std::int32_t>(last));
  txtBuffer.selStart = 0;
  txtBuffer.selLength = 0;
  if (HighlightLength > 0) {
    txtBuffer.selStart = HighlightStart;
    txtBuffer.selLength = cheAuto_Increase.checked ? HighlightLength : 0;
  }
  txtBuffer2.text = txtBuffer.text;
  txtBuffer2.selStart = txtBuffer.selStart;
  txtBuffer2.selLength = txtBuffer.selLength;
  WriteExportField(txt_length, UpperHex(static_cast<std::int64_t>(ProgramEnd) + 1));
  VScroll1.enabled = true;
}

void Station::OnBufferKeyDown(ViewKey key) {
  std::int64_t position = VScroll1.value;
  if (key == ViewKey::PageUp)
    position -= VScroll1.largeChange;
  else if (key == ViewKey::PageDown)
    position += VScroll1.largeChange;
  else
    return;
  if (position < VScroll1.minimum || position > VScroll1.maximum) return;
  VScroll1.value = static_cast<int>(position);
  OnScrollChange();
}

void Station::OnBufferMouseDown(std::size_t caret) {
  txtBuffer2.selStart = std::min(caret, txtBuffer2.text.size());
  txtBuffer2.selLength = CellAt(txtBuffer2.text, caret) ? 1 : 0;
}

void Station::OnBufferKeyPress(char key) {
  // The bytes of a job in operator mode are the job's image.
  if (!IsHexKey(key) || txtBuffer2.selLength != 1 || OperatorMode) return;
  if (!EditPermission) {
    if (!platform_.dialogs.Question(kUpdateQuestion.Pick(UseEnglish))) return;
    if (!FileLoaded) {
      platform_.dialogs.Information(kOpenFile.Pick(UseEnglish));
      return;
    }
    EditPermission = true;
  }
  // Only a digit of a byte is edited: a blank, the address or a line end would let the column
  // name a wrong address. The view may have been redrawn while the question was open.
  const std::size_t position = txtBuffer2.selStart;
  const std::optional<ViewCell> cell = CellAt(txtBuffer2.text, position);
  if (!cell || txtBuffer2.selLength != 1) return;

  const char digit = key >= 'a' ? static_cast<char>(key - 'a' + 'A') : key;
  txtBuffer2.text[position] = digit;
  // The view under the overlay shows the same, so a later copy into the overlay keeps the edit.
  if (position < txtBuffer.text.size() && CellAt(txtBuffer.text, position))
    txtBuffer.text[position] = digit;
  const std::string& text = txtBuffer2.text;
  const std::uint8_t before = ImageBuffer.Get(cell->address);
  const auto value = static_cast<std::uint8_t>(HexDigitValue(text[cell->pairStart]) * 16 +
                                               HexDigitValue(text[cell->pairStart + 1]));
  ImageBuffer.Set(cell->address, value);
  // The checksum follows the bytes the chip will get.
  if (value != before) {
    FileChecksum += static_cast<int>(value) - static_cast<int>(before);
    ShowFileChecksum();
    BufferChanged = true;
  }

  const std::optional<std::size_t> next = NextDataDigit(text, position + 1);
  txtBuffer2.selStart = next.value_or(position + 1);
  txtBuffer2.selLength = next ? 1 : 0;
}

void Station::OnBufferFocus() {
  if (!cheAuto_Increase.checked) txtBuffer.selLength = 0;
}

}  // namespace kvr
