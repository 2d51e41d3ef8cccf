// kvr-gang runs lines of kvr-cli stations against kvr-writer-sim processes.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "e2e/processes.h"
#include "support/intel_hex.h"

namespace kvr::test {
namespace {

using Writer = SimProcess;

// A 1 KB image as Intel HEX.
void WriteHex1k(const QString& path) {
  std::string image(1024, '\0');
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<char>(a * 7 + 3);
  WriteFile(path, IntelHex(image));
}

std::string Port(const Writer& writer) {
  return writer.DevicePath().toStdString();
}

// kvr-gang, its output read a line at a time as it comes.
class Gang {
 public:
  explicit Gang(const QStringList& args) {
    process_.start(KVR_GANG, args);
    process_.waitForStarted(10000);
  }
  ~Gang() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(10000);
  }
  std::optional<std::string> NextLine() {
    while (!process_.canReadLine())
      if (!process_.waitForReadyRead(60000)) break;
    if (!process_.canReadLine()) return std::nullopt;
    std::string line = QString::fromUtf8(process_.readLine()).toStdString();
    if (!line.empty() && line.back() == '\n') line.pop_back();
    out_ += line + "\n";
    return line;
  }
  void Signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
  // Reads the rest of the output; the exit status, or -1 when it did not end in time.
  int Finish() {
    while (NextLine()) {
    }
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(60000)) return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  const std::string& Out() const { return out_; }
  std::string Err() { return process_.readAllStandardError().toStdString(); }

 private:
  QProcess process_;
  std::string out_;
};

struct Record {
  std::string port, serial, result, jobProduct;
};

// The report's records (after the header), its 15 fields split at the commas; none of the
// fields written here holds one.
std::vector<Record> Records(const std::string& report, std::string* header) {
  std::vector<Record> records;
  std::istringstream lines(report);
  std::getline(lines, *header);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    // A comma after the last field, so that an empty last field is read too.
    std::stringstream record(line + ",");
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    EXPECT_EQ(fields.size(), 15U) << line;
    if (fields.size() == 15) records.push_back({fields[2], fields[5], fields[8], fields[13]});
  }
  return records;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

class GangEndToEnd : public ::testing::Test {
 protected:
  GangEndToEnd() { WriteHex1k(Path("fw1k.hex")); }
  QString Path(const char* name) const { return dir_.filePath(name); }
  QStringList Line() const {
    return {"--settings",
            Path("line.ini"),
            "--load",
            Path("fw1k.hex"),
            "--auto-sequence",
            "Erase MCU,Check MCU Empty,Program File,Verify Program",
            "--serial-address",
            "3FF",
            "--serial-bytes",
            "4",
            "--serial-mode",
            "dec",
            "--serial-next",
            "1000",
            "--serial-enable",
            "--delay",
            "0",
            "--report",
            Path("line.csv")};
  }

