// The production report shared by the stations of a line: several processes append at once.

#include "app/production_report.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kvr {
namespace {

namespace fs = std::filesystem;

TEST(ProductionReport, StationsAppendingAtOnceWriteOneHeaderAndWholeRecords) {
  const fs::path dir = fs::temp_directory_path() / ("kvr-report-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "line.csv").string();
  constexpr int kStations = 4;
  constexpr int kRecords = 50;

  // The stations wait at the gate until all are there, then append as fast as they can.
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> stations;
  for (int s = 0; s < kStations; ++s) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go = 0;
      const bool opened = ::read(gate[0], &go, 1) == 0;
      int failures = opened ? 0 : 1;
      for (int r = 0; r < kRecords; ++r) {
        ProductionRecord record;
        record.host = "station-" + std::to_string(s);
        record.port = "COM" + std::to_string(s + 1) + " (/dev/ttyUSB" + std::to_string(s) + ")";
        record.serial = std::to_string(r);
        record.good = true;
        record.steps.push_back({"Program File", 1234, true});
        record.goodCount = std::to_string(r + 1);
        if (AppendRecord(path, ReportFormat::Csv, record)) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    stations.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // the gate opens: every station reads its end of file
  for (pid_t pid : stations) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1U + kStations * kRecords);
  EXPECT_EQ(lines[0] + "\n", CsvHeader());
  std::map<std::string, int> next;  // each station's records come in its own order
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream record(lines[i]);
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 13U) << lines[i];
    EXPECT_EQ(fields[5], std::to_string(next[fields[1]]++)) << lines[i];
    EXPECT_EQ(fields[10], "Program File 1 ms") << lines[i];
  }
  for (const auto& [host, count] : next) EXPECT_EQ(count, kRecords) << host;
  EXPECT_EQ(next.size(), static_cast<std::size_t>(kStations));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kvr
