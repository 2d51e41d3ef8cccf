// The production report shared by the stations of a line: several stations append at once.

#include "app/production_report.h"

#include "platform/virtual/virtual_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "platform/wall_clock.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

TEST(ProductionReport, StationsAppendingAtOnceWriteOneHeaderAndWholeRecords) {
  const fs::path dir = fs::temp_directory_path() / ("kvr-report-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Named as the dialogs name files, in UTF-8: on Windows the system's names are UTF-16.
  const fs::path file = dir / u8"产线 1.csv";
  const std::u8string name = file.u8string();
  const std::string path(name.begin(), name.end());
  constexpr int kStations = 4;
  constexpr int kRecords = 50;

  // The stations, each with its own handle on the file as a station process has, wait at the
  // gate until all are there, then append as fast as they can.
  std::promise<void> open;
  const std::shared_future<void> gate = open.get_future().share();
  std::atomic<int> failures = 0;
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s) {
    stations.emplace_back([&, s] {
      gate.wait();
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
    });
  }
  open.set_value();
  for (std::thread& station : stations) station.join();
  EXPECT_EQ(failures, 0);

  std::vector<std::string> lines;
  {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 1U + kStations * kRecords);
  EXPECT_EQ(lines[0] + "\n", CsvHeader());
  std::map<std::string, int> next;  // each station's records come in its own order
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream record(lines[i] + ",");
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 15U) << lines[i];
    EXPECT_EQ(fields[5], std::to_string(next[fields[1]]++)) << lines[i];
    EXPECT_EQ(fields[10], "Program File 1 ms") << lines[i];
  }
  for (const auto& [host, count] : next) EXPECT_EQ(count, kRecords) << host;
  EXPECT_EQ(next.size(), static_cast<std::size_t>(kStations));
  fs::remove_all(dir);
}

// The C library's local time in another zone, for as long as the object lives.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    Set(zone);
  }
  ~TimeZone() { Set(previous_ ? previous_->c_str() : nullptr); }
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

 private:
  static void Set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone != nullptr ? zone : "");
    _tzset();
#else
    if (zone != nullptr)
      ::setenv("TZ", zone, 1);
    else
      ::unsetenv("TZ");
    ::tzset();
#endif
  }
  std::optional<std::string> previous_;
};

// A record's time is the machine's local time with its offset, also where the local day is
// not the UTC day.
TEST(ProductionReport, RecordTimesAreLocalWithTheirOffset) {
  constexpr std::int64_t kNoon = 12 * 3600 * std::int64_t{1'000'000};  // 1970-01-01T12:00Z
  // Zones as both C libraries take them: a name and the hours west of UTC.
  const std::tuple<const char*, std::int64_t, const char*> cases[] = {
      {"UTC0", kNoon, "1970-01-01T12:00:00+00:00"},
      {"IST-5:30", kNoon, "1970-01-01T17:30:00+05:30"},
      {"ABC-14", kNoon, "1970-01-02T02:00:00+14:00"},
      {"XYZ3", 0, "1969-12-31T21:00:00-03:00"},
      {"XYZ3", kNoon, "1970-01-01T09:00:00-03:00"}};
  SystemWallClock clock;
  for (const auto& [zone, micros, expected] : cases) {
    const TimeZone local(zone);
    EXPECT_EQ(Iso8601(micros, clock.UtcOffsetMinutes(micros)), expected) << zone;
  }
}

