#include <gtest/gtest.h>

#include "app/station_fixture.h"

namespace kvr {
namespace {

constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";

void ExpectIdle(const Station& station) {
  EXPECT_TRUE(station.comDownload.enabled);
  EXPECT_FALSE(station.comStop_Download.enabled);
  EXPECT_FALSE(station.RunInProgress());
}

void ExpectRunning(const Station& station) {
  EXPECT_FALSE(station.comDownload.enabled);
  EXPECT_TRUE(station.comStop_Download.enabled);
}

TEST_F(StationTest, StartsWithAutoProgramSelectedAndTheFirstPort) {
  ASSERT_EQ(station.txtFuction.size(), 9U);
  const char* names[] = {"Auto Program",    "Erase MCU",    "Read MCU ID",
                         "Check MCU Empty", "Program File", "Verify Program",
                         "Program Option",  "Read Option",  "Read EEPROM"};
  int highlighted = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(station.txtFuction[i].text, names[i]);
    highlighted += station.txtFuction[i].highlighted ? 1 : 0;
  }
  EXPECT_EQ(highlighted, 1);
  EXPECT_EQ(station.SelectedFunction(), "Auto Program");
  EXPECT_EQ(station.combCommPort.entries.front(), "COM1");
  EXPECT_EQ(station.combCommPort.entries.back(), "COM8");
  EXPECT_EQ(station.combCommPort.index, 0);
  EXPECT_EQ(station.Combo1.Text(), "115200");
  ExpectIdle(station);
}

TEST_F(StationTest, ProgramRunsTheSelectedFunctionThroughConnectionAndCloseDown) {
  station.SelectedDevice.DeviceClassCode = 2;
  bool sawRunning = false;
  At(1, [&] {
    ExpectRunning(station);
    sawRunning = true;
    EXPECT_TRUE(vp.port.IsOpen());
  });
  station.OnProgramClick();
  EXPECT_TRUE(sawRunning);
  // With no step in the sequence nothing was done to the chip: not a good one.
  EXPECT_EQ(station.textMsg.Text(), std::string(kConnected) + "\r\nAuto             failed!");
  EXPECT_TRUE(station.LastRun.connected);
  EXPECT_EQ(station.LastRun.function, "Auto Program");
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  EXPECT_FALSE(vp.port.IsOpen());
  EXPECT_EQ(vp.port.SelectedPort(), 1);
  EXPECT_EQ(vp.port.Baud(), 115200);
  EXPECT_EQ(vp.beeper.Count(), 3);
  ASSERT_FALSE(writer.ReceivedFrames().empty());
  EXPECT_EQ(writer.ReceivedFrames().front(),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x80, 0x02, 0xF0, 0xE4, 0x16}));
  ExpectIdle(station);
}

TEST_F(StationTest, RunResetsProgressAndRestoresDefaultTimeouts) {
  station.labKbyte.caption = "12.000K";
  station.ProgressBar1.value = 40;
  station.link.ReplyTimeoutMs = 4000;
  station.link.InterByteTimeoutMs = 80;
  station.OnProgramClick();
  EXPECT_EQ(station.labKbyte.caption, "");
  EXPECT_EQ(station.ProgressBar1.value, station.ProgressBar1.minimum);
  EXPECT_EQ(station.link.ReplyTimeoutMs, 700);
  EXPECT_EQ(station.link.InterByteTimeoutMs, 20);
}

TEST_F(StationTest, PortThatCannotBeOpened) {
  vp.port.SetUnavailable(1);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(), "We are connecting...\r\n\r\n\r\nOpen COM port is failed!");
  EXPECT_EQ(station.textMsg.Caret(), station.textMsg.Text().size());
  EXPECT_EQ(vp.beeper.Count(), 3);
  EXPECT_FALSE(station.LastRun.connected);
  EXPECT_TRUE(writer.ReceivedFrames().empty());
  ExpectIdle(station);
}

TEST_F(StationTest, PortThatCannotBeOpenedInChinese) {
  station.UseEnglish = false;
  station.combCommPort.index = 2;
  vp.port.SetUnavailable(3);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "正在与编程器连接 ...\r\n\r\n\r\n打开串口失败!\r\n串口已被其它程序打开或不存在。");
}

TEST_F(StationTest, SilentWriterEndsTheRunAfterAboutFourSeconds) {
  writer.Config().fault = sim::Fault::Silent;
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\n\r\nPower on or connect the line please.");
  EXPECT_EQ(vp.beeper.Count(), 3);
  // 201 attempts of 20 ms, then three beeps 150 ms apart.
  EXPECT_NEAR(vp.clock.NowMs(), 201 * 20.0 + 3 * 150.0, 2.0);
  EXPECT_FALSE(station.LastRun.connected);
  EXPECT_FALSE(vp.port.IsOpen());
  ExpectIdle(station);
}

TEST_F(StationTest, SilentWriterInChinese) {
  station.UseEnglish = false;
  writer.Config().fault = sim::Fault::Silent;
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(), "正在与编程器连接 ...\r\n\r\n请接好电缆, 打开电源。");
}

