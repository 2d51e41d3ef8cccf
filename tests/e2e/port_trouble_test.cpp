// The Qt serial port when things go wrong: a pseudo-terminal that vanishes mid-run (the writer
// simulator killed, as an adapter is pulled out), a port another station holds, a port the user
// may not open, and the low-latency request that a pseudo-terminal does not need.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStandardPaths>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "e2e/e2e_support.h"
#include "platform/qt/port_diagnosis.h"

namespace kvr::test {
namespace {

constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";
constexpr const char* kOpenFailed = "We are connecting...\r\n\r\n\r\nOpen COM port is failed!\r\n";
constexpr const char* kLost = "COM port lost: the adapter was disconnected!";
constexpr int kEraseEntry = 1;

TEST(PortTrouble, PseudoTerminalThatVanishesMidRunEndsTheRunAndRunsAgainWhenItIsBack) {
  QTemporaryDir dir;
  const QString link = dir.filePath("ttyKVR");
  // The erase takes ten seconds: the run is waiting for it when the writer goes.
  auto writer = std::make_unique<SimProcess>(QStringList{"--link", link, "--erase-ms", "10000"});
  ASSERT_FALSE(writer->DevicePath().isEmpty());
  QtStation qt(link);
  qt.station.OnFunctionClick(kEraseEntry);
  // Killed once the erase is under way, however long the connection took.
  QElapsedTimer sinceKill;
  qt.pump.SetIdleHook([&] {
    if (sinceKill.isValid() || !qt.station.textMsg.Contains("We are erasing ...")) return;
    writer->Kill();
    sinceKill.start();
  });
  qt.station.OnProgramClick();
  qt.pump.SetIdleHook({});
  ASSERT_TRUE(sinceKill.isValid());
  // Soon, not after the erase's time-outs (six of 700 ms): three beeps of 150 ms are all that
  // follows the loss, with room for a busy machine.
  EXPECT_LT(sinceKill.elapsed(), 3500);
  EXPECT_EQ(qt.station.textMsg.Text(),
            std::string(kConnected) + "We are erasing ...\r\n\r\n" + kLost);
  EXPECT_TRUE(qt.station.LastRun.portLost);
  EXPECT_EQ(qt.station.LastRun.result, -1);
  EXPECT_EQ(qt.beeper.count, 3);
  EXPECT_FALSE(qt.port.IsOpen());
  EXPECT_TRUE(qt.station.comDownload.enabled);

  // While the writer is gone its link dangles: the port is missing. (Pointed at a name of its
  // own: the pseudo-terminal's number may already serve another program.)
  QFile::remove(link);
  ASSERT_TRUE(QFile::link(dir.filePath("gone"), link));
  qt.station.OnProgramClick();
  EXPECT_EQ(qt.station.textMsg.Text(), std::string(kOpenFailed) + "There is no port " +
                                           link.toStdString() + ": is the adapter plugged in?");

  // Back again: the next press opens it afresh.
  writer = std::make_unique<SimProcess>(QStringList{"--link", link});
  ASSERT_FALSE(writer->DevicePath().isEmpty());
  qt.station.OnProgramClick();
  EXPECT_EQ(qt.station.textMsg.Text(),
            std::string(kConnected) + "We are erasing ...\r\nErase MCU        OK!");
  EXPECT_FALSE(qt.station.LastRun.portLost);
  EXPECT_EQ(qt.station.LastRun.result, 0);
}

TEST(PortTrouble, CommandLineSaysThePortWasLost) {
  QTemporaryDir dir;
  SimProcess writer({"--erase-ms", "10000"});
  QProcess cli;
  cli.start(KVR_CLI, {"--port", writer.DevicePath(), "--settings", dir.filePath("settings.ini"),
                      "--function", "Erase MCU"});
  std::string out;
  ASSERT_TRUE(WaitForOutput(cli, "We are erasing ...\n", out));
  writer.Kill();
  const CliRun result = Finish(cli, 30000);
  EXPECT_EQ(result.exitCode, 1);
  out += result.out;
  TakeToldLine(out);
  EXPECT_EQ(out, "We are connecting...\nWriter Version : 1.3\n\nWe are erasing ...\n\n" +
                     std::string(kLost) + "\n");
  EXPECT_EQ(result.err, "kvr-cli: the port was lost during the run\n");
}

// A writer that talks without end (stuck in a loop, or another device on the port): every wait
// ends at its deadline, and so does the run, with the operation's own failure.
TEST(PortTrouble, CommandLineEndsARunAgainstAWriterThatStreamsText) {
  QTemporaryDir dir;
  SimProcess writer({"--stream-after", "5"});
  const auto start = std::chrono::steady_clock::now();
  const CliRun result = RunCli({"--port", writer.DevicePath(), "--settings",
                                dir.filePath("settings.ini"), "--function", "Erase MCU"},
                               30000);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(result.out,
            "We are connecting...\nWriter Version : 1.3\n\nWe are erasing ...\n\n"
            "Erase MCU failed!\n");
  // Six erase attempts of 700 ms and the 47 ms of the longest reply each, and the start.
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(PortTrouble, PortHeldByAnotherStationNamesIt) {
  QTemporaryDir dir;
  SimProcess writer({"--silent"});
  QProcess holder;
  holder.start(KVR_CLI, {"--port", writer.DevicePath(), "--settings", dir.filePath("holder.ini")});
  std::string seen;
  ASSERT_TRUE(WaitForOutput(holder, "We are connecting...", seen));

  // The simulator holds the terminal too, as its far end; it is not the one in the way.
  QtStation qt(writer.DevicePath());
  qt.station.OnProgramClick();
  EXPECT_EQ(qt.station.textMsg.Text(),
            std::string(kOpenFailed) + writer.DevicePath().toStdString() +
                " is held by kvr-cli (process " + std::to_string(holder.processId()) +
                "): close it first.");
  EXPECT_FALSE(qt.station.LastRun.connected);
  holder.kill();
  holder.waitForFinished(10000);
}

// A station killed while it held the port leaves the serial library's lock behind; once its
// process number belongs to another running station, the library takes that one for the
// holder. Nobody has the port open, so the lock is removed and the port opened.
TEST(PortTrouble, TheLockOfAKilledStationDoesNotHoldThePort) {
  QTemporaryDir dir;
  SimProcess writer({"--wire-time"});
  QProcess killed;
  killed.start(KVR_CLI, {"--port", writer.DevicePath(), "--settings", dir.filePath("a.ini"),
                         "--function", "Read EEPROM"});
  SimProcess silent({"--silent"});
  QProcess other;
  other.start(KVR_CLI, {"--port", silent.DevicePath(), "--settings", dir.filePath("b.ini")});
  std::string seen;
  ASSERT_TRUE(WaitForOutput(killed, "Writer Version", seen));  // the port is open
  ASSERT_TRUE(WaitForOutput(other, "We are connecting...", seen));
  killed.kill();
  killed.waitForFinished(10000);

  std::string name = writer.DevicePath().toStdString().substr(5);
  std::replace(name.begin(), name.end(), '/', '_');
  std::filesystem::path lock;
  for (const char* folder : {"/var/lock", "/run/lock", "/tmp"})
    if (std::filesystem::exists(std::string(folder) + "/LCK.." + name)) {
      lock = std::string(folder) + "/LCK.." + name;
      break;
    }
  if (lock.empty()) GTEST_SKIP() << "the serial library keeps no lock files here";
  std::string text;
  {
    std::ifstream in(lock);
    std::getline(in, text);  // the dead station's process number
    text = std::to_string(other.processId()) + "\n" +
           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::ofstream(lock, std::ios::trunc) << text;
  std::filesystem::last_write_time(
      lock, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(10));

  QtStation qt(writer.DevicePath());
  qt.station.OnProgramClick();
  EXPECT_TRUE(qt.station.LastRun.connected) << qt.station.textMsg.Text();
  other.kill();
  other.waitForFinished(10000);
}

TEST(PortTrouble, PortTheUserMayNotOpenNamesTheGroupAndTheCommand) {
  const QString setpriv = QStandardPaths::findExecutable("setpriv");
  if (geteuid() != 0 || setpriv.isEmpty())
    GTEST_SKIP() << "needs root and setpriv to run kvr-cli as another user";
  const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", KVR_CLI};
  QProcess probe;
  probe.start(setpriv, QStringList(asNobody) << "--version");
  if (Finish(probe, 30000).exitCode != 0) GTEST_SKIP() << "kvr-cli cannot run as user nobody here";

  QTemporaryDir dir;
  std::filesystem::permissions(dir.path().toStdString(), std::filesystem::perms::all);
  SimProcess writer({});
  // As a USB adapter's device: read and write for its owner and its group.
  const std::string path = writer.DevicePath().toStdString();
  ASSERT_EQ(chmod(path.c_str(), 0660), 0);
  struct stat node {};
  ASSERT_EQ(stat(path.c_str(), &node), 0);
  const group* owner = getgrgid(node.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string groupName = owner->gr_name;

  QProcess cli;
  cli.start(setpriv, QStringList(asNobody) << "--port" << QString::fromStdString(path)
                                           << "--settings" << dir.filePath("settings.ini"));
  const CliRun result = Finish(cli, 30000);
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(result.out, "We are connecting...\n\n\nOpen COM port is failed!\nYou may not use " +
                            path + ": join group " + groupName + " with  sudo usermod -aG " +
                            groupName + " $USER  then log out and in.\n");
}

TEST(PortTrouble, LowLatencyIsNotAskedOfAPseudoTerminal) {
  SimProcess writer({});
  const int pty = open(writer.DevicePath().toStdString().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(pty, 0);
  EXPECT_EQ(RequestLowLatency(pty), "");
  close(pty);
  // Anything else that is no serial port says why it refused.
  const int null = open("/dev/null", O_RDWR);
  EXPECT_EQ(RequestLowLatency(null), "Inappropriate ioctl for device");
  close(null);

  const CliRun result =
      RunCliOnFreshSettings({"--port", writer.DevicePath(), "--function", "Read MCU ID"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace kvr::test
