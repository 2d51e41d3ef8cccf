#include "image/buffer_view.h"

#include <gtest/gtest.h>

#include <string>

#include "app/station_fixture.h"

namespace kvr {
namespace {

std::string Line(const std::string& text, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) start = text.find("\r\n", start) + 2;
  return text.substr(start, text.find("\r\n", start) - start);
}

TEST(ViewLayoutTest, BytesStandInTheColumnsOfTheirAddressesWithinTheBuffer) {
  ImageBufferArray buffer;
  buffer.Set(0x1E, 0xAB);
  buffer.Set(0x1F, 0xcd);
  buffer.Set(0x21, 0x01);
  EXPECT_EQ(LayoutView(buffer, {0x1E, 0x21}, {}).text,
            "\r\n\r\n 000010   " + std::string(14 * 3, ' ') + "AB CD \r\n 000020   00 01 \r\n");
  EXPECT_EQ(LayoutView(buffer, {0x10, 0x0F}, {}).text, "\r\n\r\n");
  EXPECT_EQ(LayoutView(buffer, {-5, 1}, {}).text, "\r\n\r\n 000000   00 00 \r\n");
  EXPECT_EQ(LayoutView(buffer, {0x12400, 0x13000}, {}).text, "\r\n\r\n 012400   00 \r\n");
}

TEST(ViewLayoutTest, SerialNumberHighlightOnOneLineAcrossTwoAndUndrawn) {
  ImageBufferArray buffer;
  for (std::int32_t a = 0; a < 0x40; ++a) buffer.Set(a, static_cast<std::uint8_t>(a));
  const auto highlighted = [&](AddressSpan shown, AddressSpan serial) {
    const ViewText view = LayoutView(buffer, shown, serial);
    return view.text.substr(view.highlightStart, view.highlightLength);
  };
  EXPECT_EQ(highlighted({0, 0x3F}, {0x24, 0x27}), "24 25 26 27");
  EXPECT_EQ(highlighted({0, 0x3F}, {0x1E, 0x21}), "1E 1F \r\n 000020   20 21");  // 11 + 12
  EXPECT_EQ(highlighted({0, 0x25}, {0x24, 0x27}), "24 25");
  EXPECT_EQ(LayoutView(buffer, {0x20, 0x3F}, {0x1E, 0x21}).highlightLength, 0u);
}

TEST(ViewLayoutTest, OnlyDigitsOfTheDataPartAreCells) {
  ImageBufferArray buffer;
  const std::string text = LayoutView(buffer, {0x105, 0x111}, {}).text;
  const std::size_t line = text.find(" 000100");
  const std::size_t data = line + view_layout::kDataColumn;
  const auto cell = CellAt(text, data + 15 * 3 + 1);
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->address, 0x10F);
  EXPECT_EQ(cell->pairStart, data + 15 * 3);
  EXPECT_EQ(CellAt(text, data + 5 * 3)->address, 0x105);
  for (const std::size_t p : {std::size_t{0}, std::size_t{2}, line + 3, data, data + 5 * 3 + 2,
                              data + 16 * 3, data + 16 * 3 + 1, text.size() - 1, text.size()})
    EXPECT_FALSE(CellAt(text, p)) << p;
  EXPECT_FALSE(CellAt(" 0001", 4));
  EXPECT_EQ(NextDataDigit(text, data + 15 * 3 + 2),
            text.find(" 000110") + view_layout::kDataColumn);
  EXPECT_FALSE(NextDataDigit(text, text.size() - 3));
}

class BufferViewTest : public StationTest {
 protected:
  void Show(std::int32_t start, std::int32_t end) {
    station.ProgramStart = station.LoadStart = start;
    station.ProgramEnd = end;
    station.ViewRangeUpdate();
  }
  std::size_t DigitOf(std::int32_t address) {
    const std::string& text = station.txtBuffer2.text;
    for (std::size_t p = 0; p < text.size(); ++p)
      if (const auto cell = CellAt(text, p); cell && cell->address == address) return p;
    ADD_FAILURE() << address << " is not drawn";
    return 0;
  }
  void Type(std::int32_t address, char key) {
    station.OnBufferMouseDown(DigitOf(address));
    station.OnBufferKeyPress(key);
  }
  const std::string& Box(std::size_t i) { return vp.dialogs.ShownDialogs().at(i).text; }
};

