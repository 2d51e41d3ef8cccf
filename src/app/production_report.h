#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  std::string image;     // the image file
  std::optional<std::uint32_t> imageCrc32;
  bool good = false;
  std::string failedStep;
  struct Step {
    std::string name;
    std::int64_t micros = 0;
    bool good = false;
  };
  std::vector<Step> steps;
  std::int64_t totalMicros = 0;
  std::string goodCount;  // the count after the run
};

enum class ReportFormat { Csv, JsonLines };

// "2026-01-05T09:00:00+01:00": local time with its offset.
std::string Iso8601(std::int64_t epochMicros, int utcOffsetMinutes);

// A field as a spreadsheet reads it back: quoted when it holds a comma, a quote or a line break,
// with quotes doubled.
std::string CsvField(const std::string& text);
// A JSON string literal: quotes, backslashes and control characters escaped, UTF-8 kept.
std::string JsonString(const std::string& text);

std::string CsvHeader();
// The record as one CSV line or one JSON object line, each ending in a line feed.
std::string FormatRecord(const ProductionRecord& record, ReportFormat format);

// CRC-32 (the common reflected polynomial 0xEDB88320) of a file's bytes; none when unreadable.
std::optional<std::uint32_t> FileCrc32(const std::string& path);
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc = 0);

// Appends one record in a single write and flushes it to the disk; a new or empty CSV file
// gets the header first. Processes appending to one local file take turns under an exclusive
// lock (POSIX), so records never interleave and the header comes once. Returns the reason when
// the record could not be written.
std::optional<std::string> AppendRecord(const std::string& path, ReportFormat format,
                                        const ProductionRecord& record);

}  // namespace kvr