TEST_F(StationTest, StopDuringTheHandshake) {
  station.SelectedDevice.DeviceClassCode = 2;
  writer.Config().fault = sim::Fault::Silent;
  At(50, [&] {
    station.OnStopClick();
    // The buttons come back at once, before the run has finished.
    EXPECT_TRUE(station.comDownload.enabled);
    EXPECT_FALSE(station.comStop_Download.enabled);
    EXPECT_TRUE(station.RunInProgress());
    EXPECT_FALSE(vp.port.IsOpen());
    EXPECT_TRUE(station.RepeatStop);
  });
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\n\r\n操作被中止!\r\nPower on or connect the line please.");
  EXPECT_EQ(vp.beeper.Count(), 3);
  EXPECT_TRUE(station.link.StopRequested);
  // Three handshakes, then the stop command; nothing after it.
  const auto& written = vp.port.Written();
  ASSERT_EQ(written.size(), 4U);
  EXPECT_EQ(written.back(), (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x82, 0x02, 0x00, 0xF6, 0x16}));
  EXPECT_EQ(writer.ReceivedFrames().back(), written.back());
  EXPECT_FALSE(vp.port.IsOpen());
  ExpectIdle(station);
}

TEST_F(StationTest, StopMessageStandsInBothLanguagesWithTheCaretAtItsLine) {
  station.UseEnglish = false;
  station.textMsg.Replace("abc\r\ndef");
  station.OnStopClick();
  EXPECT_EQ(station.textMsg.Text(), "abc\r\ndef\r\n操作被中止!");
  EXPECT_EQ(station.textMsg.Caret(), std::string("abc\r\ndef\r\n").size());
  // Stop with no run: nothing goes out on a closed port.
  EXPECT_TRUE(vp.port.Written().empty());
}

TEST_F(StationTest, DoubleClickRunsTheEntryOnlyWhenIdle) {
  writer.Config().latencyUs = 3000;
  int runs = 0;
  At(5, [&] {
    const int opens = vp.port.OpenCount();
    station.OnFunctionDoubleClick(2);
    EXPECT_EQ(vp.port.OpenCount(), opens) << "no second run inside a run";
    ++runs;
  });
  station.OnFunctionDoubleClick(1);
  EXPECT_EQ(runs, 1);
  // The click of the ignored double-click still selects its entry, and the run in progress
  // reads the selection only once it has connected.
  EXPECT_EQ(station.LastRun.function, "Read MCU ID");
  ExpectIdle(station);
}

TEST_F(StationTest, DoubleClickIsIgnoredWhileProgramIsDisabled) {
  station.comDownload.enabled = false;
  station.OnFunctionDoubleClick(3);
  EXPECT_EQ(vp.port.OpenCount(), 0);
  EXPECT_EQ(station.SelectedFunction(), "Check MCU Empty");
}

TEST_F(StationTest, ProgramAfterStopWhileTheStoppedRunIsStillEndingIsIgnored) {
  writer.Config().fault = sim::Fault::Silent;
  At(50, [&] { station.OnStopClick(); });
  // During the three beeps of the stopped run the Program button is enabled again.
  At(100, [&] {
    EXPECT_TRUE(station.comDownload.enabled);
    station.OnProgramClick();
  });
  station.OnProgramClick();
  EXPECT_EQ(vp.port.OpenCount(), 1);
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\n\r\n操作被中止!\r\nPower on or connect the line please.");
}

TEST_F(StationTest, FunctionClickHighlightsExactlyOneEntry) {
  station.OnFunctionClick(8);
  station.OnFunctionClick(-1);
  station.OnFunctionClick(9);
  int highlighted = 0;
  for (const auto& entry : station.txtFuction) highlighted += entry.highlighted ? 1 : 0;
  EXPECT_EQ(highlighted, 1);
  EXPECT_EQ(station.SelectedFunction(), "Read EEPROM");
}

TEST_F(StationTest, SelectionIsReadAfterConnecting) {
  At(1, [&] { station.OnFunctionClick(4); });
  vp.dialogs.ExpectInformation();  // no file is loaded
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.function, "Program File");
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, "Please open file.");
}

TEST_F(StationTest, WaitMsAndBeepThriceKeepTheirTimes) {
  station.WaitMs(800);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 800.0);
  station.BeepThrice();
  ASSERT_EQ(vp.beeper.Count(), 3);
  EXPECT_EQ(vp.beeper.Times()[0], 800'000);
  EXPECT_EQ(vp.beeper.Times()[1], 950'000);
  EXPECT_EQ(vp.beeper.Times()[2], 1'100'000);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 1250.0);
}

TEST_F(StationTest, ShortFramesCarryTheSelectedClassCode) {
  station.SelectedDevice.DeviceClassCode = 13;
  station.OnProgramClick();
  for (const Bytes& frame : vp.port.Written()) EXPECT_EQ(frame[6], 13);
}

}  // namespace
}  // namespace kvr
