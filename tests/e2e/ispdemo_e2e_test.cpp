// kvr-cli writes the ISP demo over a pseudo-terminal into kvr-writer-sim's chip.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "e2e/processes.h"
#include "ispdemo/isp_demo_builder.h"

namespace kvr::test {
namespace {

// kvr-writer-sim whose flash lands in flash.bin when it ends.
class WriterProcess {
 public:
  WriterProcess() : sim_({"--dump-flash", FlashFile()}) {}

  const QString& DevicePath() const { return sim_.DevicePath(); }
  std::string StopAndReadFlash() {
    sim_.Stop();
    return ReadFile(FlashFile());
  }

 private:
  QString FlashFile() const { return dir_.filePath("flash.bin"); }

  QTemporaryDir dir_;
  SimProcess sim_;
};

// The settings a line would have: the sequence Erase MCU, Program File and no pause.
CliRun RunOnLineSettings(const QStringList& args) {
  return RunCliOnFreshSettings(
      args, "[Settings]\nAuto_VXA_8=Erase MCU\nAuto_VXA_9=Program File\nDalay_ReDownLoad=0\n");
}

// The demo as the builder places it for 11.0592 MHz, 38400 baud, parity, VXA05H.
std::string ReferenceDemo() {
  IspDemoParameters parameters;
  parameters.model = "VXA05H";
  parameters.ispEnd = parameters.userEnd = 0xFBFF;
  parameters.apEnd = 0x7FFF;
  ImageBufferArray buffer;
  EXPECT_FALSE(BuildIspDemo(parameters, buffer).failed);
  return std::string(buffer.Bytes().begin() + 0xF800, buffer.Bytes().begin() + 0xFC00);
}

const QStringList kVxa05h{"--model", "VXA05H", "--list-model", "VXA05H"};

TEST(IspDemoEndToEnd, WriteOncePutsThePatchedDemoAtF800) {
  WriterProcess writer;
  ASSERT_FALSE(writer.DevicePath().isEmpty());
  const CliRun run = RunOnLineSettings(QStringList(kVxa05h)
                                       << "--port" << writer.DevicePath() << "--isp-demo-write");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Auto              OK!"), std::string::npos) << run.out;
  const std::string flash = writer.StopAndReadFlash();
  ASSERT_GE(flash.size(), 0xFC00U);
  const std::string demo = flash.substr(0xF800, 0x400);
  EXPECT_EQ(demo, ReferenceDemo());
  EXPECT_EQ(static_cast<unsigned char>(demo[111]), 0x40);
  EXPECT_EQ(static_cast<unsigned char>(demo[114]), 0x05);
  EXPECT_EQ(static_cast<unsigned char>(demo[105]), 0xF7);
}

TEST(IspDemoEndToEnd, RepeatEndsAfterCountAndPinsReachTheDemo) {
  WriterProcess writer;
  const CliRun run = RunOnLineSettings(QStringList(kVxa05h)
                                       << "--port" << writer.DevicePath() << "--isp-demo-repeat"
                                       << "--count"
                                       << "2"
                                       << "--isp-watchdog"
                                       << "P1.7"
                                       << "--isp-rs485"
                                       << "P3.5");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("ISP demo runs: 2, good 2, failed 0\n"), std::string::npos) << run.out;
  const std::string flash = writer.StopAndReadFlash();
  ASSERT_GE(flash.size(), 0xFC00U);
  EXPECT_EQ(static_cast<unsigned char>(flash[0xF800 + 68]), 0x97);
  for (int offset : {71, 73, 82, 84})
    EXPECT_EQ(static_cast<unsigned char>(flash[0xF800 + offset]), 0xB5) << offset;
}

TEST(IspDemoEndToEnd, ShowAndRefusals) {
  const CliRun show = RunOnLineSettings(QStringList(kVxa05h) << "--show-isp-demo"
                                                             << "--isp-crystal"
                                                             << "12"
                                                             << "--isp-baud"
                                                             << "9600");
  EXPECT_EQ(show.exitCode, 0) << show.err;
  EXPECT_EQ(show.out.substr(0, 54), "F800: C2 AF 75 81 2F 80 57 30 00 04 A2 D0 92 9B F5 99\n");
  EXPECT_NE(show.out.find("FBF0: "), std::string::npos);
  EXPECT_NE(show.out.find("\nReload: FFD9 (N = 39)\nBaud error: .1602% (normal)\n"),
            std::string::npos)
      << show.out;

  // A refused build writes nothing, and the writer is never asked.
  const CliRun conflict = RunOnLineSettings(QStringList(kVxa05h) << "--port"
                                                                 << "/dev/kvr-no-such-port"
                                                                 << "--isp-demo-write"
                                                                 << "--isp-watchdog"
                                                                 << "P1.1"
                                                                 << "--isp-rs485"
                                                                 << "P1.1");
  EXPECT_EQ(conflict.exitCode, 1);
  EXPECT_NE(conflict.out.find("[box] The external watchdog feed and the RS-485 direction "
                              "control cannot use the same I/O pin."),
            std::string::npos)
      << conflict.out;
  EXPECT_EQ(conflict.out.find("We are connecting"), std::string::npos);
  EXPECT_EQ(conflict.err, "kvr-cli: the ISP demo was not written: its build was refused\n");

  EXPECT_EQ(RunOnLineSettings({"--model", "VXA05H", "--isp-demo-write"}).exitCode, 2)
      << "a tree model";
  EXPECT_EQ(RunOnLineSettings(QStringList(kVxa05h) << "--show-isp-demo"
                                                   << "--isp-baud"
                                                   << "1200")
                .exitCode,
            2);
}

}  // namespace
}  // namespace kvr::test
