#include "ispdemo/isp_demo_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ispdemo/isp_demo_template.h"
#include "support/decimal_comma_locale.h"

namespace kvr {
namespace {

constexpr std::int32_t kBase = 0xF800;

std::array<std::uint8_t, 1024> TemplateBytes() {
  std::array<std::uint8_t, 1024> bytes{};
  for (int i = 0; i < 1024; ++i) {
    const char* row = IspDemoTemplate[i / 16];
    const int at = (i % 16) * 2;
    bytes[i] = static_cast<std::uint8_t>(std::stoi(std::string(row + at, 2), nullptr, 16));
  }
  return bytes;
}

// VXA05H as the model list selects it: AP to 7FFF, ISP and user area to FBFF.
IspDemoParameters Vxa05h() {
  IspDemoParameters p;
  p.crystal = "11.0592";
  p.baud = "38400";
  p.parity = true;
  p.model = "VXA05H";
  p.ispEnd = 0xFBFF;
  p.userEnd = 0xFBFF;
  p.apEnd = 0x7FFF;
  return p;
}

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::int32_t a = 0; a <= ImageBufferArray::kLastAddress; ++a) buffer->Set(a, 0x5A);
  }
  IspDemoBuildResult Build(const IspDemoParameters& p) { return BuildIspDemo(p, *buffer); }
  std::uint8_t At(int offset, std::int32_t base = kBase) const {
    return buffer->Get(base + offset);
  }

  std::unique_ptr<ImageBufferArray> buffer = std::make_unique<ImageBufferArray>();
  const std::array<std::uint8_t, 1024> original = TemplateBytes();
};

TEST(IspDemoTemplate, HoldsSixtyFourRowsOfUpperCaseHex) {
  for (const char* row : IspDemoTemplate) {
    ASSERT_EQ(std::strlen(row), 32u);
    for (const char* c = row; *c; ++c)
      EXPECT_TRUE(std::isdigit(*c) || (*c >= 'A' && *c <= 'F')) << row;
  }
}

TEST_F(BuilderTest, ReferenceImageAtF800ByteForByte) {
  const auto result = Build(Vxa05h());
  EXPECT_FALSE(result.failed);
  EXPECT_TRUE(result.message.empty());
  EXPECT_TRUE(result.placed);
  EXPECT_EQ(result.base, 0xF800);

  auto expected = original;
  expected[64] = 0x1D;
  expected[96] = 0xFF;
  expected[99] = 0x81;
  expected[102] = 0xFF;
  expected[105] = 0xF7;
  expected[108] = 124;  // (FBFF - 1024) / 512, data flash erased too
  expected[111] = 0x40;
  expected[114] = 0x05;
  expected[117] = 0x13;
  expected[119] = 0x03;
  // No watchdog and no RS-485: the feed and both direction routines only return.
  expected[67] = 0x22;
  expected[68] = expected[69] = 0x00;
  expected[70] = 0x22;
  for (int i = 71; i <= 78; ++i) expected[i] = 0x00;
  expected[79] = 0x22;
  for (int i = 80; i <= 92; ++i) expected[i] = 0x00;
  for (int i = 0; i < 1024; ++i) EXPECT_EQ(At(i), expected[i]) << "offset " << i;
  EXPECT_EQ(buffer->Get(kBase - 1), 0x5A);
  EXPECT_EQ(buffer->Get(kBase + 1024), 0x5A);
  ASSERT_TRUE(result.baud);
  EXPECT_EQ(result.baud->n, 9.0f);
}