  QTemporaryDir dir_;
};

// Four writers, fifty chips each: random faults on the second, the fourth's port vanishes
// after its tenth chip. The others carry on to the end; every chip has its record naming its
// port; the good count and the serial numbers, shared through the settings, add up.
TEST_F(GangEndToEnd, FourWritersOneFaultyOneVanishing) {
  Writer w1({}), w2({"--random-faults", "0.02", "--seed", "5"}), w3({}), w4({});
  const std::vector<const Writer*> writers{&w1, &w2, &w3, &w4};
  QStringList args = Line();
  args << "--ports"
       << w1.DevicePath() + "," + w2.DevicePath() + "," + w3.DevicePath() + "," + w4.DevicePath()
       << "--count"
       << "50";
  Gang gang(args);
  std::map<std::string, int> chipLines;
  std::map<std::string, int> goodLines;
  while (const auto line = gang.NextLine()) {
    for (const Writer* writer : writers) {
      if (!StartsWith(*line, Port(*writer) + ": chip ")) continue;
      ++chipLines[Port(*writer)];
      if (line->find(" OK, serial ") != std::string::npos) ++goodLines[Port(*writer)];
      if (writer == &w4 && chipLines[Port(w4)] == 10) w4.Kill();
    }
    if (StartsWith(*line, "Summary: ")) break;
  }
  const int status = gang.Finish();
  const std::string out = gang.Out();
  EXPECT_EQ(status, 1) << out;  // a writer left the line
  EXPECT_NE(out.find(Port(w4) + ": out, "), std::string::npos) << out;
  for (const Writer* writer : {&w1, &w2, &w3}) {
    EXPECT_EQ(chipLines[Port(*writer)], 50) << out;
    EXPECT_NE(out.find(Port(*writer) + ": done, "), std::string::npos) << out;
  }
  EXPECT_GE(chipLines[Port(w4)], 10);
  EXPECT_LT(chipLines[Port(w4)], 50);
  EXPECT_NE(w2.Stop().find("injected faults"), std::string::npos);

  std::string header;
  const std::vector<Record> records = Records(ReadFile(Path("line.csv")), &header);
  EXPECT_EQ(header,
            "time,host,port,model,identity,serial,image,image_crc32,result,failed_step,steps,"
            "total_ms,good_count,job_product,job_crc32");
  std::map<std::string, int> recordsOf;
  std::multiset<std::string> goodSerials;
  int good = 0;
  for (const Record& record : records) {
    // "COM1 (/dev/pts/N)": the station's port entry and where it points.
    const auto open = record.port.find(" (");
    ASSERT_NE(open, std::string::npos) << record.port;
    ++recordsOf[record.port.substr(open + 2, record.port.size() - open - 3)];
    if (record.result != "OK") continue;
    ++good;
    goodSerials.insert(record.serial);
  }
  for (const Writer* writer : writers)
    EXPECT_EQ(recordsOf[Port(*writer)], chipLines[Port(*writer)]) << Port(*writer);
  int goodInOutput = 0;
  for (const auto& [port, count] : goodLines) goodInOutput += count;
  EXPECT_EQ(good, goodInOutput);
  EXPECT_NE(out.find("Summary: 4 writers, " + std::to_string(good) + " good, "), std::string::npos)
      << out;

  // Every good chip has a number of its own, and the count rose once for each of them.
  EXPECT_EQ(std::set<std::string>(goodSerials.begin(), goodSerials.end()).size(),
            goodSerials.size());
  EXPECT_NE(ReadFile(Path("line.ini")).find("Write_OK_Count=" + std::to_string(good) + "\n"),
            std::string::npos)
      << good;
}

// A writer that streams text after its fifth frame holds no station: its chip fails by the
// exchange's deadline and the line ends on its own, the other writer's chip good. (Later runs
// would find no writer: 201 handshakes each, then it leaves the line.)
TEST_F(GangEndToEnd, AWriterThatStreamsTextHoldsNoStation) {
  Writer good({}), streaming({"--stream-after", "5"});
  QStringList args = Line();
  args << "--ports" << good.DevicePath() + "," + streaming.DevicePath() << "--count"
       << "1";
  Gang gang(args);
  const int status = gang.Finish();
  const std::string out = gang.Out();
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(Port(good) + ": done, 1 good, 0 failed"), std::string::npos) << out;
  EXPECT_NE(out.find(Port(streaming) + ": done, 0 good, 1 failed"), std::string::npos) << out;
}

// SIGTERM stops every station as the Stop button does; the line ends with its summary and
// every chip done so far is in the report.
TEST_F(GangEndToEnd, SigtermStopsASimulatedLine) {
  QStringList args = Line();
  args << "--simulate"
       << "2";
  Gang gang(args);
  int chips = 0;
  while (const auto line = gang.NextLine()) {
    if (line->find(": chip ") != std::string::npos) ++chips;
    if (chips == 4) {
      gang.Signal(SIGTERM);
      break;
    }
  }
  const int status = gang.Finish();
  const std::string out = gang.Out();
  EXPECT_NE(out.find("Stopping every station ...\n"), std::string::npos) << out;
  std::size_t stopped = 0;
  for (auto at = out.find(": stopped, "); at != std::string::npos;
       at = out.find(": stopped, ", at + 1))
    ++stopped;
  EXPECT_EQ(stopped, 2U) << out;
  std::size_t chipLines = 0;
  for (auto at = out.find(": chip "); at != std::string::npos; at = out.find(": chip ", at + 1))
    ++chipLines;
  std::string header;
  EXPECT_EQ(Records(ReadFile(Path("line.csv")), &header).size(), chipLines);
  // A chip stopped in the middle counts as failed, as on the command line.
  const bool anyFailed =
      out.find(" 0 failed, " + std::to_string(chipLines) + " in all") == std::string::npos;
  EXPECT_EQ(status, anyFailed ? 1 : 0) << out;
}

