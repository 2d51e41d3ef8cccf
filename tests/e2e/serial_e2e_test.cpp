// Serial numbers across real processes: kvr-cli killed at random points of a production run and
// started again on the same settings file, and two kvr-cli at once on one file, each with its
// writer. Every number the writers received in a chip's program frames went to that chip alone,
// every good chip of the report has its own number, and the good count never runs ahead of the
// good chips.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "e2e/production_line.h"
#include "support/intel_hex.h"

namespace kvr::test {
namespace {

std::string Setting(const QString& settings, const std::string& key) {
  const std::string text = ReadFile(settings);
  const std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

class SerialNumbersEndToEnd : public ::testing::Test {
 protected:
  SerialNumbersEndToEnd() {
    hex_ = dir_.filePath("fw.hex");
    WriteHex(hex_);
    settings_ = dir_.filePath("line.ini");
    report_ = dir_.filePath("report.jsonl");
    // The line's serial numbers are set up once; every start after that goes on from the store.
    const CliRun setup = RunCli({"--settings", settings_, "--no-program", "--load", hex_,
                                 "--serial-address", "00FF", "--serial-bytes", "3", "--serial-next",
                                 "1", "--serial-mode", "dec", "--serial-enable"});
    EXPECT_EQ(setup.exitCode, 0) << setup.err;
  }
  QStringList Production(const SimProcess& sim, const QString& settings = {}) const {
    return {"--port",
            sim.DevicePath(),
            "--settings",
            settings.isEmpty() ? settings_ : settings,
            "--load",
            hex_,
            "--serial-enable",
            "--auto-sequence",
            "Erase MCU,Program File,Verify Program",
            "--repeat",
            "--delay",
            "0",
            "--report",
            report_,
            "--report-format",
            "jsonl"};
  }
  // Every number went to one chip only; the good chips' numbers are among them, each once.
  void ExpectNoNumberTwice(const std::vector<QString>& framesFiles, std::size_t goodChips) {
    std::map<std::string, int> sessionsOf;
    for (const QString& frames : framesFiles) {
      for (const std::set<std::string>& session : StampedNumbers(frames)) {
        EXPECT_LE(session.size(), 1U) << "one session stamped two numbers";
        for (const std::string& number : session) ++sessionsOf[number];
      }
    }
    for (const auto& [number, sessions] : sessionsOf)
      EXPECT_EQ(sessions, 1) << "number " << number << " stamped into " << sessions << " chips";
    const auto report = ReportSerials(report_);
    const std::vector<std::string> good =
        report.count("OK") != 0 ? report.at("OK") : std::vector<std::string>{};
    EXPECT_EQ(good.size(), goodChips);
    EXPECT_EQ(std::set<std::string>(good.begin(), good.end()).size(), good.size())
        << "a number in two good records";
    for (const std::string& number : good)
      EXPECT_EQ(sessionsOf.count(number), 1U) << number << " reported but never programmed";
    // The store hands out what comes after every number programmed.
    const std::string next = Setting(settings_, "next_value");
    for (const auto& [number, sessions] : sessionsOf) EXPECT_LT(number, next);
  }

  // The record is written before the count: a kill in between loses a count, never a chip.
  void ExpectCountWithinKills(std::size_t good, int kills) {
    const std::int64_t count = std::stoll(Setting(settings_, "Write_OK_Count"));
    std::printf("%d stations killed, %zu good chips reported, good count %lld\n", kills, good,
                static_cast<long long>(count));
    EXPECT_LE(count, static_cast<std::int64_t>(good));
    EXPECT_GE(count, static_cast<std::int64_t>(good) - kills);
  }

  QTemporaryDir dir_;
  QString hex_;
  QString settings_;
  QString report_;
};

TEST_F(SerialNumbersEndToEnd, StationKilledAtRandomAndStartedAgainNeverReusesANumber) {
  constexpr std::size_t kChips = 300;
  const QString frames = dir_.filePath("frames.txt");
  SimProcess sim(QStringList{"--frames", frames} + kFastWriter);
  std::mt19937 random(14);
  int kills = 0;
  std::size_t good = 0;
  for (int start = 0; start < 200 && good < kChips; ++start) {
    QProcess cli;
    cli.start(KVR_CLI, Production(sim));
    ASSERT_TRUE(cli.waitForStarted(10000));
    ASSERT_TRUE(KillAfter(cli, 1 + static_cast<int>(random() % 90)));
    ++kills;
    good = ReportSerials(report_)["OK"].size();
  }
  sim.Stop();
  ASSERT_GE(good, kChips);
  ExpectCountWithinKills(good, kills);
  ExpectNoNumberTwice({frames}, good);
}

// Two stations share the settings file, one through a symbolic link and one by its own name, and
// both are killed at random: they lock and replace the one file, and no number goes out twice.
TEST_F(SerialNumbersEndToEnd, StationsThroughALinkAndTheRealNameKilledAtRandom) {
  constexpr std::size_t kChips = 150;
  const QString link = dir_.filePath("link.ini");
  ASSERT_TRUE(QFile::link("line.ini", link));
  const QString framesA = dir_.filePath("framesA.txt");
  const QString framesB = dir_.filePath("framesB.txt");
  SimProcess simA(QStringList{"--frames", framesA} + kFastWriter);
  SimProcess simB(QStringList{"--frames", framesB} + kFastWriter);
  std::mt19937 random(20);
  int kills = 0;
  std::size_t good = 0;
  for (int round = 0; round < 150 && good < kChips; ++round) {
    QProcess a;
    QProcess b;
    a.start(KVR_CLI, Production(simA, link));
    b.start(KVR_CLI, Production(simB));
    ASSERT_TRUE(a.waitForStarted(10000) && b.waitForStarted(10000));
    for (QProcess* cli : {&a, &b}) {
      ASSERT_TRUE(KillAfter(*cli, 1 + static_cast<int>(random() % 120)));
      ++kills;
    }
    good = ReportSerials(report_)["OK"].size();
  }
  simA.Stop();
  simB.Stop();
  ASSERT_GE(good, kChips);
  EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link was replaced by a file";
  ExpectCountWithinKills(good, kills);
  ExpectNoNumberTwice({framesA, framesB}, good);
}

TEST_F(SerialNumbersEndToEnd, TwoStationsOnOneSettingsFileNeverStampTheSameNumber) {
  constexpr int kChipsEach = 120;
  const QString framesA = dir_.filePath("framesA.txt");
  const QString framesB = dir_.filePath("framesB.txt");
  SimProcess simA(QStringList{"--frames", framesA} + kFastWriter);
  SimProcess simB(QStringList{"--frames", framesB} + kFastWriter);
  QProcess a;
  QProcess b;
  a.setStandardOutputFile(QProcess::nullDevice());
  b.setStandardOutputFile(QProcess::nullDevice());
  a.start(KVR_CLI, Production(simA) << "--count" << QString::number(kChipsEach));
  b.start(KVR_CLI, Production(simB) << "--count" << QString::number(kChipsEach));
  ASSERT_TRUE(a.waitForFinished(60000));
  ASSERT_TRUE(b.waitForFinished(60000));
  EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
  EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
  simA.Stop();
  simB.Stop();
  EXPECT_EQ(Setting(settings_, "Write_OK_Count"), std::to_string(2 * kChipsEach));
  EXPECT_EQ(Setting(settings_, "next_value"), "000241");
  ExpectNoNumberTwice({framesA, framesB}, 2 * kChipsEach);
}

}  // namespace
}  // namespace kvr::test