TEST_F(BuilderTest, WatchdogAndDirectionPins) {
  auto p = Vxa05h();
  p.watchdog = true;
  p.watchdogPort = "P1";
  p.watchdogBit = "7";
  p.rs485 = true;
  p.rs485Port = "P3";
  p.rs485Bit = "5";
  p.rs485HighTransmit = true;
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(67), 0xB2);
  EXPECT_EQ(At(68), 0x97);
  EXPECT_EQ(At(69), 0x22);
  for (int offset : {71, 73, 82, 84}) EXPECT_EQ(At(offset), 0xB5) << offset;
  EXPECT_EQ(At(70), 0xC2);  // receive: pin low
  EXPECT_EQ(At(72), 0xC2);
  EXPECT_EQ(At(81), 0xD2);  // transmit: pin high
  EXPECT_EQ(At(83), 0xD2);
  for (int offset : {74, 75, 76, 77, 78, 79, 80, 85, 86, 87, 88, 89, 90, 91, 92, 93})
    EXPECT_EQ(At(offset), original[offset]) << offset;

  p.rs485HighTransmit = false;
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(70), 0xD2);
  EXPECT_EQ(At(72), 0xD2);
  EXPECT_EQ(At(81), 0xC2);
  EXPECT_EQ(At(83), 0xC2);

  // Each build starts again from the template.
  ASSERT_FALSE(Build(Vxa05h()).failed);
  EXPECT_EQ(At(67), 0x22);
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(67), 0xB2);
}

TEST_F(BuilderTest, PinConflictStopsAfterTheEarlyBytes) {
  auto p = Vxa05h();
  p.crystal = "4";
  p.parity = false;
  p.watchdog = p.rs485 = true;
  p.watchdogPort = p.rs485Port = "P1";
  p.watchdogBit = p.rs485Bit = "7";
  const auto result = Build(p);
  EXPECT_TRUE(result.failed);
  EXPECT_TRUE(result.placed);
  EXPECT_EQ(
      result.message,
      "The external watchdog feed and the RS-485 direction control cannot use the same I/O pin.");
  EXPECT_FALSE(result.baud);
  EXPECT_EQ(At(96), 0xFE);
  EXPECT_EQ(At(64), 0x0B);  // CInt(4 * 2.5431 + 0.5)
  EXPECT_EQ(At(108), 124);
  for (int i = 0; i < 1024; ++i) {
    if (i != 64 && i != 96 && i != 108) {
      EXPECT_EQ(At(i), original[i]) << "offset " << i;
    }
  }

  // The same pin written two ways is the same conflict; in Chinese for a Chinese window.
  p.rs485Bit = "07";
  p.useEnglish = false;
  EXPECT_EQ(Build(p).message, "喂外部看门狗和485收发控制不能用同一个 I/O 口。");
}

TEST_F(BuilderTest, BadPinsAreRefused) {
  auto p = Vxa05h();
  p.watchdog = true;
  p.watchdogPort = "P1";
  p.watchdogBit = "8";
  EXPECT_EQ(Build(p).message, "The external watchdog's I/O pin address is not valid.");
  p.useEnglish = false;
  p.watchdogPort = "P1";
  p.watchdogBit = "8";
  EXPECT_EQ(Build(p).message, "喂外部看门狗 I/O 口地址不正确。");
  p.watchdogBit = "-1";  // would name a RAM bit
  EXPECT_EQ(Build(p).message, "喂外部看门狗 I/O 口地址不正确。");
  p.watchdogBit = "7";
  p.watchdogPort = "P5";
  EXPECT_EQ(Build(p).message, "喂外部看门狗 I/O 口地址不正确。");

  p = Vxa05h();
  p.useEnglish = false;
  p.rs485 = true;
  p.rs485Port = "P5";
  auto result = Build(p);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.message, "485收发控制 I/O 口地址不正确。");
  EXPECT_EQ(At(67), 0x22);  // the watchdog step had run
  EXPECT_EQ(At(70), original[70]);
  p.rs485Port = "P4";
  p.rs485Bit = "8";
  EXPECT_EQ(Build(p).message, "485收发控制: I/O 口地址不正确。");
  p.rs485Bit = "7";
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(71), 0xEF);
}

