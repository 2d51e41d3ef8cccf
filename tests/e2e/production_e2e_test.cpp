// kvr-cli's device operations and production runs over a pseudo-terminal against kvr-writer-sim.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include <csignal>
#include <sstream>

#include "e2e/processes.h"
#include "support/intel_hex.h"

namespace kvr::test {
namespace {

// A 16 KB image and its Intel HEX file, 16 bytes a record.
std::string Image16k() {
  std::string image(16384, '\0');
  for (std::size_t a = 0; a < image.size(); ++a)
    image[a] = static_cast<char>((a * 7 + 3) ^ (a >> 9));
  return image;
}

// kvr-cli sent `signal` once it has printed `text`. Its exit code is -1 when the text did not
// come or it did not end within `withinMs` after the signal; its output is all it printed.
CliRun Interrupted(const QStringList& args, const std::string& text, int signal, int withinMs) {
  QProcess cli;
  cli.start(KVR_CLI, args);
  CliRun run;
  if (!WaitForOutput(cli, text, run.out, 20000)) {
    cli.kill();
    cli.waitForFinished();
    return run;
  }
  ::kill(static_cast<pid_t>(cli.processId()), signal);
  const CliRun rest = Finish(cli, withinMs);
  return {rest.exitCode, run.out + rest.out, rest.err};
}

class ProductionEndToEnd : public ::testing::Test {
 protected:
  ProductionEndToEnd() {
    hex_ = dir_.filePath("fw16k.hex");
    WriteFile(hex_, IntelHex(Image16k()));
  }
  QStringList Station(const SimProcess& sim) const {
    return {"--port", sim.DevicePath(), "--settings", dir_.filePath("settings.ini")};
  }
  QString Path(const char* name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
  QString hex_;
};

TEST_F(ProductionEndToEnd, SixteenKilobytesProgrammedAndVerifiedLandInTheChip) {
  SimProcess sim({"--dump-flash", Path("flash.bin")});
  const CliRun program = RunCli(Station(sim) << "--load" << hex_ << "--function"
                                             << "Program File");
  EXPECT_EQ(program.exitCode, 0) << program.out << program.err;
  EXPECT_NE(program.out.find("Programming ...\nProgram OK!\n"), std::string::npos) << program.out;
  const CliRun verify = RunCli(Station(sim) << "--load" << hex_ << "--function"
                                            << "Verify Program");
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("We are checking ...\nChecking OK!\n"), std::string::npos)
      << verify.out;
  // Empty no more.
  const CliRun check = RunCli(Station(sim) << "--function"
                                           << "Check MCU Empty");
  EXPECT_EQ(check.exitCode, 1) << check.out;
  EXPECT_NE(check.out.find("MCU is not empty."), std::string::npos) << check.out;
  sim.Stop();
  const std::string flash = ReadFile(Path("flash.bin"));
  ASSERT_GE(flash.size(), 16384U);
  EXPECT_EQ(flash.substr(0, 16384), Image16k());
}

TEST_F(ProductionEndToEnd, CheckEmptyExitsZeroOnlyOnAnEmptyChip) {
  SimProcess sim({});
  const CliRun check = RunCli(Station(sim) << "--function"
                                           << "Check MCU Empty");
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_NE(check.out.find("Check MCU empty ...\nRead is FFH all.\n"), std::string::npos)
      << check.out;
}

TEST_F(ProductionEndToEnd, SaveAfterStoresWhatTheEepromReadFound) {
  std::string chip(0x10000, '\0');
  for (std::size_t a = 0; a < chip.size(); ++a) chip[a] = static_cast<char>(a * 5 + (a >> 8));
  WriteFile(Path("chip.bin"), chip);
  SimProcess sim({"--flash-image", Path("chip.bin")});
  const CliRun read = RunCli(Station(sim) << "--function"
                                          << "Read EEPROM"
                                          << "--save-after"
                                          << "0"
                                          << "10000" << Path("eeprom.bin"));
  EXPECT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_EQ(ReadFile(Path("eeprom.bin")), chip);

  // A failed run stores nothing.
  sim.Stop();
  const CliRun failed = RunCli(QStringList{"--port", "/dev/kvr-no-such-port", "--settings",
                                           Path("settings.ini"), "--function", "Read EEPROM",
                                           "--save-after", "0", "10000", Path("none.bin")});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_FALSE(QFile::exists(Path("none.bin")));
}

TEST_F(ProductionEndToEnd, RepeatOfThreeChipsWithReportAndSummary) {
  SimProcess sim({});
  const CliRun run = RunCli(Station(sim) << "--load" << hex_ << "--auto-sequence"
                                         << "Erase MCU, Check MCU Empty,Program File,Verify Program"
                                         << "--repeat"
                                         << "--count"
                                         << "3"
                                         << "--delay"
                                         << "0"
                                         << "--report" << Path("report.csv"));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Summary: 3 good, 0 failed, 3 in all, "), std::string::npos) << run.out;
  const std::string report = ReadFile(Path("report.csv"));
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 4) << report;
  EXPECT_NE(report.find(",OK,,Erase MCU "), std::string::npos) << report;
  // The sequence was saved as the window saves it; the report file was not.
  const std::string settings = ReadFile(Path("settings.ini"));
  EXPECT_NE(settings.find("Auto_VXA_8=Erase MCU"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Auto_VXA_11=Verify Program"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Write_OK_Count=3"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("Production_Report"), std::string::npos) << settings;

  const CliRun clear = RunCli(Station(sim) << "--clear-ok-count"
                                           << "--yes"
                                           << "--no-program");
  EXPECT_EQ(clear.exitCode, 0) << clear.err;
  EXPECT_NE(clear.out.find("[question]  You want to clear the Auto Count(Y/N)? "),
            std::string::npos)
      << clear.out;
  EXPECT_NE(ReadFile(Path("settings.ini")).find("Write_OK_Count=0"), std::string::npos);
}

TEST_F(ProductionEndToEnd, BadProductionOptions) {
  const CliRun unknown = RunCli({"--auto-sequence", "Erase MCU,Polish MCU", "--settings",
                                 Path("settings.ini"), "--no-program"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("no step \"Polish MCU\""), std::string::npos) << unknown.err;
  EXPECT_EQ(RunCli({"--delay", "61"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--count", "0"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--report-format", "xml"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--save-after", "0", "G", "x.bin"}).exitCode, 2);

  // A job the station cannot run as saved ends the program before anything is done.
  const QStringList settings{"--settings", Path("settings.ini")};
  const CliRun saved = RunCli(QStringList{"--load", hex_, "--auto-sequence", "Erase MCU",
                                          "--save-job", Path("line.kvrjob")} +
                              settings);
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const std::string job = ReadFile(Path("line.kvrjob"));
  const auto changed = [&](const std::string& from, const std::string& to) {
    std::string text = job;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::pair<std::string, std::string> refused[] = {
      {changed("\"format\": 1", "\"format\": 2"), "has format 2, written by a later station"},
      {changed("\"VXA01H\"", "\"VXZ99H\""), "names the model VXZ99H"},
      {changed("\"Erase MCU\"", "\"Polish MCU\""), "names the step \"Polish MCU\""},
      {changed("fw16k.hex", "gone.hex"), "image file is missing"},
      {changed("\"fill\"", "\"Fill\""), "unknown key \"Fill\""}};
  for (const auto& [text, message] : refused) {
    WriteFile(Path("bad.kvrjob"), text);
    const CliRun run = RunCli(QStringList{"--job", Path("bad.kvrjob"), "--no-program"} + settings);
    EXPECT_EQ(run.exitCode, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_EQ(RunCli(QStringList{"--job", Path("line.kvrjob"), "--locked", "--fill", "00"} + settings)
                .exitCode,
            2);
}

// SIGINT acts as the Stop button: during the countdown the repeat ends at once, with the
// chips done so far all good; the report and the count are kept.
TEST_F(ProductionEndToEnd, InterruptDuringTheCountdownEndsTheRepeat) {
  SimProcess sim({});
  const CliRun run = Interrupted(Station(sim) << "--load" << hex_ << "--auto-sequence"
                                              << "Erase MCU,Program File"
                                              << "--repeat"
                                              << "--delay"
                                              << "30"
                                              << "--report" << Path("report.csv"),
                                 "We are going to next ... 30", SIGINT, 5000);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("操作被中止!"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Summary: 1 good, 0 failed, 1 in all"), std::string::npos) << run.out;
  EXPECT_NE(ReadFile(Path("settings.ini")).find("Write_OK_Count=1"), std::string::npos);
  EXPECT_NE(ReadFile(Path("report.csv")).find(",OK,"), std::string::npos);
}

// During a run the stop command reaches the writer and the run ends within a reply time-out.
TEST_F(ProductionEndToEnd, InterruptDuringARunStopsIt) {
  SimProcess sim({"--erase-ms", "600", "--frames", Path("frames.txt")});
  const CliRun run = Interrupted(Station(sim) << "--load" << hex_ << "--auto-sequence"
                                              << "Erase MCU,Program File"
                                              << "--repeat"
                                              << "--delay"
                                              << "0",
                                 "We are erasing ...", SIGTERM, 3000);
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("Summary: 0 good, 1 failed"), std::string::npos) << run.out;
  sim.Stop();
  EXPECT_NE(ReadFile(Path("frames.txt")).find("46 B9 6A 00 08 82 0B 00 FF 16"), std::string::npos);
}

// A repeat against a writer that is not there gives up after three runs, as a line does; runs
// that never reached a writer are no chips.
TEST_F(ProductionEndToEnd, RepeatGivesUpAfterThreeRunsThatReachNoWriter) {
  const CliRun run = RunCli({"--port", "/dev/kvr-no-such-port", "--settings", Path("settings.ini"),
                             "--auto-sequence", "Erase MCU", "--repeat", "--delay", "0"},
                            30000);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "kvr-cli: 3 runs in a row did not reach the writer: the repeat ends\n");
  EXPECT_NE(run.out.find("Summary: 0 good, 0 failed, 0 in all, 0 chips per hour; 3 runs did not "
                         "reach the writer\n"),
            std::string::npos)
      << run.out;
}

// A read-only settings file is read and never replaced; the count it cannot take is said.
TEST_F(ProductionEndToEnd, ReadOnlySettingsFileIsNeverReplaced) {
  const std::string settings =
      "; the line's settings, kept as they are\n[Settings]\nWrite_OK_Count=5\n"
      "Auto_VXA_8=Erase MCU\n";
  WriteFile(Path("settings.ini"), settings);
  QFile::setPermissions(Path("settings.ini"), QFile::ReadOwner | QFile::ReadGroup);
  SimProcess sim({});
  const CliRun run = RunCli(Station(sim));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "kvr-cli: warning: the good count could not be stored: " +
                         Path("settings.ini").toStdString() + ": it is read-only\n");
  EXPECT_EQ(ReadFile(Path("settings.ini")), settings);
  EXPECT_FALSE(QFile::exists(Path("settings.ini.lck")));
}

// A report on a disk that fills up: every record is whole or not there, the line goes on with a
// warning, and the count is kept.
TEST_F(ProductionEndToEnd, ReportOnAFullDiskKeepsWholeRecords) {
  const QString disk = Path("disk");
  ASSERT_TRUE(QDir().mkpath(disk));
  if (::geteuid() != 0 ||
      ::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=4k") != 0)
    GTEST_SKIP() << "a small tmpfs needs root";
  struct Unmount {
    QString path;
    ~Unmount() { ::umount2(path.toLocal8Bit().constData(), MNT_DETACH); }
  } unmount{disk};
  SimProcess sim({});
  const QString report = disk + "/report.jsonl";
  const CliRun run = RunCli(Station(sim) << "--load" << hex_ << "--auto-sequence"
                                         << "Erase MCU,Program File"
                                         << "--repeat"
                                         << "--count"
                                         << "16"
                                         << "--delay"
                                         << "0"
                                         << "--report" << report << "--report-format"
                                         << "jsonl");
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Summary: 16 good, 0 failed, 16 in all, "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("kvr-cli: warning: the production report could not be written: " +
                         report.toStdString() + ": No space left on device\n"),
            std::string::npos)
      << run.err;
  const std::string text = ReadFile(report);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  int records = 0;
  for (std::string line; std::getline(lines, line); ++records) {
    EXPECT_TRUE(line.starts_with("{\"time\":") && line.ends_with("}") &&
                line.find("\"good_count\":\"" + std::to_string(records + 1) + "\",") !=
                    std::string::npos)
        << line;
  }
  EXPECT_GT(records, 0);
  EXPECT_LT(records, 16);
  EXPECT_NE(ReadFile(Path("settings.ini")).find("Write_OK_Count=16"), std::string::npos);
}

}  // namespace
}  // namespace kvr::test
