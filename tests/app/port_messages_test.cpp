// A port that cannot be opened says why; a port pulled out during a run ends the run with a line
// that says so, and the next run opens it afresh.

#include <gtest/gtest.h>

#include "app/station_fixture.h"

namespace kvr {
namespace {

constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";
constexpr const char* kOpenFailed = "We are connecting...\r\n\r\n\r\nOpen COM port is failed!";
constexpr const char* kLost = "\r\nCOM port lost: the adapter was disconnected!";

OpenFailure Failure(OpenFailure::Cause cause) {
  OpenFailure failure;
  failure.cause = cause;
  failure.device = "/dev/ttyUSB0";
  return failure;
}

class PortTroubleTest : public StationTest {
 protected:
  PortTroubleTest() { station.DeferredSave(); }

  std::string OpenFailureLog(const OpenFailure& failure) {
    vp.port.SetOpenFailure(1, failure);
    station.OnProgramClick();
    return station.textMsg.Text();
  }
  // Programs 0x0000-0x0FFF: 32 blocks of about 1.2 ms each on the simulated writer.
  void ProgramFile() {
    for (std::int32_t a = 0; a <= 0xFFF; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 5 + 1));
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = 0xFFF;
    station.OnFunctionClick(4);
    station.OnProgramClick();
  }
  void ExpectIdle() {
    EXPECT_FALSE(vp.port.IsOpen());
    EXPECT_TRUE(station.comDownload.enabled);
    EXPECT_FALSE(station.comStop_Download.enabled);
    EXPECT_FALSE(station.RunInProgress());
  }
};

TEST_F(PortTroubleTest, OpenFailureNamesTheLikelyCauseOnALineAfterTheMessage) {
  using Cause = OpenFailure::Cause;
  OpenFailure holder = Failure(Cause::InUse);
  holder.holder = "minicom";
  holder.holderPid = 4711;
  OpenFailure group = Failure(Cause::NoPermission);
  group.group = "dialout";
  OpenFailure listed = group;
  listed.listedInGroup = true;
  OpenFailure unknown = Failure(Cause::Unknown);
  unknown.detail = "Input/output error";

  const std::pair<OpenFailure, std::string> cases[] = {
      {Failure(Cause::Missing), "There is no port /dev/ttyUSB0: is the adapter plugged in?"},
      {holder, "/dev/ttyUSB0 is held by minicom (process 4711): close it first."},
      {Failure(Cause::InUse), "/dev/ttyUSB0 is held by another program: close it first."},
      {group,
       "You may not use /dev/ttyUSB0: join group dialout with  sudo usermod -aG dialout $USER  "
       "then log out and in."},
      {listed, "You may not use /dev/ttyUSB0 yet: log out and in to take up group dialout."},
      {Failure(Cause::NoPermission),
       "You may not use /dev/ttyUSB0: ask the administrator for access."},
      {unknown, "/dev/ttyUSB0: Input/output error"},
  };
  for (const auto& [failure, line] : cases) {
    EXPECT_EQ(OpenFailureLog(failure), std::string(kOpenFailed) + "\r\n" + line);
    EXPECT_EQ(station.textMsg.Caret(), station.textMsg.Text().size());
    EXPECT_FALSE(station.LastRun.connected);
    ExpectIdle();
  }
  EXPECT_EQ(vp.beeper.Count(), 3 * static_cast<int>(std::size(cases)));
  EXPECT_TRUE(writer.ReceivedFrames().empty());

  // Nothing known, nothing added.
  EXPECT_EQ(OpenFailureLog(Failure(Cause::Unknown)), kOpenFailed);
}

TEST_F(PortTroubleTest, OpenFailureCauseInChinese) {
  station.UseEnglish = false;
  OpenFailure group = Failure(OpenFailure::Cause::NoPermission);
  group.group = "dialout";
  EXPECT_EQ(OpenFailureLog(group),
            "正在与编程器连接 ...\r\n\r\n\r\n打开串口失败!\r\n串口已被其它程序打开或不存在。\r\n"
            "没有使用 /dev/ttyUSB0 的权限: 请用  sudo usermod -aG dialout $USER  加入 dialout "
            "组, 然后重新登录。");
  OpenFailure holder = Failure(OpenFailure::Cause::InUse);
  holder.holder = "minicom";
  holder.holderPid = 4711;
  EXPECT_EQ(OpenFailureLog(holder),
            "正在与编程器连接 ...\r\n\r\n\r\n打开串口失败!\r\n串口已被其它程序打开或不存在。\r\n"
            "/dev/ttyUSB0 正被 minicom (进程 4711) 占用, 请先关闭它。");
}

TEST_F(PortTroubleTest, AdapterPulledOutDuringProgrammingEndsTheRunAtItsNextWait) {
  vp.port.PullOutAfter(20'000, 1);
  ProgramFile();
  const std::string log = station.textMsg.Text();
  EXPECT_EQ(log, std::string(kConnected) + "Programming ..." + kLost);
  EXPECT_EQ(station.textMsg.Caret(), log.size());
  EXPECT_TRUE(station.LastRun.connected);
  EXPECT_TRUE(station.LastRun.portLost);
  EXPECT_EQ(station.LastRun.result, -1);
  // Programming's own beep, then three for the lost port; nothing after them.
  EXPECT_EQ(vp.beeper.Count(), 4);
  EXPECT_NEAR(vp.clock.NowMs(), 20.0 + 3 * 150.0, 2.0);
  // No stop command: nothing is sent once the port is gone.
  const auto frames = writer.ReceivedFrames();
  EXPECT_NE(frames.back()[3], 0x82);
  EXPECT_FALSE(writer.Flash()[0xFFF] == station.ImageBuffer.Get(0xFFF));
  ExpectIdle();

  // Until the adapter is back, a run finds no port; then it runs again.
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kOpenFailed) + "\r\nThere is no port COM1: is the adapter plugged in?");
  EXPECT_FALSE(station.LastRun.portLost);
  vp.port.PlugIn(1);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(), std::string(kConnected) + "Programming ...\r\nProgram OK!");
  EXPECT_FALSE(station.LastRun.portLost);
  EXPECT_EQ(station.LastRun.result, 0);
}

