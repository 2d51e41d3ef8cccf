#include <gtest/gtest.h>

#include "app/station_fixture.h"
#include "operations/identity.h"

namespace kvr {
namespace {

TEST(IdentityDecode, TextIsHighByteThenLowByte) {
  EXPECT_EQ(IdentityText(0x02, 0xF0), "F002");
  EXPECT_EQ(IdentityText(0x55, 0x00), "0055");
  EXPECT_EQ(IdentityText(0x0A, 0xE1), "E10A");
}

TEST(IdentityDecode, TheClassChoosesTheTable) {
  for (const auto& [classCode, model] :
       {std::pair<std::int16_t, const char*>{12, "MCU: VXC01H/VXC01L"},
        {13, "MCU: VXD01H/VXD01L"},
        {11, "MCU: VXA01H/L or VXB01"},
        {2, "MCU: VXA01H/L or VXB01"},
        {1, "MCU: VXA01H/L or VXB01"},
        {0, "MCU: VXA01H/L or VXB01"}}) {
    std::string text = "F101";
    EXPECT_EQ(DecodeIdentity(classCode, text), model) << classCode;
    EXPECT_EQ(text, "F101");
  }
  std::string vxc = "F118";
  EXPECT_EQ(DecodeIdentity(12, vxc), "MCU: VXC02H/VXC02L");
  EXPECT_EQ(DecodeIdentity(13, vxc), "");
  std::string vxe = "0055";
  EXPECT_EQ(DecodeIdentity(1, vxe), "MCU: VXE0xL");
}

TEST(IdentityDecode, SwappedCodeReadsTheOtherWayRound) {
  std::string text = "10F4";
  EXPECT_EQ(DecodeIdentity(2, text), "MCU: VXM01L");
  EXPECT_EQ(text, "F410");
  // The class-12 and class-13 tables have no such row.
  std::string other = "10F4";
  EXPECT_EQ(DecodeIdentity(12, other), "");
  EXPECT_EQ(other, "10F4");
}

// The identity read against a simulated chip, on a connected link.
class ReadIdentityTest : public StationTest {
 protected:
  std::int16_t Read(bool showMessages) {
    vp.port.SelectPort(1);
    vp.port.Open();
    OperationContext context{station.link, station.textMsg, station.UseEnglish, device};
    station.textMsg.Replace({});
    return ReadIdentity(context, showMessages);
  }
  // The link sends the station's class code, so the read works on the station's fields.
  SelectedDeviceFields& device = station.SelectedDevice;
};

TEST_F(ReadIdentityTest, MatchingChipShowsItsModel) {
  device.DeviceClassCode = 2;
  device.IdentityCode = "F002";
  writer.Config().chipIdentity = 0xF002;
  EXPECT_EQ(Read(true), 0);
  EXPECT_EQ(station.textMsg.Text(), "MCU: VXA02H/L\r\n");
  EXPECT_EQ(vp.port.Written().back(),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x0A, 0x02, 0x00, 0x7E, 0x16}));
}

TEST_F(ReadIdentityTest, SwappedCodeMatchesItsModel) {
  device.DeviceClassCode = 2;
  device.IdentityCode = "F410";
  writer.Config().chipIdentity = 0x10F4;
  EXPECT_EQ(Read(true), 0);
  EXPECT_EQ(station.textMsg.Text(), "MCU: VXM01L\r\n");
}

TEST_F(ReadIdentityTest, KnownOtherChipShowsItsModelAndTheWarning) {
  device.DeviceClassCode = 13;
  device.IdentityCode = "F102";
  writer.Config().chipIdentity = 0xF101;
  EXPECT_EQ(Read(true), -2);
  EXPECT_EQ(station.textMsg.Text(), "MCU: VXD01H/VXD01L\r\nMCU is encrypt or unauthentic.\r\n");
}

TEST_F(ReadIdentityTest, UnknownDifferentChipShowsOnlyTheWarning) {
  device.DeviceClassCode = 11;
  device.IdentityCode = "F101";
  writer.Config().chipIdentity = 0x1234;
  EXPECT_EQ(Read(true), -2);
  EXPECT_EQ(station.textMsg.Text(), "MCU is encrypt or unauthentic.\r\n");
  station.UseEnglish = false;
  EXPECT_EQ(Read(true), -2);
  EXPECT_EQ(station.textMsg.Text(), "已加密或有疑问的 MCU 型号 \r\n");
}

TEST_F(ReadIdentityTest, EqualCodeMissingFromTheTableGivesAnEmptyLine) {
  device.DeviceClassCode = 12;
  device.IdentityCode = "F001";  // the catalogue's VXC01H code, not in the class-12 table
  writer.Config().chipIdentity = 0xF001;
  EXPECT_EQ(Read(true), 0);
  EXPECT_EQ(station.textMsg.Text(), "\r\n");
}

TEST_F(ReadIdentityTest, SilentChipFailsAfterSixAttempts) {
  device.DeviceClassCode = 11;
  device.IdentityCode = "F101";
  writer.Config().chipIdentity.reset();
  EXPECT_EQ(Read(true), -1);
  EXPECT_EQ(station.textMsg.Text(), "\r\nRead MCU ID is failed!\r\n");
  EXPECT_EQ(vp.port.Written().size(), 6U);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 6 * 700.0);
  station.UseEnglish = false;
  EXPECT_EQ(Read(true), -1);
  EXPECT_EQ(station.textMsg.Text(), "\r\n读 MCU ID 失败!\r\n");
}

TEST_F(ReadIdentityTest, WithoutMessagesNothingIsWritten) {
  device.DeviceClassCode = 2;
  device.IdentityCode = "F002";
  for (std::optional<std::uint16_t> chip :
       {std::optional<std::uint16_t>{0xF002}, {0xF101}, {0x9999}, {}}) {
    writer.Config().chipIdentity = chip;
    Read(false);
    EXPECT_EQ(station.textMsg.Text(), "");
  }
}

TEST_F(ReadIdentityTest, StoppedReadWritesNoFailure) {
  device.DeviceClassCode = 11;
  writer.Config().chipIdentity.reset();
  At(100, [&] { station.OnStopClick(); });
  EXPECT_EQ(Read(true), -1);
  EXPECT_EQ(station.textMsg.Text(), "\r\n操作被中止!");
}

}  // namespace
}  // namespace kvr
