// kvr-line: sets up a line database and answers what it holds, for the people who run the line.

#include <iostream>
#include <string>

#include "app/production_report.h"
#include "image/serial_number.h"
#include "line_cli/line_options.h"
#include "platform/sql/sql_line_database.h"

namespace {

using namespace kvr;

constexpr const char* kModeNames[] = {"hex", "dec", "ascii"};

int Fail(const std::string& message) {
  std::cerr << "kvr-line: " << message << '\n';
  return 1;
}

std::string PoolText(const SerialPool& pool) {
  const int mode = pool.mode >= 0 && pool.mode <= 2 ? pool.mode : 0;
  return pool.next + " (address " + pool.address + ", " + pool.bytes + " bytes, " +
         kModeNames[mode] + ", step " + pool.step + ")";
}

std::string RecordText(const LineRecord& row) {
  const ProductionRecord r = FromLineRecord(row);
  return Iso8601(r.epochMicros, r.utcOffsetMinutes) + ", station " + r.host + ", port " + r.port +
         ", identity " + (r.identity.empty() ? "not read" : r.identity) + ", image CRC-32 " +
         (r.imageCrc32 ? row.imageCrc32 : "none") + ", " + row.result +
         (r.failedStep.empty() ? "" : " at " + r.failedStep);
}

int Init(SqlLineDatabase& database, const LineOptions& o) {
  if (!database.Init()) return Fail("the schema could not be set up: " + database.LastError());
  std::cout << "The line database holds schema version " << SqlLineDatabase::kSchemaVersion
            << ".\n";
  if (!o.next && !o.step && !o.mode && !o.bytes && !o.address) return 0;
  const std::string name = o.line.empty() ? "default" : o.line;
  const std::optional<LineState> state = database.Read(name);
  if (!state) return Fail(database.LastError());
  // What is not given stays as the line has it, or as a fresh station would have it.
  SerialPool pool = state->pool.value_or(SerialPool{"FFFF", "8", "0000", "1", 1});
  if (o.address) pool.address = *o.address;
  if (o.bytes) pool.bytes = *o.bytes;
  if (o.step) pool.step = *o.step;
  if (o.mode) pool.mode = *o.mode;
  if (o.next) pool.next = *o.next;
  // As the station keeps it: brought to the digits its bytes hold.
  pool.next = FitDigits(
      pool.next, SerialDigitCount(static_cast<SerialMode>(pool.mode), ReadNumber(pool.bytes)));
  if (!database.SetPool(name, pool)) return Fail(database.LastError());
  std::cout << "Line " << name << ": next number " << PoolText(pool) << ".\n";
  return 0;
}

int Status(SqlLineDatabase& database, const LineOptions& o) {
  const auto lines = database.Status(o.line);
  if (!lines) return Fail(database.LastError());
  if (lines->empty())
    std::cout << (o.line.empty() ? "No line yet.\n" : "No line " + o.line + ".\n");
  for (const SqlLineDatabase::LineStatus& line : *lines) {
    std::cout << "Line " << line.line << '\n'
              << "  next number    "
              << (line.state.pool ? PoolText(*line.state.pool) : std::string("none set")) << '\n'
              << "  good           " << line.state.goodCount << '\n'
              << "  failed         " << line.failed << '\n'
              << "  stations seen  " << line.stations << '\n'
              << "  last record    " << (line.last ? RecordText(*line.last) : "none");
    if (line.last && !line.last->serial.empty()) std::cout << ", serial " << line.last->serial;
    std::cout << '\n';
  }
  return 0;
}

int Records(SqlLineDatabase& database, const LineOptions& o) {
  std::int64_t since = std::numeric_limits<std::int64_t>::min();
  if (o.since) {
    SystemWallClock clock;
    const std::optional<std::int64_t> parsed = ParseIso8601(*o.since, clock);
    if (!parsed) {
      std::cerr << "kvr-line: --since wants a time such as 2026-01-05T09:00, not \"" << *o.since
                << "\"\n";
      return 2;
    }
    since = *parsed;
  }
  const auto chips = database.Records(o.line, since);
  if (!chips) return Fail(database.LastError());
  const ReportFormat format = o.format == 1 ? ReportFormat::JsonLines : ReportFormat::Csv;
  if (format == ReportFormat::Csv) std::cout << CsvHeader(true);
  for (const SqlLineDatabase::LineChip& chip : *chips) {
    ProductionRecord record = FromLineRecord(chip.record);
    record.line = chip.line;
    std::cout << FormatRecord(record, format);
  }
  return 0;
}

int Serial(SqlLineDatabase& database, const LineOptions& o) {
  const auto uses = database.FindSerial(o.serial);
  if (!uses) return Fail(database.LastError());
  bool found = false;
  for (const SqlLineDatabase::SerialUse& use : *uses) {
    if (!o.line.empty() && use.line != o.line) continue;
    found = true;
    std::cout << use.serial << " on line " << use.line << ": ";
    if (use.record) {
      std::cout << RecordText(*use.record) << '\n';
      continue;
    }
    const LineStation& by = use.reservedBy;
    std::cout << "handed out " << Iso8601(by.epochMicros, by.utcOffsetMinutes) << " to station "
              << by.host << ", port " << UnescapeFileName(by.port)
              << "; no record of its chip: its station ended before the chip did\n";
  }
  if (!found) return Fail("no chip got the number " + o.serial);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  LineOptions options;
  CommandLine line = LineCommandLine(options);
  if (const auto result =
          ParseLineOptions(line, std::vector<std::string>(argv + 1, argv + argc), options);
      result != CommandLine::Result::Run)
    return line.Report(result, std::cout, std::cerr);
  SqlLineDatabase database(options.url);
  if (options.command == "init") return Init(database, options);
  if (options.command == "status") return Status(database, options);
  if (options.command == "records") return Records(database, options);
  return Serial(database, options);
}