// Percent-decoding, as a reader of the report undoes the escape of a file name.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Every JSON line is valid UTF-8 JSON, whatever bytes a file or device name holds, and a reader
// gets those bytes back.
TEST(ProductionReport, JsonLinesAreValidAndFileNamesKeepTheirBytes) {
  EXPECT_EQ(EscapeFileName("/srv/固件/fw v2.hex"), "/srv/固件/fw v2.hex");
  EXPECT_EQ(EscapeFileName("50%.hex"), "50%25.hex");
  EXPECT_EQ(EscapeFileName("a\xFF\xFE.hex"), "a%FF%FE.hex");
  // Overlong, surrogate, beyond U+10FFFF, cut short: each byte on its own.
  EXPECT_EQ(EscapeFileName("\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE4\xB8"),
            "%C0%AF%ED%A0%80%F4%90%80%80%E4%B8");

  ProductionRecord record;
  record.port =
      "COM1 (/dev/\xB4\xAE\xBF\xDA"
      "1)";
  record.model = "VXA01H";
  record.serial = "0041";
  record.stopped = true;
  record.steps.push_back({"Erase MCU", 1500, false});
  record.jobProduct = "Thermostat 固件";
  record.jobCrc32 = 0xABCD;
  std::mt19937 random(20);
  for (int i = 0; i < 500; ++i) {
    std::string name = "/tmp/";
    for (std::size_t n = random() % 20; n > 0; --n) name += static_cast<char>(random() % 256);
    record.image = name;
    const std::string line = FormatRecord(record, ReportFormat::JsonLines);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line per record";
    const nlohmann::json json = nlohmann::json::parse(line);  // throws on invalid UTF-8
    ASSERT_EQ(PercentDecoded(json["image"].get<std::string>()), name) << i;
    ASSERT_EQ(PercentDecoded(json["port"].get<std::string>()), record.port);
    ASSERT_EQ(json["result"], "stopped");
    ASSERT_EQ(json["steps"][0]["ms"], 2);
    ASSERT_EQ(json["steps"][0]["result"], "failed");
    ASSERT_EQ(json["job_product"], "Thermostat 固件");
    ASSERT_EQ(json["job_crc32"], "0000ABCD");
  }
  EXPECT_NE(FormatRecord(record, ReportFormat::Csv).find(",stopped,"), std::string::npos);
}

// kvr-line's --since: the report's own times, a date, UTC or an offset, and local time without
// one; anything else is refused rather than read as some other time.
TEST(ProductionReport, SinceTimesAreReadAsTheReportWritesThem) {
  VirtualClock clock;
  VirtualWallClock wall(clock);  // local time is UTC+1
  constexpr std::int64_t k0800Z = VirtualWallClock::kEpochStart;
  constexpr std::int64_t kMinute = 60'000'000;
  const std::pair<const char*, std::int64_t> read[] = {
      {"2026-01-05T08:00:00Z", k0800Z},
      {"2026-01-05T09:00:00+01:00", k0800Z},
      {"2026-01-05T07:30-00:30", k0800Z},
      {"2026-01-05T09:00", k0800Z},
      {"2026-01-05 09:00:30", k0800Z + kMinute / 2},
      {"2026-01-05", k0800Z - 9 * 60 * kMinute},
      {"2025-12-31T23:59:59Z", k0800Z - (4 * 24 * 60 + 8 * 60) * kMinute - 1'000'000},
  };
  for (const auto& [text, micros] : read) EXPECT_EQ(ParseIso8601(text, wall), micros) << text;
  EXPECT_EQ(ParseIso8601(Iso8601(k0800Z + 7 * kMinute, 60), wall), k0800Z + 7 * kMinute);
  for (const char* refused : {"", "yesterday", "2026-1-05", "2026-13-01", "2026-01-05T24:00",
                              "2026-01-05T09:00+0100", "2026-01-05T09:00Zjunk", "2026-01-05T9:00"})
    EXPECT_FALSE(ParseIso8601(refused, wall)) << refused;
}

// A record as the line database keeps it (valid UTF-8, names escaped) gives the same report line
// back, the bytes of a port or file name that are not UTF-8 included.
TEST(ProductionReport, ARecordThroughTheLineDatabaseIsTheSameRecord) {
  ProductionRecord r;
  r.epochMicros = VirtualWallClock::kEpochStart;
  r.utcOffsetMinutes = 60;
  r.host = "pc-2";
  r.port = "COM1 (/dev/tty\xFFUSB0)";
  r.model = "VXA01H";
  r.identity = "F101";
  r.serial = "0041";
  r.image = "fw\xFE,\"1\".hex";
  r.imageCrc32 = 0x0123ABCD;
  r.stopped = true;
  r.failedStep = "Verify Program";
  r.steps = {{"Program File", 1'200'000, true}, {"Verify Program", 3'000, false}};
  r.totalMicros = 1'500'000;
  r.goodCount = "7";
  const LineRecord row = ToLineRecord(r);
  EXPECT_EQ(row.station.port, "COM1 (/dev/tty%FFUSB0)");
  EXPECT_EQ(row.result, "stopped");
  EXPECT_EQ(row.imageCrc32, "0123ABCD");
  const ProductionRecord back = FromLineRecord(row);
  EXPECT_EQ(back.port, r.port);
  EXPECT_EQ(back.image, r.image);
  for (const ReportFormat format : {ReportFormat::Csv, ReportFormat::JsonLines})
    EXPECT_EQ(FormatRecord(back, format), FormatRecord(r, format));
}

}  // namespace
}  // namespace kvr
