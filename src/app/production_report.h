#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/durable_file.h"
#include "platform/line_database.h"
#include "platform/wall_clock.h"

namespace kvr {

// One automatic run as the production report keeps it.
struct ProductionRecord {
  std::int64_t epochMicros = 0;
  int utcOffsetMinutes = 0;
  std::string host;
  std::string port;
  std::string model;
  std::string identity;  // as read from the chip; empty when no identity was read
  std::string serial;    // the number stamped into this chip; empty when none
  // What was programmed into the chip: the image file (or what else the buffer held), and the
  // CRC-32 of the bytes sent; both empty when nothing was programmed.
  std::string image;
  std::optional<std::uint32_t> imageCrc32;
  bool good = false;
  bool stopped = false;  // ended by the operator's Stop
  std::string failedStep;
  struct Step {
    std::string name;
    std::int64_t micros = 0;
    bool good = false;
  };
  std::vector<Step> steps;
  std::int64_t totalMicros = 0;
  std::string goodCount;  // the count after the run
  // The production job whose setup made the chip, and the CRC-32 of its file; empty without one.
  std::string jobProduct;
  std::optional<std::uint32_t> jobCrc32;
  // The line of a line database the record comes from: a last field, in kvr-line's listings.
  std::optional<std::string> line;
};

enum class ReportFormat { Csv, JsonLines };

// "2026-01-05T09:00:00+01:00": local time with its offset.
std::string Iso8601(std::int64_t epochMicros, int utcOffsetMinutes);
// Microseconds since the epoch of "2026-01-05", "2026-01-05T09:00", "2026-01-05T09:00:00",
// each with "Z" or an offset ("+01:00") or without, then as local time on `clock`; nothing for
// any other text.
std::optional<std::int64_t> ParseIso8601(std::string_view text, WallClock& clock);

// A field as a spreadsheet reads it back: quoted when it holds a comma, a quote or a line break,
// with quotes doubled.
std::string CsvField(const std::string& text);
// A file name as valid UTF-8 text that keeps every byte: "%" becomes "%25" and each byte that is
// not part of valid UTF-8 becomes "%" and its two upper-case hexadecimal digits, so that
// percent-decoding gives the name's bytes back.
std::string EscapeFileName(std::string_view name);
// The name's bytes back from EscapeFileName's text.
std::string UnescapeFileName(std::string_view text);
// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

std::string CsvHeader(bool withLine = false);
// The record as one CSV line or one JSON object line, each ending in a line feed.
std::string FormatRecord(const ProductionRecord& record, ReportFormat format);

// The record as the line database keeps it (file and device names escaped as in JSON, every
// text valid UTF-8), and back.
LineRecord ToLineRecord(const ProductionRecord& record);
ProductionRecord FromLineRecord(const LineRecord& row);

// CRC-32 (the common reflected polynomial 0xEDB88320); `crc` carries on from earlier bytes.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc = 0);
// "1A2B3C4D".
std::string Crc32Text(std::uint32_t crc);
// The CRC-32 of the regular file a UTF-8 path names; none when it cannot be read.
std::optional<std::uint32_t> FileCrc32(const std::string& path);

// The report file (a UTF-8 path), opened and locked for the records of one run: processes
// appending to one local file take turns, so records never interleave and the CSV header comes
// once. Opening never blocks on what is not a regular file; that is refused, as a read-only file
// is.
class ReportFile {
 public:
  ReportFile(const std::string& path, ReportFormat format);
  // Appends the record with one write and syncs it; a new or empty CSV file gets the header
  // first, in the same write. A record is written whole or not at all. Returns the reason when
  // it could not be written.
  std::optional<std::string> Append(const ProductionRecord& record);

 private:
  AppendFile file_;
  ReportFormat format_;
};

std::optional<std::string> AppendRecord(const std::string& path, ReportFormat format,
                                        const ProductionRecord& record);

}  // namespace kvr