TEST_F(PortTroubleTest, AdapterPulledOutDuringTheHandshake) {
  station.UseEnglish = false;
  writer.Config().fault = sim::Fault::Silent;
  vp.port.PullOutAfter(100'000, 1);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "正在与编程器连接 ...\r\n\r\n请接好电缆, 打开电源。\r\n串口丢失: 串口适配器已断开!");
  EXPECT_EQ(vp.beeper.Count(), 3);
  EXPECT_NEAR(vp.clock.NowMs(), 100.0 + 3 * 150.0, 2.0);
  EXPECT_FALSE(station.LastRun.connected);
  ExpectIdle();
}

TEST_F(PortTroubleTest, LostPortFailsTheAutomaticRunWithoutCountingTheChip) {
  for (std::int32_t a = 0; a <= 0xFFF; ++a) station.ImageBuffer.Set(a, 0x5A);
  station.FileLoaded = true;
  station.ProgramStart = 0;
  station.ProgramEnd = station.DataEnd = 0xFFF;
  station.EditAutoSequence(2);
  for (int i : {0, 3}) {  // "Erase MCU", "Program File"
    station.OnAutoSlotClick(i);
    station.EditAutoSequence(0);
  }
  vp.port.PullOutAfter(60'000, 1);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(), std::string(kConnected) + "Erase MCU" + std::string(15, ' ') +
                                        " OK!\r\n\r\nProgramming ..." + kLost);
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  EXPECT_EQ(station.LastRun.result, -1);
  ExpectIdle();
}

TEST_F(PortTroubleTest, PullingOutAnIdlePortOnlyMakesTheNextOpenFail) {
  vp.port.PullOutAfter(0, 1);
  station.WaitMs(10);
  EXPECT_EQ(station.textMsg.Text(), "");
  station.OnProgramClick();
  EXPECT_FALSE(station.LastRun.portLost);
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kOpenFailed) + "\r\nThere is no port COM1: is the adapter plugged in?");
}

}  // namespace
}  // namespace kvr