TEST_F(BufferViewTest, DefaultRangeDrawsSixtyTwoLines) {
  Show(0, 0x3FF);
  const std::string& text = station.txtBuffer.text;
  EXPECT_EQ(text.substr(0, 14), "\r\n\r\n 000000   ");
  EXPECT_EQ(Line(text, 63), " 0003D0   00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
  EXPECT_EQ(text.size(), 4 + 62 * 60u - 2 * 3);
  EXPECT_EQ(station.txtBuffer2.text, text);
  EXPECT_EQ(station.txt_length.text, "400");
  EXPECT_EQ(station.VScroll1.maximum, 60);
}

TEST_F(BufferViewTest, RangeStartingInsideALineShowsOnlyItsBytes) {
  station.ImageBuffer.Set(0x104, 0x11);
  station.ImageBuffer.Set(0x105, 0x22);
  Show(0x105, 0x7FF);
  EXPECT_EQ(Line(station.txtBuffer.text, 2).substr(0, 28),
            " 000100" + std::string(18, ' ') + "22 ");
  EXPECT_EQ(Line(station.txtBuffer.text, 3).substr(0, 7), " 000110");
}

TEST_F(BufferViewTest, ScrollLimits) {
  Show(0, 0x3FF);
  station.VScroll1.largeChange = 25;
  station.OnBufferKeyDown(Station::ViewKey::PageUp);
  station.OnBufferKeyDown(Station::ViewKey::PageDown);
  station.OnBufferKeyDown(Station::ViewKey::PageDown);
  EXPECT_EQ(Line(station.txtBuffer.text, 2).substr(0, 7), " 000320");
  station.OnBufferKeyDown(Station::ViewKey::PageDown);  // 75 is beyond 60: not applied
  EXPECT_EQ(station.VScroll1.value, 50);

  Show(0, 0x1F);  // a negative maximum is held at 0, and the position with it
  EXPECT_EQ(station.VScroll1.maximum, 0);
  EXPECT_EQ(station.VScroll1.value, 0);
  station.VScroll1.value = 1'000'000'000;
  station.OnScrollChange();
  EXPECT_EQ(station.txtBuffer.text, "\r\n\r\n");
}

TEST_F(BufferViewTest, TypedDigitsReplaceTheTextAndTheByte) {
  station.FileLoaded = true;
  Show(0, 0x3FF);
  vp.dialogs.ExpectQuestion(true);
  Type(0x0F, 'a');
  EXPECT_EQ(Box(0), "Update the buffer?");
  EXPECT_EQ(station.ImageBuffer.Get(0x0F), 0xA0);
  EXPECT_EQ(station.txtBuffer2.text.substr(DigitOf(0x0F), 2), "A0");
  EXPECT_EQ(station.txtBuffer.text.substr(DigitOf(0x0F), 2), "A0");
  station.OnBufferKeyPress('7');  // the second digit is selected: no question now
  EXPECT_EQ(station.ImageBuffer.Get(0x0F), 0xA7);
  EXPECT_EQ(station.txtBuffer2.selStart, DigitOf(0x10)) << "on to the next line";
  for (const char key : {'g', ' ', '\xE4'}) station.OnBufferKeyPress(key);
  EXPECT_EQ(station.ImageBuffer.Get(0x10), 0x00);

  // Address digits, blanks and a caret at the end select nothing, so keys there are dropped.
  for (const std::size_t caret :
       {DigitOf(0x10) - 3, DigitOf(0x10) + 2, station.txtBuffer2.text.size()}) {
    station.OnBufferMouseDown(caret);
    EXPECT_EQ(station.txtBuffer2.selLength, 0u);
  }
  station.OnBufferMouseDown(DigitOf(0x3DD) + 1);
  station.OnBufferKeyPress('1');
  EXPECT_EQ(station.ImageBuffer.Get(0x3DD), 0x01);
  EXPECT_EQ(station.txtBuffer2.selLength, 0u) << "nothing follows the last byte";
  EXPECT_EQ(vp.dialogs.ShownDialogs().size(), 1u);
}

TEST_F(BufferViewTest, EditPermissionIsAskedUntilGivenWithAFile) {
  Show(0, 0x3FF);
  vp.dialogs.ExpectQuestion(false);
  Type(0x30, '9');
  vp.dialogs.ExpectQuestion(true);
  vp.dialogs.ExpectInformation();
  Type(0x30, '9');
  EXPECT_EQ(Box(2), "Please open file.");
  EXPECT_EQ(station.ImageBuffer.Get(0x30), 0x00);

  station.UseEnglish = false;
  vp.dialogs.ExpectQuestion(true);
  vp.dialogs.ExpectInformation();
  Type(0x30, '9');
  EXPECT_EQ(Box(3), "Update the buffer? / 修改缓冲区内容吗?");
  EXPECT_EQ(Box(4), "    Please open file./请打开文件。 ");

  station.FileLoaded = true;
  vp.dialogs.ExpectQuestion(true);
  Type(0x30, '9');
  EXPECT_EQ(station.ImageBuffer.Get(0x30), 0x90);
  EXPECT_EQ(station.txtBuffer2.text.substr(DigitOf(0x30), 2), "90");
}

}  // namespace
}  // namespace kvr
