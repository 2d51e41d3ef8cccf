// A line of several PCs on one line database, in processes: kvr-cli stations with settings files
// of their own (as PCs have), writers that fail at random, stations killed at random, the
// database server stopped and started mid-line, and kvr-line answering what the line holds.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <random>
#include <regex>

#include "e2e/production_line.h"
#include "platform/sql/sql_connection.h"
#include "support/pg_cluster.h"

namespace kvr::test {
namespace {

enum class Engine { Sqlite, Postgres };

const QStringList kSequence = {"--auto-sequence", "Erase MCU,Program File,Verify Program"};

struct Output {
  int exitCode = -1;
  std::string out;
  std::string err;
};

Output RunLine(const QStringList& args) {
  QProcess line;
  line.start(KVR_LINE, args);
  const CliRun run = Finish(line);
  return {run.exitCode, run.out, run.err};
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class LineEndToEnd : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    hex_ = dir_.filePath("fw.hex");
    WriteHex(hex_);
    if (GetParam() == Engine::Postgres) {
      cluster_ = std::make_unique<PgCluster>();
      if (!cluster_->Ready())
        GTEST_SKIP() << "no PostgreSQL server for this test: " << cluster_->Why();
      url_ = QString::fromStdString(cluster_->Url());
    } else {
      url_ = "sqlite:" + dir_.filePath("line.db");
    }
    const Output init = RunLine(
        {url_, "init", "--next", "1", "--bytes", "3", "--address", "00FF", "--mode", "dec"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
  }
  // A station of its own PC: its settings file, its writer, the line's database.
  QStringList OnPc(const SimProcess& sim, int pc) const {
    return QStringList{"--port",          sim.DevicePath(),
                       "--settings",      dir_.filePath(QString("pc%1.ini").arg(pc)),
                       "--line-db",       url_,
                       "--load",          hex_,
                       "--serial-enable", "--repeat",
                       "--delay",         "0"} +
           kSequence;
  }
  // The line's records as kvr-line lists them, by result.
  std::map<std::string, std::vector<std::string>> Records() const {
    const Output records = RunLine({url_, "records", "--format", "jsonl"});
    EXPECT_EQ(records.exitCode, 0) << records.err;
    return ReportSerialsOf(records.out);
  }
  std::int64_t GoodCount() const {
    const Output status = RunLine({url_, "status"});
    std::smatch match;
    EXPECT_TRUE(std::regex_search(status.out, match, std::regex("\n  good +([0-9]+)\n")))
        << status.out << status.err;
    return match.empty() ? -1 : std::stoll(match[1]);
  }
  // No number went into two chips; the count is the good records, each with a number of its
  // own that went into a chip; no station called a chip good that the line has no record of.
  std::size_t ExpectTheLineAccountsForEveryChip(const std::vector<QString>& framesFiles,
                                                const std::string& output) {
    std::map<std::string, int> chipsOf;
    for (const QString& frames : framesFiles)
      for (const std::set<std::string>& session : StampedNumbers(frames)) {
        EXPECT_LE(session.size(), 1U) << "one chip got two numbers";
        for (const std::string& number : session) ++chipsOf[number];
      }
    for (const auto& [number, chips] : chipsOf)
      EXPECT_EQ(chips, 1) << "number " << number << " went into " << chips << " chips";
    const auto records = Records();
    const std::vector<std::string> good =
        records.count("OK") != 0 ? records.at("OK") : std::vector<std::string>{};
    EXPECT_EQ(std::set<std::string>(good.begin(), good.end()).size(), good.size())
        << "a number in two good records";
    for (const std::string& number : good)
      EXPECT_EQ(chipsOf.count(number), 1U) << number << " recorded but never programmed";
    EXPECT_EQ(GoodCount(), static_cast<std::int64_t>(good.size()));
    EXPECT_LE(Occurrences(output, "Auto              OK!"), good.size())
        << "a chip called good without its record";
    return good.size();
  }

  QTemporaryDir dir_;
  QString hex_;
  QString url_;
  std::unique_ptr<PgCluster> cluster_;
};

// Three PCs on one line, writers that fail at random and stations killed at random: started
// again, each goes on from the line.
TEST_P(LineEndToEnd, ThreeStationsKilledAtRandomNeverShareANumberOrLoseARecord) {
  constexpr std::size_t kChips = 300;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<QString> frames;
  for (int pc = 0; pc < 3; ++pc) {
    frames.push_back(dir_.filePath(QString("frames%1.txt").arg(pc)));
    sims.push_back(std::make_unique<SimProcess>(QStringList{"--frames", frames.back(),
                                                            "--random-faults", "0.0005", "--seed",
                                                            QString::number(pc + 1), "-q"} +
                                                kFastWriter));
  }
  std::mt19937 random(24);
  std::string output;
  int kills = 0;
  std::size_t good = 0;
  for (int round = 0; round < 100 && good < kChips; ++round) {
    std::vector<std::unique_ptr<QProcess>> stations;
    for (int pc = 0; pc < 3; ++pc) {
      stations.push_back(std::make_unique<QProcess>());
      stations.back()->start(KVR_CLI, OnPc(*sims[static_cast<std::size_t>(pc)], pc));
      ASSERT_TRUE(stations.back()->waitForStarted(10000));
    }
    for (const auto& station : stations) {
      ASSERT_TRUE(KillAfter(*station, 20 + static_cast<int>(random() % 500), &output));
      ++kills;
    }
    const auto records = Records();
    good = records.count("OK") != 0 ? records.at("OK").size() : 0;
  }
  for (const auto& sim : sims) sim->Stop();
  ASSERT_GE(good, kChips);
  std::printf("%d stations killed, %zu good chips recorded\n", kills, good);
  ExpectTheLineAccountsForEveryChip(frames, output);
}

// The server stopped mid-line: the chips meanwhile fail before they are programmed and none is
// called good; started again, the line goes on without a station being restarted.
// A server to stop: PostgreSQL only.
using LineServerEndToEnd = LineEndToEnd;

TEST_P(LineServerEndToEnd, TheDatabaseStoppedMidLineFailsChipsBeforeProgrammingAndTheLineResumes) {
  const QString frames = dir_.filePath("frames.txt");
  SimProcess sim(QStringList{"--frames", frames} + kFastWriter);
  QProcess station;
  station.setProcessChannelMode(QProcess::MergedChannels);
  station.start(KVR_CLI, OnPc(sim, 0));
  ASSERT_TRUE(station.waitForStarted(10000));
  std::string output;
  // Reads until `text` was printed `times` times in all.
  auto waitFor = [&](const std::string& text, std::size_t times) {
    while (Occurrences(output, text) < times) {
      if (!station.waitForReadyRead(15000)) return false;
      output += station.readAll().toStdString();
    }
    return true;
  };
  const std::string ok = "Auto              OK!";
  ASSERT_TRUE(waitFor(ok, 1));
  ASSERT_TRUE(cluster_->Stop());
  ASSERT_TRUE(waitFor("The serial number could not be reserved in the line database: ", 2))
      << output;
  ASSERT_TRUE(cluster_->Restart());
  ASSERT_TRUE(waitFor(ok, Occurrences(output, ok) + 3)) << output;
  station.terminate();
  ASSERT_TRUE(station.waitForFinished(10000));
  output += station.readAll().toStdString();
  sim.Stop();
  // The chips of the outage were refused before a block went out: their sessions hold no number.
  std::size_t unnumbered = 0;
  for (const std::set<std::string>& session : StampedNumbers(frames)) unnumbered += session.empty();
  EXPECT_GE(unnumbered, 1U);
  ExpectTheLineAccountsForEveryChip({frames}, output);
}

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}
INSTANTIATE_TEST_SUITE_P(Engines, LineEndToEnd, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, LineServerEndToEnd, ::testing::Values(Engine::Postgres),
                         EngineName);

// kvr-line's four commands on a line that programmed three chips, the last failing.
TEST(KvrLine, AnswersInitStatusRecordsAndSerial) {
  QTemporaryDir dir;
  const QString hex = dir.filePath("fw.hex");
  WriteHex(hex);
  const QString url = "sqlite:" + dir.filePath("line.db");
  const Output fresh = RunLine({url, "status"});
  EXPECT_EQ(fresh.exitCode, 1);
  EXPECT_NE(fresh.err.find("kvr-line URL init makes it"), std::string::npos) << fresh.err;

  const Output init = RunLine({url, "init", "--line", "board", "--next", "41", "--bytes", "3",
                               "--address", "00FF", "--mode", "dec", "--step", "2"});
  EXPECT_EQ(init.exitCode, 0) << init.err;
  EXPECT_EQ(init.out,
            "The line database holds schema version 1.\n"
            "Line board: next number 000041 (address 00FF, 3 bytes, dec, step 2).\n");
  {
    // Verification by read-back, with the third chip's read-back wrong.
    SimProcess sim(QStringList{"--version-byte", "12", "--flip-read-nth", "5"} + kFastWriter);
    const CliRun run =
        RunCli(QStringList{"--port", sim.DevicePath(), "--settings", dir.filePath("pc.ini"),
                           "--line-db", url, "--line", "board", "--load", hex, "--serial-enable",
                           "--repeat", "--delay", "0", "--count", "3"} +
               kSequence);
    EXPECT_NE(run.told.find(", line \"board\" in " + url.toStdString()), std::string::npos)
        << run.told;
  }
  const Output status = RunLine({url, "status"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  std::smatch match;
  EXPECT_TRUE(std::regex_search(
      status.out, match,
      std::regex("^Line board\n"
                 "  next number    000047 \\(address 00FF, 3 bytes, dec, step 2\\)\n"
                 "  good           2\n"
                 "  failed         1\n"
                 "  stations seen  1\n"
                 "  last record    [-0-9T:+]+, station .*, port COM1 \\(/dev/pts/[0-9]+\\), "
                 "identity not read, image CRC-32 [0-9A-F]{8}, failed at Verify Program, serial "
                 "000045\n$")))
      << status.out;

  const Output csv = RunLine({url, "records", "--line", "board"});
  EXPECT_EQ(csv.exitCode, 0) << csv.err;
  EXPECT_TRUE(
      csv.out.starts_with("time,host,port,model,identity,serial,image,image_crc32,result,"
                          "failed_step,steps,total_ms,good_count,job_product,job_crc32,line\n"))
      << csv.out;
  EXPECT_EQ(Occurrences(csv.out, ",board\n"), 3U);
  EXPECT_NE(csv.out.find(",000043,"), std::string::npos);
  EXPECT_NE(csv.out.find(",failed,Verify Program,"), std::string::npos) << csv.out;
  EXPECT_EQ(RunLine({url, "records", "--since", "2999-01-01T00:00Z"}).out,
            "time,host,port,model,identity,serial,image,image_crc32,result,failed_step,steps,"
            "total_ms,good_count,job_product,job_crc32,line\n");
  EXPECT_EQ(RunLine({url, "records", "--since", "yesterday"}).exitCode, 2);

  // The failed chip kept the number it spent.
  const Output spent = RunLine({url, "serial", "45"});
  EXPECT_EQ(spent.exitCode, 0) << spent.err;
  EXPECT_TRUE(std::regex_match(spent.out,
                               std::regex("000045 on line board: [-0-9T:+]+, station .*, port COM1 "
                                          "\\(/dev/pts/[0-9]+\\), identity not read, image CRC-32 "
                                          "[0-9A-F]{8}, failed at Verify Program\n")))
      << spent.out;
  const Output none = RunLine({url, "serial", "42"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, "kvr-line: no chip got the number 42\n");

  // A database of a later program is left alone.
  std::string error;
  ASSERT_TRUE(
      sql::Connect(url.toStdString(), false, error)->Run("UPDATE kvr_schema SET version = 2"));
  const Output newer = RunLine({url, "init"});
  EXPECT_EQ(newer.exitCode, 1);
  EXPECT_EQ(newer.err,
            "kvr-line: the schema could not be set up: the line database has schema version 2, "
            "newer than this program's 1: it is left as it is\n");
}

}  // namespace
}  // namespace kvr::test