// -q: each writer's end and the summary alone; -v: the station's exchanges on standard error, after
// its port, and none of them taken for a station's last words.
TEST_F(GangEndToEnd, QuietAndVerboseLines) {
  Gang quiet(QStringList(Line()) << "--simulate"
                                 << "1"
                                 << "--count"
                                 << "2"
                                 << "-q");
  EXPECT_EQ(quiet.Finish(), 0);
  const std::string out = quiet.Out();
  EXPECT_EQ(out.rfind("/dev/pts/", 0), 0U) << out;
  EXPECT_NE(out.find(": done, 2 good, 0 failed\nSummary: 1 writers, 2 good, 0 failed, 2 in all, "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find(": chip "), std::string::npos) << out;

  Gang verbose(QStringList(Line()) << "--simulate"
                                   << "1"
                                   << "--count"
                                   << "1"
                                   << "--verbose");
  EXPECT_EQ(verbose.Finish(), 0);
  EXPECT_NE(verbose.Out().find(": chip 1 OK"), std::string::npos) << verbose.Out();
  const std::string err = verbose.Err();
  EXPECT_EQ(err.rfind("/dev/pts/", 0), 0U) << err;
  EXPECT_NE(err.find(": frame 80, 10 bytes: reply of 6 bytes\n"), std::string::npos) << err;
}

// A job saved once runs unchanged on every station of a line, and every record names it; an
// image changed since stops the line before any writer is touched.
TEST_F(GangEndToEnd, AJobSavedOnceRunsOnEveryStation) {
  QStringList save = Line();
  save.removeAt(save.indexOf("--serial-next") + 1);
  save.removeAll("--serial-next");
  save << "--product"
       << "Widget"
       << "--save-job" << Path("line.kvrjob") << "--settings" << Path("setup.ini");
  const CliRun saved = RunCli(save);
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  // Beside the job, the image is named without its folder.
  EXPECT_NE(ReadFile(Path("line.kvrjob")).find("\"file\": \"fw1k.hex\""), std::string::npos);

  Gang gang({"--simulate", "2", "--job", Path("line.kvrjob"), "--locked", "--serial-next", "1000",
             "--count", "3", "--settings", Path("line.ini")});
  EXPECT_EQ(gang.Finish(), 0) << gang.Out() << gang.Err();
  std::string header;
  const std::vector<Record> records = Records(ReadFile(Path("line.csv")), &header);
  ASSERT_EQ(records.size(), 6U) << gang.Out();
  std::set<std::string> serials;
  for (const Record& record : records) {
    EXPECT_EQ(record.result, "OK");
    EXPECT_EQ(record.jobProduct, "Widget");
    serials.insert(record.serial);
  }
  EXPECT_EQ(serials, (std::set<std::string>{"00001000", "00001001", "00001002", "00001003",
                                            "00001004", "00001005"}));

  WriteFile(Path("fw1k.hex"), ReadFile(Path("fw1k.hex")).insert(0, ":0100000042BD\n"));
  Gang changed({"--simulate", "2", "--job", Path("line.kvrjob"), "--settings", Path("line.ini")});
  EXPECT_EQ(changed.Finish(), 2);
  EXPECT_NE(changed.Err().find("The image file has changed since the job was saved."),
            std::string::npos)
      << changed.Err();
  EXPECT_EQ(changed.Out(), "");
}

TEST_F(GangEndToEnd, BadOptionsStartNothing) {
  Gang none({});
  EXPECT_EQ(none.Finish(), 2);
  EXPECT_EQ(none.Err(), "kvr-gang: name the writers with either --ports or --simulate N\n");

  // The station's own check of its options runs once, before any writer is started.
  Gang refused({"--simulate", "2", "--settings", Path("line.ini"), "--auto-sequence",
                "Erase MCU,Polish MCU"});
  EXPECT_EQ(refused.Finish(), 2);
  const std::string err = refused.Err();
  EXPECT_NE(err.find("kvr-gang: setting up: kvr-cli: no step \"Polish MCU\""), std::string::npos)
      << err;
  EXPECT_NE(err.find("kvr-gang: the line did not start: the station refused its options\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(refused.Out(), "");

  // Numbering the line cannot keep: no writer is touched.
  const QStringList numbering[] = {
      {"--serial-address", "00FF", "--serial-bytes", "0", "--serial-enable"},
      {"--serial-address", "00FF", "--serial-bytes", "2", "--serial-step", "0", "--serial-enable"}};
  for (const QStringList& options : numbering) {
    Gang gang(QStringList{"--simulate", "2", "--settings", Path("line.ini")} + options);
    EXPECT_EQ(gang.Finish(), 2) << options.join(' ').toStdString();
    EXPECT_NE(gang.Err().find("kvr-gang: the line did not start: the station refused its "
                              "options\n"),
              std::string::npos)
        << gang.Err();
    EXPECT_EQ(gang.Out(), "");
  }

  Gang missing({"--simulate", "1", "--cli", Path("no-such-kvr-cli")});
  EXPECT_EQ(missing.Finish(), 2);
  EXPECT_NE(missing.Err().find("no-such-kvr-cli: No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace kvr::test