TEST_F(BuilderTest, CrystalSetsClassWaitAndTimingBytes) {
  struct Case {
    const char* crystal;
    std::uint8_t crystalClass, wait;
  };
  for (const Case& c :
       {Case{"4", 1, 0x83}, Case{"4.5", 2, 0x83}, Case{"5.5", 2, 0x82}, Case{"10.5", 3, 0x82},
        Case{"20.5", 5, 0x81}, Case{"42", 9, 0x80}, Case{"42.5", 12, 0x80}}) {
    auto p = Vxa05h();
    p.crystal = c.crystal;
    ASSERT_FALSE(Build(p).failed) << c.crystal;
    EXPECT_EQ(At(119), c.crystalClass) << c.crystal;
    EXPECT_EQ(At(99), c.wait) << c.crystal;
  }
  auto p = Vxa05h();
  p.crystal = "44.1368";
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(64), 113);  // CInt(112.75)
  EXPECT_EQ(At(117), 76);  // CInt(76.23)
  // A delay count that does not fit its byte keeps the template's.
  p.crystal = "120";
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(64), original[64]);
  EXPECT_EQ(At(117), 207);
}

// No reload Timer 2 can take: refused before the reload is written, in the window's language.
TEST_F(BuilderTest, BaudRateTheCrystalCannotMakeIsRefused) {
  for (const char* crystal : {"1", "1e9"}) {
    auto p = Vxa05h();
    p.crystal = crystal;
    p.baud = "115200";
    auto result = Build(p);
    EXPECT_TRUE(result.failed) << crystal;
    EXPECT_EQ(result.message,
              "The baud rate cannot be made from this crystal: choose another frequency or baud "
              "rate.")
        << crystal;
    EXPECT_EQ(At(102), original[102]) << crystal;
    EXPECT_EQ(At(105), original[105]) << crystal;
    EXPECT_EQ(PlacedReload(*buffer, kBase), 0xFFF7) << "the template's";
    EXPECT_NE(At(99), original[99]) << "the steps before it ran";
    p.useEnglish = false;
    EXPECT_EQ(Build(p).message, "此内部时钟频率不能产生该波特率，请另选频率或波特率。");
  }
  auto p = Vxa05h();
  p.crystal = "5033.1648";
  p.baud = "2400";
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(PlacedReload(*buffer, kBase), 0x0000);
}

TEST_F(BuilderTest, CrystalThatIsNoPositiveNumberPlacesNothing) {
  for (const char* crystal : {"", "abc", "0", "-11.0592"}) {
    auto p = Vxa05h();
    p.crystal = crystal;
    const auto result = Build(p);
    EXPECT_TRUE(result.failed) << crystal;
    EXPECT_FALSE(result.placed) << crystal;
    EXPECT_TRUE(result.message.empty()) << crystal;
    EXPECT_EQ(At(0), 0x5A) << crystal;
  }
}

TEST_F(BuilderTest, EraseCountAndBaseFollowTheModel) {
  auto p = Vxa05h();
  p.eraseData = false;
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(108), 64);  // 7FFF / 512: the AP area alone
  p.apUpToIsp = true;      // no data area: the erase-data choice does not matter
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(At(108), 124);

  IspDemoParameters vxa01 = Vxa05h();
  vxa01.model = "VXA01L";
  vxa01.ispEnd = vxa01.userEnd = 0x3BFF;
  vxa01.apEnd = 0x0FFF;
  const auto result = Build(vxa01);
  ASSERT_FALSE(result.failed);
  EXPECT_EQ(result.base, 0x3800);
  EXPECT_EQ(At(108, 0x3800), 28);
  EXPECT_EQ(At(111, 0x3800), 0x00);
  EXPECT_EQ(At(114, 0x3800), 0x01);
  for (int i : {0, 200, 1023}) EXPECT_EQ(At(i, 0x3800), original[i]);
}

