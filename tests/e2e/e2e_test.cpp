// The station's link on the Qt platform, over a pseudo-terminal, against kvr-writer-sim.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QProcessEnvironment>

#include <chrono>
#include <filesystem>

#include "e2e/e2e_support.h"

namespace kvr::test {
namespace {

constexpr const char* kEmptySequenceFailed = "\r\nAuto             failed!";
constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";

TEST(EndToEnd, RunConnectsLogsTheVersionAndClosesThePort) {
  QTemporaryDir dir;
  const QString frames = dir.filePath("frames.txt");
  SimProcess writer({"--frames", frames});
  ASSERT_FALSE(writer.DevicePath().isEmpty());
  QtStation qt(writer.DevicePath());
  qt.station.OnProgramClick();
  // An empty sequence does nothing to the chip and does not count it good.
  EXPECT_EQ(qt.station.textMsg.Text(), std::string(kConnected) + kEmptySequenceFailed);
  EXPECT_TRUE(qt.station.LastRun.connected);
  EXPECT_FALSE(qt.port.IsOpen());
  EXPECT_EQ(qt.beeper.count, 3);
  writer.Stop();
  // Four answered handshakes, then the version read. The handshake waits 20 ms: on a busy
  // machine an answer can miss that over a pseudo-terminal, and the station asks once more.
  const std::string handshake = "46 B9 6A 00 08 80 0B F0 ED 16\n";
  const std::string version = "46 B9 6A 00 08 0C 0B 00 89 16\n";
  const std::string sent = ReadFile(frames);
  ASSERT_GE(sent.size(), 4 * handshake.size() + version.size()) << sent;
  const std::size_t handshakes = (sent.size() - version.size()) / handshake.size();
  std::string expected;
  for (std::size_t i = 0; i < handshakes; ++i) expected += handshake;
  EXPECT_EQ(sent, expected + version);
}

TEST(EndToEnd, SecondRunOnTheSamePortWorksToo) {
  SimProcess writer({"--version-byte", "0A"});
  QtStation qt(writer.DevicePath());
  qt.station.OnProgramClick();
  qt.station.OnProgramClick();
  EXPECT_EQ(
      qt.station.textMsg.Text(),
      std::string("We are connecting...\r\nWriter Version : 0.A\r\n\r\n") + kEmptySequenceFailed);
}

TEST(EndToEnd, MissingDevicePathFailsToOpen) {
  QtStation qt("/dev/kvr-no-such-port");
  qt.station.OnProgramClick();
  EXPECT_EQ(qt.station.textMsg.Text(),
            "We are connecting...\r\n\r\n\r\nOpen COM port is failed!\r\n"
            "There is no port /dev/kvr-no-such-port: is the adapter plugged in?");
  EXPECT_EQ(qt.beeper.count, 3);
  EXPECT_TRUE(qt.station.comDownload.enabled);
  EXPECT_FALSE(qt.station.comStop_Download.enabled);
}

TEST(EndToEnd, StopReachesTheWriterBeforeThePortCloses) {
  QTemporaryDir dir;
  const QString framesFile = dir.filePath("frames.txt");
  SimProcess writer({"--silent", "--frames", framesFile});
  QtStation qt(writer.DevicePath());
  QTimer::singleShot(100, [&] { qt.station.OnStopClick(); });
  qt.station.OnProgramClick();
  EXPECT_EQ(qt.station.textMsg.Text(),
            "We are connecting...\r\n\r\n操作被中止!\r\nPower on or connect the line please.");
  EXPECT_FALSE(qt.port.IsOpen());
  writer.Stop();
  const std::string frames = ReadFile(framesFile);
  EXPECT_NE(frames.find("46 B9 6A 00 08 82 0B 00 FF 16\n"), std::string::npos) << frames;
  EXPECT_EQ(frames.substr(frames.size() - 30), "46 B9 6A 00 08 82 0B 00 FF 16\n");
}

TEST(EndToEnd, CommandLineRunAgainstTheBuiltInSimulator) {
  QTemporaryDir dir;
  const QString logFile = dir.filePath("run.log");
  const CliRun run = RunCliOnFreshSettings({"--simulate", "--log-out", logFile});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(ReadFile(logFile), std::string(kConnected) + kEmptySequenceFailed);
  EXPECT_EQ(run.out, "We are connecting...\nWriter Version : 1.3\n\n\nAuto             failed!\n");
}

TEST(EndToEnd, CommandLineSaysWhatItWasToldAndHowMuchElseAsAsked) {
  QTemporaryDir dir;
  const QString hex = dir.filePath("prog.hex");
  WriteFile(hex, ":0400000002003012B8\r\n:00000001FF\r\n");
  const QStringList job = {"--simulate", "--load", hex, "--auto-sequence",
                           "Erase MCU,Program File"};
  const CliRun normal = RunCliOnFreshSettings(job);
  EXPECT_EQ(normal.exitCode, 0) << normal.err;
  const std::string told = normal.told;
  EXPECT_EQ(told.rfind("Run: COM1 (/dev/pts/", 0), 0U) << told;
  EXPECT_NE(told.find("), model VXA01H, image " + hex.toStdString() +
                      " (34 bytes, CRC-32 AFA1A894), \"Auto Program\" (Erase MCU, Program File)\n"),
            std::string::npos)
      << told;
  EXPECT_EQ(normal.err, "");

  // Quiet: the exit status alone tells a good run; verbose: a line per exchange, the handshake
  // first.
  const CliRun quiet = RunCliOnFreshSettings(QStringList(job) << "-q");
  EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_EQ(quiet.told + quiet.out + quiet.err, "");
  const CliRun verbose = RunCliOnFreshSettings(QStringList(job) << "--verbose");
  EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
  EXPECT_EQ(verbose.out, normal.out);
  EXPECT_EQ(verbose.err.rfind("frame 80, 10 bytes: reply of ", 0), 0U) << verbose.err;
  EXPECT_NE(verbose.err.find("\nframe 04, 140 bytes: reply of 9 bytes\n"), std::string::npos)
      << verbose.err;
}

TEST(EndToEnd, CommandLineReadsTheIdentityOfTheModelChosen) {
  const CliRun match = RunCliOnFreshSettings(
      {"--simulate", "--sim-chip", "F110", "--list-model", "VXA06H", "--function", "Read MCU ID"});
  EXPECT_EQ(match.exitCode, 0) << match.err;
  EXPECT_EQ(match.out,
            "We are connecting...\nWriter Version : 1.3\n\nMCU: VXA06H/L\n"
            "Model: VXA06H from the model list (class 2, identity F110)\n"
            "Verdict: the chip is the selected model\n");

  // The same name in the tree is another row with another code.
  const CliRun list = RunCliOnFreshSettings(
      {"--simulate", "--sim-chip", "F001", "--list-model", "VXA01H", "--function", "Read MCU ID"});
  EXPECT_EQ(list.exitCode, 0) << list.out;
  const CliRun tree = RunCliOnFreshSettings(
      {"--simulate", "--sim-chip", "F001", "--model", "VXA01H", "--function", "Read MCU ID"});
  EXPECT_EQ(tree.exitCode, 1);
  EXPECT_NE(tree.out.find("MCU: VXA01H/L\nMCU is encrypt or unauthentic.\n"), std::string::npos)
      << tree.out;

  const CliRun extra =
      RunCliOnFreshSettings({"--simulate", "--sim-chip", "F101", "--show-extra-families", "--model",
                             "VXD01L", "--function", "Read MCU ID"});
  EXPECT_EQ(extra.exitCode, 0) << extra.out;
  EXPECT_NE(extra.out.find("MCU: VXD01H/VXD01L\n"), std::string::npos);

  const CliRun hidden = RunCliOnFreshSettings({"--model", "VXD01L", "--function", "Read MCU ID"});
  EXPECT_EQ(hidden.exitCode, 2);
  EXPECT_EQ(hidden.out, "");
}

TEST(EndToEnd, CommandLineLoadsStampsViewsAndExportsWithoutAWriter) {
  QTemporaryDir dir;
  const QString hex = dir.filePath("prog.hex");
  WriteFile(hex, ":0400000002003012B8\r\n:00000001FF\r\n");
  const QString bin = dir.filePath("out.bin");
  const CliRun run =
      RunCliOnFreshSettings({"--no-program", "--fill", "FF", "--load", hex, "--serial-address",
                             "0007", "--serial-bytes", "2", "--serial-next", "42", "--serial-mode",
                             "dec", "--serial-enable", "--export", "0", "8", bin, "--view"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "\n\n 000000   02 00 30 12 FF FF 00 42 \n");
  EXPECT_EQ(ReadFile(bin), std::string("\x02\x00\x30\x12\xFF\xFF\x00\x42", 8));

  const CliRun missing =
      RunCliOnFreshSettings({"--no-program", "--load", dir.filePath("none.hex")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos);
}

TEST(EndToEnd, CommandLineRefusesFoldersAndBadExportFields) {
  QTemporaryDir dir;
  const QString folder = dir.filePath("EMPTYDIR");
  ASSERT_TRUE(QDir().mkpath(folder));
  const CliRun load = RunCliOnFreshSettings({"--no-program", "--load", folder});
  EXPECT_EQ(load.exitCode, 2);
  EXPECT_EQ(load.err, "kvr-cli: cannot open \"" + folder.toStdString() + "\": it is a directory\n");

  const CliRun into = RunCliOnFreshSettings({"--no-program", "--export", "0", "10", folder});
  EXPECT_EQ(into.exitCode, 2);
  EXPECT_EQ(into.err,
            "kvr-cli: cannot store into \"" + folder.toStdString() + "\": it is a directory\n");
  EXPECT_TRUE(QFileInfo(folder).isDir());

  const QString out = dir.filePath("out.bin");
  for (const QStringList& fields : {QStringList{"", "10"}, QStringList{"0", "1G"},
                                    QStringList{"x", "10"}, QStringList{"0", " "}}) {
    const CliRun bad =
        RunCliOnFreshSettings({"--no-program", "--export", fields[0], fields[1], out});
    EXPECT_EQ(bad.exitCode, 2) << fields.join(',').toStdString();
    EXPECT_EQ(bad.err, "kvr-cli: --export wants hexadecimal START and LENGTH, not \"" +
                           fields[0].toStdString() + "\" and \"" + fields[1].toStdString() +
                           "\"\n");
  }
  const CliRun noName = RunCliOnFreshSettings({"--no-program", "--export", "0", "10", ""});
  EXPECT_EQ(noName.exitCode, 2);
  EXPECT_EQ(noName.err, "kvr-cli: --export wants a FILE to store into\n");
  EXPECT_FALSE(QFileInfo::exists(out));

  // A range the store command refuses: its box, and no file.
  const CliRun tooLong = RunCliOnFreshSettings({"--no-program", "--export", "0", "10001", out});
  EXPECT_EQ(tooLong.exitCode, 1);
  EXPECT_EQ(tooLong.out, "[box] File length too big.\n");
  EXPECT_EQ(tooLong.err, "kvr-cli: the export wrote no file\n");
}

TEST(EndToEnd, CommandLineRunThatChangesNothingLeavesTheSettingsFileAlone) {
  QTemporaryDir dir;
  const QString settings = dir.filePath("settings.ini");
  const QString hex = dir.filePath("prog.hex");
  WriteFile(hex, ":0400000002003012B8\r\n:00000001FF\r\n");
  auto run = [&](const QStringList& args) {
    return RunCli(QStringList(args) << "--settings" << settings).exitCode;
  };
  const QStringList stamp{"--no-program",
                          "--load",
                          hex,
                          "--serial-address",
                          "0007",
                          "--serial-bytes",
                          "2",
                          "--serial-next",
                          "42",
                          "--serial-mode",
                          "dec",
                          "--serial-enable",
                          "--export",
                          "0",
                          "8",
                          dir.filePath("out.bin")};
  ASSERT_EQ(run(stamp), 0);
  const std::string before = ReadFile(settings);
  ASSERT_NE(before.find("next_value=0042"), std::string::npos) << before;
  const std::filesystem::path file(settings.toStdString());
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  std::filesystem::last_write_time(file, old);

  // The same job again, and a view of the file: nothing stored moves on.
  ASSERT_EQ(run(stamp), 0);
  ASSERT_EQ(run({"--no-program", "--load", hex, "--view"}), 0);
  EXPECT_EQ(std::filesystem::last_write_time(file), old);
  EXPECT_EQ(ReadFile(settings), before);

  // Another next number is stored.
  QStringList next = stamp;
  next[next.indexOf("42")] = "43";
  ASSERT_EQ(run(next), 0);
  EXPECT_NE(std::filesystem::last_write_time(file), old);
  EXPECT_NE(ReadFile(settings).find("next_value=0043"), std::string::npos);
}

// Ticking the serial number with settings it refuses would program chips without their
// numbers: it is a bad option, and so is a step below 1.
TEST(EndToEnd, CommandLineRefusesNumberingItCannotKeep) {
  QTemporaryDir dir;
  const QString hex = dir.filePath("prog.hex");
  WriteFile(hex, ":0400000002003012B8\r\n:00000001FF\r\n");
  const std::pair<QStringList, std::string> refused[] = {
      {{}, "[box] The Auto_Increase low address too big"},  // the stored defaults: FFFF
      {{"--serial-address", "00FF", "--serial-bytes", "0"},
       "[box] The Auto_Increase low address too small or the bytes too big"},
      {{"--serial-address", "00FF", "--serial-bytes", "100000"},
       "[box] The Auto_Increase low address too small or the bytes too big"},
      {{"--serial-address", "ZZZ", "--serial-bytes", "2"},
       "[box] The Auto_Increase low address too small or the bytes too big"},
      {{"--serial-address", "1FFFFF", "--serial-bytes", "2"},
       "[box] The Auto_Increase low address too big"},
      {{"--serial-address", "00FF", "--serial-bytes", "1", "--serial-mode", "hex", "--serial-next",
        "256"},
       "[box] The Next Number 256 does not fit in 1 Bytes: the largest is 255"},
  };
  for (const auto& [options, box] : refused) {
    const CliRun run = RunCliOnFreshSettings(QStringList{"--no-program", "--load", hex} + options
                                             << "--serial-enable");
    EXPECT_EQ(run.exitCode, 2) << options.join(' ').toStdString();
    EXPECT_NE(run.out.find(box + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("kvr-cli: --serial-enable was refused: the serial-number settings are "
                           "not valid ("),
              std::string::npos)
        << run.err;
  }
  for (const char* step : {"0", "-1", "abc"}) {
    const CliRun run = RunCliOnFreshSettings({"--no-program", "--serial-step", step});
    EXPECT_EQ(run.exitCode, 2) << step;
    EXPECT_EQ(run.err, std::string("kvr-cli: --serial-step wants a whole number of 1 or more, "
                                   "not \"") +
                           step + "\"\n");
  }
}

// A settings file that is a folder, a FIFO or a device is neither read nor replaced, nothing is
// made beside it, and the station starts on its defaults, saying why; also when it is the
// per-user file.
TEST(EndToEnd, CommandLineSettingsThatAreNoFileAreLeftAlone) {
  QTemporaryDir dir;
  const QString folder = dir.filePath("folder.ini");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString fifo = dir.filePath("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
  const QString link = dir.filePath("link.ini");
  ASSERT_TRUE(QFile::link(fifo, link));
  std::vector<std::pair<QString, std::string>> cases = {
      {folder, "it is a folder"}, {fifo, "it is a FIFO"}, {link, "it is a FIFO"}};
  // A device node of our own, never the system's /dev/null.
  const QString device = dir.filePath("null.ini");
  if (::mknod(device.toLocal8Bit().constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    cases.emplace_back(device, "it is a device");
  const auto entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System).size();
  for (const auto& [settings, why] : cases) {
    const CliRun run = RunCli({"--settings", settings, "--no-program", "--clear-ok-count", "--yes",
                               "--auto-sequence", "Erase MCU"},
                              20000);
    EXPECT_EQ(run.exitCode, 0) << settings.toStdString() << run.err;
    EXPECT_EQ(run.out, "[box] The settings file cannot be used: " + settings.toStdString() + ": " +
                           why + ". The station starts with its defaults and stores nothing.\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System).size(), entries);
  }
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_TRUE(QFileInfo(link).isSymLink());

  QTemporaryDir home;
  ASSERT_TRUE(QDir().mkpath(home.filePath("kvr-station/KVR Programmer for VXAxx.ini")));
  QProcess cli;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_CONFIG_HOME", home.path());
  cli.setProcessEnvironment(environment);
  cli.start(KVR_CLI, {"--no-program"});
  const CliRun run = Finish(cli, 20000);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("[box] The settings file cannot be used: "), std::string::npos) << run.out;
}

TEST(EndToEnd, CommandLineHelpSaysAnUnansweredQuestionTakesNo) {
  const CliRun help = RunCliOnFreshSettings({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("the preselected No"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("fails the run"), std::string::npos);
}

TEST(EndToEnd, CommandLineReportsAWriterThatIsNotThere) {
  const CliRun run =
      RunCliOnFreshSettings({"--port", "/dev/kvr-no-such-port", "--function", "Read MCU ID"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out,
            "We are connecting...\n\n\nOpen COM port is failed!\n"
            "There is no port /dev/kvr-no-such-port: is the adapter plugged in?\n");
  EXPECT_EQ(run.err,
            "kvr-cli: COM1 could not be opened. There is no port /dev/kvr-no-such-port: is "
            "the adapter plugged in?\n");
}

}  // namespace
}  // namespace kvr::test
