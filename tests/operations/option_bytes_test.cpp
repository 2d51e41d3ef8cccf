// Option bytes: the payload from the panel, the reports and the read-back labels.

#include <gtest/gtest.h>

#include <tuple>

#include "catalogue/option_panel.h"
#include "operations/option_bytes.h"
#include "operations/progress.h"
#include "platform/virtual/virtual_platform.h"
#include "support/decimal_comma_locale.h"

namespace kvr {
namespace {

// A link that never talks: the reports and labels need only the log, language and model.
struct ReportFixture {
  VirtualPlatform vp;
  MessageLog log;
  bool english = true;
  SelectedDeviceFields device;
  WriterLink link{vp.port, vp.pump, vp.timers, log, english, device.DeviceClassCode};
  OperationContext context{link, log, english, device};
  OptionPanelControls panel;
  SelectableText view;

  explicit ReportFixture(std::int16_t classCode) {
    device.DeviceClassCode = classCode;
    RebuildOptionPanel(panel, device);
  }
};

void SelectSize(OptionPanelControls& panel, const std::string& entry) {
  const auto it = std::find(panel.Combo2.entries.begin(), panel.Combo2.entries.end(), entry);
  ASSERT_NE(it, panel.Combo2.entries.end()) << entry;
  panel.Combo2.index = static_cast<int>(it - panel.Combo2.entries.begin());
}

TEST(OptionPayload, NewerFamiliesFromThePanel) {
  ReportFixture f(11);
  SelectSize(f.panel, "4.0k");
  for (int row = 0; row < 8; ++row) f.panel.Option[static_cast<std::size_t>(row)].selected = 1;
  OptionPayload payload = OptionBytesFromPanel(f.panel, 11);
  // LOCK, SB and MOVCL set, ISPADR 0 for 4 K, bits 7 and 6 always set.
  EXPECT_EQ(payload[0], 0xC7);
  EXPECT_EQ(payload[1], 0xFF);
  EXPECT_TRUE(std::all_of(payload.begin() + 2, payload.end(), [](auto b) { return b == 0; }));

  // Rows 0 to 2 clear their own bit of OR0 when "item 0" is chosen, rows 3 to 7 theirs of OR1;
  // sizes map to ISPADR.
  const std::tuple<std::size_t, std::uint8_t, std::uint8_t> clears[] = {
      {0, 0xC6, 0xFF}, {1, 0xC5, 0xFF}, {2, 0xC3, 0xFF}, {3, 0xC7, 0xFE},
      {4, 0xC7, 0xFD}, {5, 0xC7, 0xEF}, {6, 0xC7, 0xBF}, {7, 0xC7, 0x7F}};
  for (const auto& [row, or0, or1] : clears) {
    f.panel.Option[row].selected = 0;
    payload = OptionBytesFromPanel(f.panel, 11);
    EXPECT_EQ(payload[0], or0) << "row " << row;
    EXPECT_EQ(payload[1], or1) << "row " << row;
    f.panel.Option[row].selected = 1;
  }
  const std::pair<const char*, std::uint8_t> sizes[] = {
      {"0.0k", 0xF7}, {"1.0k", 0xE7}, {"2.0k", 0xD7}, {"4.0k", 0xC7}};
  for (const auto& [size, expected] : sizes) {
    SelectSize(f.panel, size);
    EXPECT_EQ(OptionBytesFromPanel(f.panel, 11)[0], expected) << size;
  }
  // The ninth row drives bit 5 of OR1 for classes 12 and 13 only.
  f.panel.Option[8].selected = 0;
  EXPECT_EQ(OptionBytesFromPanel(f.panel, 11)[1], 0xFF);
  EXPECT_EQ(OptionBytesFromPanel(f.panel, 12)[1], 0xDF);
  EXPECT_EQ(OptionBytesFromPanel(f.panel, 13)[1], 0xDF);
}

TEST(OptionPayload, LayoutBFromThePanel) {
  ReportFixture f(1);
  SelectSize(f.panel, "0.0k");
  // Defaults YES YES YES NO YES: only EN6T at item 1.
  OptionPayload payload = OptionBytesFromPanel(f.panel, 1);
  EXPECT_EQ(payload[0], 0xF0);  // size code 16 becomes 15
  EXPECT_EQ(payload[1], 0xFF);
  SelectSize(f.panel, "1.5k");
  for (std::size_t row : {0, 1, 2, 4}) f.panel.Option[row].selected = 1;
  f.panel.Option[3].selected = 0;
  payload = OptionBytesFromPanel(f.panel, 1);
  EXPECT_EQ(payload[0], 0xDF);  // n = 13, all four flags
  EXPECT_EQ(payload[1], 0xFB);
  EXPECT_EQ(OptionIspSizeText({0xF0, 0xFF}, 1), "0.0 K");
  EXPECT_EQ(OptionIspSizeText({0xDF, 0xFF}, 1), "1.5 K");
  EXPECT_EQ(OptionIspSizeText({0x0F, 0xFF}, 1), "8.0 K");

  // Each row alone at "item 0": rows 0, 1, 2 and 4 clear bits 0 to 3, row 3 (EN6T) bit 2 of the
  // mode byte.
  for (std::size_t row = 0; row < 5; ++row) f.panel.Option[row].selected = 1;
  const std::tuple<std::size_t, std::uint8_t, std::uint8_t> clears[] = {
      {0, 0xDE, 0xFF}, {1, 0xDD, 0xFF}, {2, 0xDB, 0xFF}, {3, 0xDF, 0xFB}, {4, 0xD7, 0xFF}};
  for (const auto& [row, option, mode] : clears) {
    f.panel.Option[row].selected = 0;
    payload = OptionBytesFromPanel(f.panel, 1);
    EXPECT_EQ(payload[0], option) << "row " << row;
    EXPECT_EQ(payload[1], mode) << "row " << row;
    f.panel.Option[row].selected = 1;
  }
  // Every size of the list is read back as chosen.
  for (const std::string& size : f.panel.Combo2.entries) {
    SelectSize(f.panel, size);
    payload = OptionBytesFromPanel(f.panel, 1);
    EXPECT_EQ(OptionIspSizeText({payload[0], payload[1]}, 1), size.substr(0, 3) + " K") << size;
  }
}

TEST(OptionPayload, IspSizeReadAndShownWithAPointInEveryLocale) {
  const test::DecimalCommaLocale locale;
  if (!locale.Held()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
  ReportFixture f(1);
  SelectSize(f.panel, "1.5k");
  EXPECT_EQ(OptionBytesFromPanel(f.panel, 1)[0] >> 4, 13);
  EXPECT_EQ(OptionIspSizeText({0xDF, 0xFF}, 1), "1.5 K");
}

TEST(OptionReport, LayoutAEnglishWithTheRegisterTable) {
  ReportFixture f(2);
  f.log.Append("X");
  f.view.selStart = 5;
  f.view.selLength = 3;
  OptionReport(f.context, {0xFD, 0xFF}, f.view);
  EXPECT_EQ(f.view.selStart, 0U);
  EXPECT_EQ(f.view.selLength, 0U);
  const std::string expected =
      "X\r\nOR0 = FDH, OR1 = FFH\r\n\r\nISP size = 0.0 K"
      "\r\nUnlock MCU           (LOCK=1)"
      "\r\nRead is scrambled      (SB=0)"
      "\r\nMOVC is enable      (MOVCL=1)"
      "\r\n12T mode             (EN6T=1)"
      "\r\nBoot from AP         (HWBS=1)"
      "\r\nOSC gain is full    (OSCDN=1)"
      "\r\nEnable expand RAM (AUX_RAM=1)"
      "\r\nStop WDT with reset(CL_WDT=1)";
  EXPECT_EQ(f.log.Text(), expected);
  EXPECT_EQ(f.log.Caret(), expected.rfind("\r\nStop WDT"));

  // The opposite bits: every line keeps the width of its neighbours.
  ReportFixture g(2);
  OptionReport(g.context, {0x02, 0x00}, g.view);
  const std::string& text = g.log.Text();
  EXPECT_NE(text.find("OR0 = 2H, OR1 = 0H"), std::string::npos);
  EXPECT_NE(text.find("ISP size = 4.0 K"), std::string::npos);
  const char* zeros[] = {"Lock MCU, read FF    (LOCK=0)", "Read is transparent    (SB=1)",
                         "MOVC is disable     (MOVCL=0)", "6T mode              (EN6T=0)",
                         "Boot from ISP        (HWBS=0)", "OSC gain is low     (OSCDN=0)",
                         "Disable expand RAM(AUX_RAM=0)", "Stop WDT power-down(CL_WDT=0)"};
  for (const char* line : zeros) {
    EXPECT_NE(text.find(std::string("\r\n") + line), std::string::npos) << line;
    EXPECT_EQ(std::string(line).size(), 29U) << line;
  }
}

// Both option registers at FF but for one bit.
OptionBytes WithBitCleared(int reg, int bit) {
  OptionBytes bytes{0xFF, 0xFF};
  bytes[static_cast<std::size_t>(reg)] &= static_cast<std::uint8_t>(~(1 << bit));
  return bytes;
}

// Each flag is read from its own bit: with that bit alone cleared, only its line and its label
// turn.
TEST(OptionReport, EachFlagIsReadFromItsOwnBit) {
  const struct {
    int reg, bit;
    const char* one;
    const char* zero;
  } layoutA[] = {{0, 0, "Unlock MCU           (LOCK=1)", "Lock MCU, read FF    (LOCK=0)"},
                 {0, 1, "Read is transparent    (SB=1)", "Read is scrambled      (SB=0)"},
                 {0, 2, "MOVC is enable      (MOVCL=1)", "MOVC is disable     (MOVCL=0)"},
                 {1, 0, "12T mode             (EN6T=1)", "6T mode              (EN6T=0)"},
                 {1, 1, "Boot from AP         (HWBS=1)", "Boot from ISP        (HWBS=0)"},
                 {1, 4, "OSC gain is full    (OSCDN=1)", "OSC gain is low     (OSCDN=0)"},
                 {1, 6, "Enable expand RAM (AUX_RAM=1)", "Disable expand RAM(AUX_RAM=0)"},
                 {1, 7, "Stop WDT with reset(CL_WDT=1)", "Stop WDT power-down(CL_WDT=0)"}};
  const char* labelsOne[] = {"Unlock MCU       ", "Read is transparent", "Enable MOVC instructio",
                             "12T mode",          "Boot from AP",        "OSC gain is full"};
  const char* labelsZero[] = {"Lock MCU, read FF", "Read is scrambled", "Disable MOVC instructio",
                              "6T mode",           "Boot from ISP",     "OSC gain is 1/2"};
  for (std::size_t i = 0; i < std::size(layoutA); ++i) {
    const OptionBytes bytes = WithBitCleared(layoutA[i].reg, layoutA[i].bit);
    ReportFixture f(2);
    OptionReport(f.context, bytes, f.view);
    ShowReadOutLabels(f.panel, bytes, 2, true);
    for (std::size_t j = 0; j < std::size(layoutA); ++j) {
      const std::string line = std::string("\r\n") + (i == j ? layoutA[j].zero : layoutA[j].one);
      EXPECT_NE(f.log.Text().find(line), std::string::npos) << i << line;
      if (j < std::size(labelsOne)) {
        EXPECT_EQ(f.panel.read_Option[j].caption, i == j ? labelsZero[j] : labelsOne[j]) << i;
      }
    }
  }

  const struct {
    int reg, bit;
    const char* name;
    const char* label;
  } layoutB[] = {{0, 0, "LOCK     ", "LOCK"},
                 {0, 1, "ENCRYPT  ", "SB"},
                 {0, 2, "MOVCL    ", "MOVCL"},
                 {1, 2, "EN6T     ", "EN6T"},
                 {0, 3, "HWEN_ISP ", "HWEN_ISP"}};
  for (std::size_t i = 0; i < std::size(layoutB); ++i) {
    const OptionBytes bytes = WithBitCleared(layoutB[i].reg, layoutB[i].bit);
    ReportFixture f(1);
    OptionReport(f.context, bytes, f.view);
    ShowReadOutLabels(f.panel, bytes, 1, true);
    for (std::size_t j = 0; j < std::size(layoutB); ++j) {
      const std::string line =
          std::string("\r\n") + layoutB[j].name + (i == j ? "is Yes" : "is No");
      EXPECT_NE(f.log.Text().find(line), std::string::npos) << i << line;
      EXPECT_EQ(f.panel.read_Option[j].caption,
                std::string(layoutB[j].label) + (i == j ? ": Yes" : ": No"))
          << i;
    }
  }
}

TEST(OptionReport, RegisterTableDigitsStandUnderTheirBits) {
  const std::string table = RegisterTable({0xFD, 0x3A});
  EXPECT_EQ(table,
            "        bit7   bit6   bit5   bit4   bit3   bit2   bit1   bit0\r\n"
            "OR0:      -      -  ISPADR1 ISPADR0   -    MOVCL   SB    LOCK\r\n"
            "    FDH   1      1      1      1      1      1      0      1\r\n"
            "OR1:   CL_WDT AUX_RAM   -   OSCDN     -      -    HWBS   EN6T\r\n"
            "    3AH   0      0      1      1      1      0      1      0");
  const std::string bits = table.substr(0, table.find("\r\n"));
  const std::string row = "    3AH   0      0      1      1      1      0      1      0";
  for (int bit = 7; bit >= 0; --bit) {
    const std::size_t column = bits.find("bit" + std::to_string(bit)) + 2;
    EXPECT_EQ(row[column], '0' + ((0x3A >> bit) & 1)) << "bit " << bit;
  }
}

TEST(OptionReport, LayoutAChineseAndLayoutB) {
  ReportFixture zh(12);
  zh.english = false;
  OptionReport(zh.context, {0xFD, 0xFF}, zh.view);
  EXPECT_EQ(
      zh.log.Text(),
      "ISP 区域大小 = 0.0 K\r\n编程器可读 Flash\r\n编程器读 Flash 加密\r\n允许外部MOVC读 Flash"
      "\r\n单倍速 12T\r\n上电复位执行用户程序\r\n振荡器 Full gain\r\n允许访问扩展 RAM"
      "\r\n复位关看门狗\r\n   可能已加密，仅供参考。");
  EXPECT_TRUE(zh.view.text.empty());

  ReportFixture b(1);
  b.log.Append("OK!\r\n\r\n");
  OptionReport(b.context, {0xF5, 0xFB}, b.view);
  EXPECT_EQ(b.log.Text(),
            "OK!\r\n\r\nISP size = 0.0 K\r\nLOCK     is No\r\nENCRYPT  is Yes\r\nMOVCL    is No"
            "\r\nEN6T     is Yes\r\nHWEN_ISP is Yes\r\nIt's the reference of Option."
            "\r\n加密后的 Option 仅供参考。");
}

TEST(ShowReadOptions, LabelsAndTheirLogLines) {
  ReportFixture a(11);
  ShowReadOptions(a.context, a.panel, {0xEE, 0x6F});
  EXPECT_EQ(a.panel.read_Option[0].caption, "Lock MCU, read FF");
  EXPECT_EQ(a.panel.read_Option[1].caption, "Read is transparent");
  EXPECT_EQ(a.panel.read_Option[2].caption, "Enable MOVC instructio");
  EXPECT_EQ(a.panel.read_Option[3].caption, "12T mode");
  EXPECT_EQ(a.panel.read_Option[4].caption, "Boot from AP");
  EXPECT_EQ(a.panel.read_Option[5].caption, "OSC gain is 1/2");
  EXPECT_EQ(a.panel.read_Option[6].caption, "ISP size:   1.0 K");
  EXPECT_EQ(a.log.Text(),
            "\r\nISP size:  1.0 K\r\nLock MCU, read FF\r\nRead is transparent"
            "\r\nEnable MOVC instructio\r\n12T mode\r\nBoot from AP\r\nOSC gain is 1/2"
            "\r\nEnable expand RAM\r\nStop WDT with power off");

  ReportFixture b(1);
  ShowReadOptions(b.context, b.panel, {0x6A, 0xFB});
  EXPECT_EQ(b.panel.read_Option[6].caption, "ISP Space: 5.0 K");
  EXPECT_EQ(b.panel.read_Option[0].caption, "LOCK: Yes");
  EXPECT_EQ(b.panel.read_Option[1].caption, "SB: No");
  EXPECT_EQ(b.panel.read_Option[2].caption, "MOVCL: Yes");
  EXPECT_EQ(b.panel.read_Option[3].caption, "EN6T: Yes");
  EXPECT_EQ(b.panel.read_Option[4].caption, "HWEN_ISP: No");
  EXPECT_TRUE(b.log.Text().empty());
}

TEST(SizeText, KilobytesInTheFourHashThreeZeroForm) {
  EXPECT_EQ(SizeText(1536, 1024), "1.500K");
  EXPECT_EQ(SizeText(512, 1024), ".500K");
  EXPECT_EQ(SizeText(0, 1024), ".000K");
  EXPECT_EQ(SizeText(65536, 1024), "64.000K");
  EXPECT_EQ(SizeText(512, 8), "64.000K");
  EXPECT_EQ(SizeText(0x7F, 1024), ".124K");
  EXPECT_EQ(SizeText(1023, 1024), ".999K");
  EXPECT_EQ(SizeText(1048575, 1024), "1023.999K");
  EXPECT_EQ(SizeText(19999, 10000), "2.000K");  // rounds up into the next whole
  EXPECT_EQ(SizeText(7, 1), "7.000K");
  EXPECT_EQ(SizeText(-1, 1024), "-.001K");
  EXPECT_EQ(SizeText(7, 0), "K");  // no unit to count in
}

}  // namespace
}  // namespace kvr