TEST_F(BuilderTest, UnknownModelIsRefusedInTheWindowLanguage) {
  auto p = Vxa05h();
  p.model = "VXB05H";
  p.baud = "9600";
  auto result = Build(p);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.message, "MCU type is erroneous.");
  // Everything up to the reload is in place; the model and later bytes are the template's.
  EXPECT_EQ(At(102), 0xFF);
  EXPECT_EQ(At(105), 0xDC);  // 65536 - 36
  EXPECT_EQ(At(99), 0x81);
  EXPECT_EQ(At(67), 0x22);
  for (int offset : {111, 114, 117, 119}) EXPECT_EQ(At(offset), original[offset]) << offset;
  ASSERT_TRUE(result.baud);
  EXPECT_EQ(result.baud->n, 36.0f);

  p.useEnglish = false;
  EXPECT_EQ(Build(p).message, "MCU 型号不正确。");
  p.model = "";
  EXPECT_EQ(Build(p).message, "MCU 型号不正确。");
}

TEST_F(BuilderTest, OutsideTheBufferNothingIsWritten) {
  auto p = Vxa05h();
  p.ispEnd = 500;  // the demo would start below address 0
  ASSERT_FALSE(Build(p).failed);
  EXPECT_EQ(buffer->Get(0), original[523]);
  EXPECT_EQ(buffer->Get(500), original[1023]);
  EXPECT_EQ(buffer->Get(501), 0x5A);
}

TEST(ModelNumberTable, NumbersAndUnknownNames) {
  EXPECT_EQ(ModelNumber("VXA01L"), "0001");
  EXPECT_EQ(ModelNumber("VXA06L"), "0006");
  EXPECT_EQ(ModelNumber("VXA03H"), "4003");
  EXPECT_EQ(ModelNumber("VXA07H"), "FFFF");
  EXPECT_EQ(ModelNumber("vxa01l"), "FFFF");
}

TEST(BaudReloadLabel, ExamplesColoursAndGivingUp) {
  auto r = BaudReload("11.0592", "38400");
  EXPECT_EQ(r.n, 9.0f);
  EXPECT_EQ(r.caption, " 0%");
  EXPECT_EQ(r.colour, BaudErrorColour::Normal);

  r = BaudReload("12", "9600");
  EXPECT_EQ(r.n, 39.0f);
  EXPECT_EQ(r.caption, " .1602%");
  EXPECT_EQ(r.colour, BaudErrorColour::Normal);

  r = BaudReload("3.312", "10000");  // N = 10, actual 10350: exactly +3.5 %
  EXPECT_EQ(r.n, 10.0f);
  EXPECT_EQ(r.caption, " 3.5%");
  EXPECT_EQ(r.colour, BaudErrorColour::Yellow);
  EXPECT_EQ(BaudReload("3.088", "10000").colour, BaudErrorColour::Yellow);  // -3.5 %
  EXPECT_EQ(BaudReload("3.1", "10000").colour, BaudErrorColour::Normal);    // -3.125 %

  r = BaudReload("2.688", "10000");  // N = 8, actual 10500: exactly +5 %
  EXPECT_EQ(r.caption, " 5%");
  EXPECT_EQ(r.colour, BaudErrorColour::Red);

  r = BaudReload("12", "115200");  // N = 3, +8.5 %
  EXPECT_EQ(r.caption, " 8.506%");
  EXPECT_EQ(r.colour, BaudErrorColour::Red);

  r = BaudReload("11.0592", "172800");  // N = 2, no error, still red
  EXPECT_EQ(r.n, 2.0f);
  EXPECT_EQ(r.caption, " 0%");
  EXPECT_EQ(r.colour, BaudErrorColour::Red);

  r = BaudReload("11.0592", "57601");  // a small negative error
  EXPECT_EQ(r.caption, " -.001%");

  // No crystal: the label is left as it is.
  for (const char* crystal : {"0", "x"}) {
    r = BaudReload(crystal, "9600");
    EXPECT_EQ(r.n, 0.0f) << crystal;
    EXPECT_FALSE(r.caption) << crystal;
  }
  // A crystal but no count Timer 2 can take: no value, in red, never the last one shown.
  for (auto [crystal, baud] : {std::pair{"12", "0"}, std::pair{"12", ""}, std::pair{"12", "-9600"},
                               std::pair{"1", "115200"}}) {
    r = BaudReload(crystal, baud);
    EXPECT_LE(r.n, 0.0f) << crystal << "/" << baud;
    EXPECT_FALSE(r.Usable()) << crystal << "/" << baud;
    EXPECT_EQ(r.caption, "   %") << crystal << "/" << baud;
    EXPECT_EQ(r.colour, BaudErrorColour::Red) << crystal << "/" << baud;
  }
  // 65536 is the largest count: a reload of 0000. One more does not fit 16 bits.
  r = BaudReload("5033.1648", "2400");
  EXPECT_EQ(r.n, 65536.0f);
  EXPECT_TRUE(r.Usable());
  EXPECT_EQ(r.colour, BaudErrorColour::Normal);
  r = BaudReload("5033.2416", "2400");
  EXPECT_EQ(r.n, 65537.0f);
  EXPECT_FALSE(r.Usable());
  EXPECT_EQ(r.caption, " 0%");
  EXPECT_EQ(r.colour, BaudErrorColour::Red);

  EXPECT_EQ(BaudErrorBackColour(BaudErrorColour::Red), 0xFFu);
  EXPECT_EQ(BaudErrorBackColour(BaudErrorColour::Yellow), 0xFFFFu);
  EXPECT_EQ(BaudErrorBackColour(BaudErrorColour::Normal), 0x8000000Fu);
}

