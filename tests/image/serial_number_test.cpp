#include "image/serial_number.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/station_fixture.h"
#include "image/hex_field.h"

namespace kvr {
namespace {

TEST(HexFieldTest, FixedWidthKeepsTheLastDigitsAndRefusesOthers) {
  EXPECT_EQ(ParseHexField("12345", 4), 0x2345);
  EXPECT_EQ(ParseHexField("12345", 5), 0x12345);
  EXPECT_EQ(ParseHexField("  3fA ", 4), 0x3FA);
  EXPECT_EQ(ParseHexField("", 4), 0);
  EXPECT_EQ(ParseHexField(std::string(100'000, 'F'), 5), 0xFFFFF);
  EXPECT_LT(ParseHexField("12G4", 4), 0);
  EXPECT_LT(ParseHexField("-1", 4), 0);
  EXPECT_LT(ParseHexField("\xE5\x9C\xB0", 4), 0);
}

// Digits for each encoding, the binary one Int(bytes * 2.41 + 1.5) exactly: 50 bytes give 122
// where 121.99 would round down, 89 bytes 215.99.
TEST(SerialRulesTest, DigitsForEachEncodingAndByteCount) {
  const struct {
    SerialMode mode;
    std::int64_t bytes;
    int digits;
  } counts[] = {{SerialMode::Binary, 0, 0},          {SerialMode::Binary, 1, 3},
                {SerialMode::Binary, 50, 122},       {SerialMode::Binary, 89, 215},
                {SerialMode::Binary, 0x7FFE, 78967}, {SerialMode::Binary, 0x7FFF, 78969},
                {SerialMode::Binary, 0x8000, 78969}, {SerialMode::PackedBcd, 3, 6},
                {SerialMode::Ascii, 5, 5},           {SerialMode::Ascii, 100'000, 0x7FFF}};
  for (const auto& c : counts) EXPECT_EQ(SerialDigitCount(c.mode, c.bytes), c.digits) << c.bytes;
}

// A number as the station reads the Next Number field: sign, leading digits, a first decimal
// of 5 to 9 rounding away from zero, 19 digits and more saturating.
TEST(SerialRulesTest, NumbersAreReadFromTheirLeadingDigits) {
  const std::pair<const char*, std::int64_t> numbers[] = {
      {"12.5", 13},
      {"12.4", 12},
      {"12.9", 13},
      {"12.5x", 13},
      {"12.a", 12},
      {"12.", 12},
      {"12x5", 12},
      {".5", 1},
      {"-12.5", -13},
      {"+12", 12},
      {" 7 ", 7},
      {"123456789012345678", 123'456'789'012'345'678},
      {"1234567890123456789", kMaxSerialMagnitude},
      {"999999999999999999.5", kMaxSerialMagnitude}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(ReadNumber(text), value) << text;
}

TEST(SerialRulesTest, FieldsOfNoDigitsAndStepsAcrossZero) {
  EXPECT_EQ(FitDigits("7", 0), "");
  EXPECT_EQ(FitDigits("7", -1), "");
  EXPECT_EQ(FitDigits("7", 1), "7");
  EXPECT_EQ(AddToNumber("5", -10), "-5");
  EXPECT_EQ(AddToNumber("100000000000000000", -200'000'000'000'000'000), "-100000000000000000");
  // Beyond 18 digits the digits move one by one: carries above 9, borrows down to a single digit.
  EXPECT_EQ(AddToNumber("10000000000000000000", 100), "10000000000000000100");
  EXPECT_EQ(AddToNumber("1000000000000000000", -999'999'999'999'999'999), "1");
}

TEST(SerialRulesTest, EncodingsAtTheirEdges) {
  const SerialEncoding largest = EncodeSerial("2147483647", SerialMode::Binary, 4);
  EXPECT_EQ(largest.error, StampError::None);
  EXPECT_EQ(largest.bytes, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(EncodeSerial("2147483648", SerialMode::Binary, 4).error, StampError::BinaryTooBig);
  // An even count of digits fills whole bytes, the rest stays zero.
  EXPECT_EQ(EncodeSerial("12", SerialMode::PackedBcd, 2).bytes,
            (std::vector<std::uint8_t>{0x12, 0x00}));
  // No bytes: nothing to stamp and nothing that could not fit.
  const SerialEncoding none = EncodeSerial("5", SerialMode::Ascii, 0);
  EXPECT_EQ(none.error, StampError::None);
  EXPECT_TRUE(none.bytes.empty());
}

TEST(SerialRulesTest, CountsAndSumsStayExact) {
  EXPECT_EQ(SerialDigitCount(SerialMode::Binary, 4), 11);
  EXPECT_EQ(SerialDigitCount(SerialMode::Binary, 136), 329);  // beyond a 16-bit product
  EXPECT_EQ(SerialDigitCount(SerialMode::PackedBcd, -5), 0);
  EXPECT_EQ(ReadNumber(std::string(40, '9')), kMaxSerialMagnitude);
  EXPECT_EQ(FitDigits("7", 65'534), "0000000000000007");
  EXPECT_EQ(AddToNumber("99999999999999999999999", 1), "100000000000000000000000");
  EXPECT_EQ(AddToNumber("10000000000000000000000", -1), "9999999999999999999999");
  EXPECT_EQ(EncodeSerial("123", SerialMode::PackedBcd, 3).bytes,
            (std::vector<std::uint8_t>{0x23, 0x01, 0x00}));
  EXPECT_EQ(EncodeSerial("7", SerialMode::Ascii, 2).bytes, (std::vector<std::uint8_t>{0x37, 0x30}));
}

class SerialNumberTest : public StationTest {
 protected:
  void Enable(const std::string& address, const std::string& bytes, const std::string& next,
              int mode, const std::string& step = "1") {
    station.texAuto_Increase = {TextBox{address}, TextBox{bytes}, TextBox{next}, TextBox{step}};
    station.optAuto_Increase.selected = mode;
    station.OnSerialFieldChange();
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
  }
  std::vector<std::uint8_t> BytesAt(std::int32_t first, std::int32_t count) const {
    std::vector<std::uint8_t> bytes;
    for (std::int32_t a = first; a < first + count; ++a)
      bytes.push_back(station.ImageBuffer.Get(a));
    return bytes;
  }
  std::string Stored(const char* key) {
    return vp.settings.Read(Station::kApplication, "Auto_Increase", key, "<none>");
  }
  std::string LastBox() const {
    const auto& shown = vp.dialogs.ShownDialogs();
    return shown.empty() ? std::string() : shown.back().text;
  }
  const std::string& Next() const { return station.texAuto_Increase[2].text; }
  using Bytes = std::vector<std::uint8_t>;
};

TEST_F(SerialNumberTest, ThreeEncodings) {
  Enable("0201", "2", "42", 1);
  EXPECT_EQ(Next(), "0042");
  EXPECT_EQ(BytesAt(0x200, 2), (Bytes{0x00, 0x42}));
  Enable("0203", "4", "305419896", 0);
  EXPECT_EQ(Next(), "00305419896");
  EXPECT_EQ(BytesAt(0x200, 4), (Bytes{0x12, 0x34, 0x56, 0x78}));
  Enable("0302", "3", "7", 2);
  EXPECT_EQ(Next(), "007");
  EXPECT_EQ(BytesAt(0x300, 3), (Bytes{0x30, 0x30, 0x37}));
}

TEST_F(SerialNumberTest, StampRefusalsWriteNothing) {
  vp.dialogs.ExpectInformation();
  Enable("0204", "5", "1", 0);
  EXPECT_TRUE(station.SerialActive) << "validation passed; the stamp refused";
  EXPECT_EQ(LastBox(), "The Bytes must less than 5 when select hexadecimal");
  vp.dialogs.ExpectInformation();
  Enable("0203", "4", "2147483648", 0);
  EXPECT_EQ(LastBox(), "The Next Number must less than 2147483649 when select hexadecimal");
  vp.dialogs.ExpectInformation();
  Enable("0203", "4", "12a4", 1);
  EXPECT_EQ(LastBox(), " 'Next Number' should be Decimal");
  EXPECT_EQ(BytesAt(0x200, 5), Bytes(5, 0x00));
}

// A number the bytes cannot hold is refused whole, never cut: not when the box is ticked, not
// when it is reserved, not when it is the one after the last that fitted.
TEST_F(SerialNumberTest, NumbersThatDoNotFitTheirBytesAreRefusedNeverCut) {
  struct Case {
    int mode;
    const char* bytes;
    const char* first;  // numbers from here on fit, `chips` of them
    int chips;
    const char* step;
    const char* next;  // the one after it, shown and stored as it is
    const char* box;
  };
  const Case cases[] = {
      {0, "1", "254", 2, "1", "256",
       "The Next Number 256 does not fit in 1 Bytes: the largest is 255"},
      {0, "3", "16777215", 1, "1", "16777216",
       "The Next Number 16777216 does not fit in 3 Bytes: the largest is 16777215"},
      {1, "1", "0", 3, "40", "120",
       "The Next Number 120 does not fit in 1 Bytes: the largest is 99"},
      {1, "2", "9995", 1, "10", "10005",
       "The Next Number 10005 does not fit in 2 Bytes: the largest is 9999"},
      {2, "2", "99", 1, "1", "100",
       "The Next Number 100 does not fit in 2 Bytes: the largest is 99"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " in " + c.bytes + " bytes, mode " +
                 std::to_string(c.mode));
    Enable("0203", c.bytes, c.first, c.mode, c.step);
    for (int chip = 0; chip < c.chips; ++chip) ASSERT_TRUE(station.ReserveSerial()) << chip;
    EXPECT_EQ(Next(), c.next);
    EXPECT_EQ(Stored("next_value"), c.next);
    const Bytes before = BytesAt(0x200, 4);
    vp.dialogs.ExpectInformation();
    EXPECT_FALSE(station.ReserveSerial());
    EXPECT_EQ(LastBox(), c.box);
    EXPECT_EQ(BytesAt(0x200, 4), before) << "nothing stamped";
    EXPECT_EQ(Stored("next_value"), c.next) << "nothing handed out";
    // Typed in, it is refused when the box is ticked.
    vp.dialogs.ExpectInformation();
    Enable("0203", c.bytes, c.next, c.mode, c.step);
    EXPECT_EQ(LastBox(), c.box);
    EXPECT_TRUE(station.SerialStampRefused());
  }
  station.UseEnglish = false;
  vp.dialogs.ExpectInformation();
  Enable("0203", "1", "300", 0);
  EXPECT_EQ(LastBox(), "“下一值” 300 超出 1 个字节，最大为 255。");
}

// Numbers only ever grow: a step below 1, or no whole number, is refused when the box is ticked.
TEST_F(SerialNumberTest, StepMustBeAWholeNumberOfOneOrMore) {
  for (const char* step : {"0", "-1", "abc", "1.5", "", "+2"}) {
    vp.dialogs.ExpectInformation();
    Enable("0201", "2", "42", 1, step);
    EXPECT_EQ(LastBox(), "The Step must be a whole number of 1 or more, not " + std::string(step))
        << step;
    EXPECT_FALSE(station.SerialActive) << step;
    EXPECT_EQ(Stored("next_value"), "<none>") << "nothing stored for " << step;
  }
  Enable("0201", "2", "42", 1, " 007 ");
  EXPECT_TRUE(station.SerialActive);
  ASSERT_TRUE(station.ReserveSerial());
  EXPECT_EQ(Next(), "0049");
}

TEST_F(SerialNumberTest, LowestByteAndByteCountAreChecked) {
  Enable("0003", "4", "1", 1);
  EXPECT_TRUE(station.SerialActive);
  EXPECT_EQ(BytesAt(0, 4), (Bytes{0x00, 0x00, 0x00, 0x01}));
  for (const char* bytes : {"5", "0", "-3", "abc", "99999999999999999999999"}) {
    vp.dialogs.ExpectInformation();
    Enable("0003", bytes, "1234", 1);
    EXPECT_EQ(LastBox(), "The Auto_Increase low address too small or the bytes too big") << bytes;
    EXPECT_FALSE(station.SerialActive);
  }
  EXPECT_TRUE(station.cheAuto_Increase.checked);
  EXPECT_FALSE(station.texAuto_Increase[0].enabled);
}

TEST_F(SerialNumberTest, HighestAddressDependsOnTheClass) {
  station.SelectedDevice.ApEnd = 0x0FFF;
  station.SelectedDevice.UserEnd = 0xFBFF;
  for (const std::int16_t code : {0, 1, 2, 11, 12, 13}) {
    station.SelectedDevice.DeviceClassCode = code;
    const bool userArea = code >= 2;
    Enable(userArea ? "FBFF" : "0FFF", "2", "1", 1);
    EXPECT_TRUE(station.SerialActive) << code;
    vp.dialogs.ExpectInformation();
    Enable(userArea ? "FC00" : "1000", "2", "1", 1);
    EXPECT_EQ(LastBox(), "The Auto_Increase low address too big") << code;
  }
  station.UseEnglish = false;
  vp.dialogs.ExpectInformation();
  Enable("FC00", "2", "1", 1);
  EXPECT_EQ(LastBox(), "自动增量低位地址太大");
}

TEST_F(SerialNumberTest, ModelChoiceChecksTheStampAgain) {
  Enable("3001", "2", "42", 1);  // within the user area of the tree model
  ASSERT_TRUE(station.SerialActive);
  // VXE01L ends its AP range at 1FFF: the stamp may no longer write at 3001.
  const auto& models = station.combMcuModel.entries;
  station.combMcuModel.index =
      static_cast<int>(std::find(models.begin(), models.end(), "VXE01L") - models.begin());
  vp.dialogs.ExpectInformation();
  station.OnModelListClick();
  EXPECT_EQ(LastBox(), "The Auto_Increase low address too big");
  EXPECT_FALSE(station.SerialActive);
  EXPECT_TRUE(station.cheAuto_Increase.checked);

  // Back in the tree, the number is valid again and stamped once more.
  station.ImageBuffer.Set(0x3001, 0x00);
  station.OnTreeNodeClick("VXB03H");
  EXPECT_TRUE(station.SerialActive);
  EXPECT_EQ(BytesAt(0x3000, 2), (Bytes{0x00, 0x42}));
}

TEST_F(SerialNumberTest, ReservingStampsTheStoredNumberAndStoresTheNextOne) {
  Enable("0201", "2", "0095", 1, "10");
  ASSERT_TRUE(station.ReserveSerial());
  EXPECT_EQ(BytesAt(0x200, 2), (Bytes{0x00, 0x95}));
  EXPECT_EQ(Next(), "0105");
  EXPECT_EQ(Stored("next_value"), "0105");
  EXPECT_TRUE(station.SerialActive);

  // Another station took numbers meanwhile: this one goes on from what the store holds.
  vp.settings.Write(Station::kApplication, "Auto_Increase", "next_value", "0205");
  ASSERT_TRUE(station.ReserveSerial());
  EXPECT_EQ(BytesAt(0x200, 2), (Bytes{0x02, 0x05}));
  EXPECT_EQ(Stored("next_value"), "0215");

  Enable("0207", "8", "123456789012345", 1, "999999999");
  ASSERT_TRUE(station.ReserveSerial());
  EXPECT_EQ(BytesAt(0x200, 8), (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x23, 0x45}));
  EXPECT_EQ(Next(), "0123457789012344");
}

TEST_F(SerialNumberTest, NothingIsReservedThatCannotBeStampedOrStored) {
  vp.dialogs.ExpectInformation();
  Enable("0204", "5", "7", 0);
  station.ImageBuffer.Set(0x204, 0xAA);
  vp.dialogs.ExpectInformation();
  EXPECT_FALSE(station.ReserveSerial());
  EXPECT_EQ(LastBox(), "The Bytes must less than 5 when select hexadecimal");
  EXPECT_EQ(Stored("next_value"), "0000000000007");
  EXPECT_EQ(station.ImageBuffer.Get(0x204), 0xAA);
  EXPECT_EQ(station.textMsg.Text(),
            "\r\nThe serial number cannot be stamped: nothing was programmed.");

  station.textMsg.Replace("");
  Enable("0201", "2", "41", 1);
  station.ImageBuffer.Set(0x201, 0xAA);
  vp.settings.refuseChanges = true;
  EXPECT_FALSE(station.ReserveSerial());
  EXPECT_EQ(station.textMsg.Text(),
            "\r\nThe serial number could not be reserved in the settings file: nothing was "
            "programmed.");
  EXPECT_EQ(station.ImageBuffer.Get(0x201), 0xAA);
  EXPECT_EQ(Next(), "0041");
}

// The stored number is every station's: checking the box again keeps what another station
// moved it on to, and only a number typed here replaces it.
TEST_F(SerialNumberTest, OnlyATypedNumberReplacesTheStoredOne) {
  Enable("0201", "2", "41", 1);
  vp.settings.Write(Station::kApplication, "Auto_Increase", "next_value", "0050");
  station.OnAutoIncreaseClick();
  EXPECT_EQ(Stored("next_value"), "0050");
  EXPECT_EQ(Next(), "0050");
  EXPECT_EQ(BytesAt(0x200, 2), (Bytes{0x00, 0x50}));

  Enable("0201", "2", "60", 1);
  EXPECT_EQ(Stored("next_value"), "0060");
  EXPECT_EQ(BytesAt(0x200, 2), (Bytes{0x00, 0x60}));
}

TEST_F(SerialNumberTest, CheckBoxSavesStampsWidensAndScrollsToTheNumber) {
  Enable("2103", "4", "42", 1);
  EXPECT_EQ(Stored("address"), "2103");
  EXPECT_EQ(Stored("Length"), "4");
  EXPECT_EQ(Stored("next_value"), "00000042");
  EXPECT_EQ(Stored("numeral_system"), "1");
  EXPECT_EQ(station.ProgramEnd, 0x2103);
  EXPECT_EQ(station.txt_length.text, "2104");
  const std::string& text = station.txtBuffer.text;
  EXPECT_EQ(text.substr(4 + 3 * 60, 7), " 002100") << "the fourth line";
  EXPECT_EQ(text.substr(station.txtBuffer.selStart, station.txtBuffer.selLength), "00 00 00 42");
  EXPECT_EQ(station.txtBuffer2.selStart, station.txtBuffer.selStart);
  EXPECT_EQ(station.txtBuffer2.selLength, 11u);

  // A number below the range widens it to its first byte, not one further.
  station.ProgramStart = station.LoadStart = 0x300;
  Enable("0105", "4", "1", 1);
  EXPECT_EQ(station.ProgramStart, 0x102);

  station.cheAuto_Increase.checked = false;
  station.OnAutoIncreaseClick();
  EXPECT_FALSE(station.SerialActive);
  EXPECT_TRUE(station.texAuto_Increase[2].enabled);
}

TEST_F(SerialNumberTest, SettingsRoundTripAndStoredModeOutOfRange) {
  station.LoadSerialSettings();
  EXPECT_EQ(station.texAuto_Increase[0].text + station.texAuto_Increase[1].text +
                station.texAuto_Increase[2].text + station.texAuto_Increase[3].text,
            "FFFF"
            "8"
            "0000"
            "1");
  EXPECT_EQ(station.optAuto_Increase.selected, 1);
  station.texAuto_Increase[2].text = "007";
  station.optAuto_Increase.selected = 2;
  station.SaveSerialSettings();
  Station other(vp.platform);
  other.LoadSerialSettings();
  EXPECT_EQ(other.texAuto_Increase[2].text, "007");
  EXPECT_EQ(other.optAuto_Increase.selected, 2);
  for (const char* stored : {"3", "-1", "x"}) {
    vp.settings.Write(Station::kApplication, "Auto_Increase", "numeral_system", stored);
    other.LoadSerialSettings();
    EXPECT_EQ(other.optAuto_Increase.selected, 0) << stored;
  }
}

}  // namespace
}  // namespace kvr