TEST(NumberText, SingleText) {
  EXPECT_EQ(SingleText(0.0f), "0");
  EXPECT_EQ(SingleText(0.1602564f), ".1602564");
  EXPECT_EQ(SingleText(-3.5f), "-3.5");
  EXPECT_EQ(SingleText(-0.25f), "-.25");
  EXPECT_EQ(SingleText(38400.0f), "38400");
  EXPECT_EQ(SingleText(100.0f), "100");
  EXPECT_EQ(SingleText(1234567.0f), "1234567");
  EXPECT_EQ(SingleText(12345678.0f), "1.234568E+07");
  EXPECT_EQ(SingleText(0.00001f), ".00001");
  EXPECT_EQ(SingleText(0.000001f), "1E-06");
  EXPECT_EQ(SingleText(2.0f / 3.0f), ".6666667");
}

TEST(NumberText, ThePointIsTheDecimalSignInEveryLocale) {
  const test::DecimalCommaLocale locale;
  if (!locale.Held()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
  EXPECT_DOUBLE_EQ(LeadingNumber("11.0592"), 11.0592);
  EXPECT_EQ(SingleText(0.1602564f), ".1602564");
  EXPECT_EQ(SingleText(12345678.0f), "1.234568E+07");
}

TEST(NumberText, CIntAndLeadingNumber) {
  EXPECT_EQ(CInt(0.5), 0);
  EXPECT_EQ(CInt(1.5), 2);
  EXPECT_EQ(CInt(2.5), 2);
  EXPECT_EQ(CInt(2.51), 3);
  EXPECT_EQ(CInt(-1.5), -2);
  EXPECT_EQ(CInt(-2.5), -2);

  EXPECT_DOUBLE_EQ(LeadingNumber("11.0592"), 11.0592);
  EXPECT_DOUBLE_EQ(LeadingNumber("  12MHz"), 12);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("-3"), -3);
  EXPECT_DOUBLE_EQ(LeadingNumber("+7"), 7);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e3"), 1000);
  EXPECT_DOUBLE_EQ(LeadingNumber("2e"), 2);
  EXPECT_DOUBLE_EQ(LeadingNumber("abc"), 0);
  EXPECT_DOUBLE_EQ(LeadingNumber(""), 0);
  EXPECT_DOUBLE_EQ(LeadingNumber("-"), 0);
  EXPECT_DOUBLE_EQ(LeadingNumber("."), 0);
}

}  // namespace
}  // namespace kvr
