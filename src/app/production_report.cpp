#include "app/production_report.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "image/hex_field.h"
#include "image/serial_number.h"

namespace kvr {

namespace {

// Far beyond any image a chip takes.
constexpr std::size_t kLongestImage = 64 << 20;

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::int64_t Milliseconds(std::int64_t micros) {
  return (micros + 500) / 1000;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

std::string StepsText(const ProductionRecord& record) {
  std::string text;
  for (const auto& step : record.steps) {
    if (!text.empty()) text += "; ";
    text += step.name + " " + std::to_string(Milliseconds(step.micros)) + " ms" +
            (step.good ? "" : " failed");
  }
  return text;
}

nlohmann::ordered_json StepsJson(const ProductionRecord& record) {
  nlohmann::ordered_json steps = nlohmann::ordered_json::array();
  for (const auto& step : record.steps)
    steps.push_back({{"name", step.name},
                     {"ms", Milliseconds(step.micros)},
                     {"result", step.good ? "OK" : "failed"}});
  return steps;
}

constexpr auto kDump = nlohmann::ordered_json::error_handler_t::replace;

// The length of the valid UTF-8 sequence at `i` (no overlong forms, no surrogates, nothing
// beyond U+10FFFF), or 0 when the byte there starts none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

const std::array<std::uint32_t, 256>& Crc32Table() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

}  // namespace

std::string Iso8601(std::int64_t epochMicros, int utcOffsetMinutes) {
  const std::int64_t seconds =
      (epochMicros >= 0 ? epochMicros : epochMicros - 999'999) / 1'000'000 +
      std::int64_t{utcOffsetMinutes} * 60;
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86'399) / 86'400;
  const std::int64_t secondOfDay = seconds - days * 86'400;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  return std::to_string(year) + "-" + TwoDigits(month) + "-" + TwoDigits(day) + "T" +
         TwoDigits(static_cast<int>(secondOfDay / 3600)) + ":" +
         TwoDigits(static_cast<int>(secondOfDay / 60 % 60)) + ":" +
         TwoDigits(static_cast<int>(secondOfDay % 60)) + (utcOffsetMinutes < 0 ? "-" : "+") +
         TwoDigits(offset / 60) + ":" + TwoDigits(offset % 60);
}

std::optional<std::int64_t> ParseIso8601(std::string_view text, WallClock& clock) {
  std::size_t at = 0;
  // `count` digits at `at`, or -1.
  auto digits = [&](std::size_t count) -> int {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text[at + i];
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
    }
    at += count;
    return value;
  };
  auto take = [&](char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  };
  const int year = digits(4);
  if (year < 0 || !take('-')) return std::nullopt;
  const int month = digits(2);
  if (month < 1 || month > 12 || !take('-')) return std::nullopt;
  const int day = digits(2);
  if (day < 1 || day > 31) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (take('T') || take(' ')) {
    hour = digits(2);
    if (hour < 0 || hour > 23 || !take(':')) return std::nullopt;
    minute = digits(2);
    if (minute < 0 || minute > 59) return std::nullopt;
    if (take(':')) {
      second = digits(2);
      if (second < 0 || second > 60) return std::nullopt;
    }
  }
  std::optional<int> offset;
  if (take('Z')) {
    offset = 0;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at++] == '-' ? -1 : 1;
    const int hours = digits(2);
    if (hours < 0 || hours > 23 || !take(':')) return std::nullopt;
    const int minutes = digits(2);
    if (minutes < 0 || minutes > 59) return std::nullopt;
    offset = sign * (hours * 60 + minutes);
  }
  if (at != text.size()) return std::nullopt;
  // Days from the civil date (proleptic Gregorian), the inverse of CivilFromDays.
  const int y = month <= 2 ? year - 1 : year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  const std::int64_t local = ((days * 24 + hour) * 60 + minute) * 60 + second;
  if (offset) return (local - std::int64_t{*offset} * 60) * 1'000'000;
  // Local time: the offset of that moment, found again from the first guess.
  std::int64_t utc = local - std::int64_t{clock.UtcOffsetMinutes(local * 1'000'000)} * 60;
  utc = local - std::int64_t{clock.UtcOffsetMinutes(utc * 1'000'000)} * 60;
  return utc * 1'000'000;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string EscapeFileName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = Utf8SequenceLength(name, i);
    if (length == 0 || name[i] == '%') {
      const auto byte = static_cast<unsigned char>(name[i]);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
      ++i;
      continue;
    }
    out.append(name.substr(i, length));
    i += length;
  }
  return out;
}

std::string UnescapeFileName(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
    if (text[i] == '%' && low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

std::string CsvHeader(bool withLine) {
  return std::string(
             "time,host,port,model,identity,serial,image,image_crc32,result,failed_step,"
             "steps,total_ms,good_count,job_product,job_crc32") +
         (withLine ? ",line\n" : "\n");
}

std::string FormatRecord(const ProductionRecord& r, ReportFormat format) {
  const std::string time = Iso8601(r.epochMicros, r.utcOffsetMinutes);
  const std::string crc = r.imageCrc32 ? Crc32Text(*r.imageCrc32) : "";
  const std::string jobCrc = r.jobCrc32 ? Crc32Text(*r.jobCrc32) : "";
  const char* result = r.good ? "OK" : r.stopped ? "stopped" : "failed";
  if (format == ReportFormat::Csv) {
    const std::string fields[] = {
        time,        r.host,       r.port,       r.model,
        r.identity,  r.serial,     r.image,      crc,
        result,      r.failedStep, StepsText(r), std::to_string(Milliseconds(r.totalMicros)),
        r.goodCount, r.jobProduct, jobCrc};
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      if (i > 0) line += ',';
      line += CsvField(fields[i]);
    }
    if (r.line) line += "," + CsvField(*r.line);
    return line + "\n";
  }
  // Every text is valid UTF-8 in the JSON: the names of files and devices are escaped so that
  // they keep their bytes, and the station's own texts are UTF-8 already.
  nlohmann::ordered_json json = {{"time", time},
                                 {"host", r.host},
                                 {"port", EscapeFileName(r.port)},
                                 {"model", r.model},
                                 {"identity", r.identity},
                                 {"serial", r.serial},
                                 {"image", EscapeFileName(r.image)},
                                 {"image_crc32", crc},
                                 {"result", result},
                                 {"failed_step", r.failedStep},
                                 {"steps", StepsJson(r)},
                                 {"total_ms", Milliseconds(r.totalMicros)},
                                 {"good_count", r.goodCount},
                                 {"job_product", r.jobProduct},
                                 {"job_crc32", jobCrc}};
  if (r.line) json["line"] = *r.line;
  return json.dump(-1, ' ', false, kDump) + "\n";
}

LineRecord ToLineRecord(const ProductionRecord& r) {
  LineRecord row;
  row.station = {ValidUtf8(r.host), EscapeFileName(r.port), r.epochMicros, r.utcOffsetMinutes};
  row.model = ValidUtf8(r.model);
  row.identity = ValidUtf8(r.identity);
  row.serial = ValidUtf8(r.serial);
  row.image = EscapeFileName(r.image);
  row.imageCrc32 = r.imageCrc32 ? Crc32Text(*r.imageCrc32) : "";
  row.result = r.good ? "OK" : r.stopped ? "stopped" : "failed";
  row.failedStep = ValidUtf8(r.failedStep);
  row.steps = StepsJson(r).dump(-1, ' ', false, kDump);
  row.totalMs = Milliseconds(r.totalMicros);
  row.goodCount = ReadNumber(r.goodCount);
  row.jobProduct = ValidUtf8(r.jobProduct);
  row.jobCrc32 = r.jobCrc32 ? Crc32Text(*r.jobCrc32) : "";
  return row;
}

namespace {

// A CRC-32 as Crc32Text writes it; nothing for an empty or broken text.
std::optional<std::uint32_t> Crc32Value(const std::string& text) {
  std::uint32_t crc = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), crc, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return crc;
}

}  // namespace

ProductionRecord FromLineRecord(const LineRecord& row) {
  ProductionRecord r;
  r.epochMicros = row.station.epochMicros;
  r.utcOffsetMinutes = row.station.utcOffsetMinutes;
  r.host = row.station.host;
  r.port = UnescapeFileName(row.station.port);
  r.model = row.model;
  r.identity = row.identity;
  r.serial = row.serial;
  r.image = UnescapeFileName(row.image);
  r.imageCrc32 = Crc32Value(row.imageCrc32);
  r.good = row.result == "OK";
  r.stopped = row.result == "stopped";
  r.failedStep = row.failedStep;
  const nlohmann::json steps = nlohmann::json::parse(row.steps, nullptr, false);
  if (steps.is_array())
    for (const auto& step : steps)
      if (step.is_object())
        r.steps.push_back({step.value("name", ""), step.value("ms", std::int64_t{0}) * 1000,
                           step.value("result", "") == "OK"});
  r.totalMicros = row.totalMs * 1000;
  r.goodCount = std::to_string(row.goodCount);
  r.jobProduct = row.jobProduct;
  r.jobCrc32 = Crc32Value(row.jobCrc32);
  return r;
}

std::string Crc32Text(std::uint32_t crc) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc) {
  const auto& table = Crc32Table();
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFFU] ^ (crc >> 8);
  return ~crc;
}

std::optional<std::uint32_t> FileCrc32(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(std::filesystem::u8path(path), kLongestImage, bytes).Done())
    return std::nullopt;
  return Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

ReportFile::ReportFile(const std::string& path, ReportFormat format)
    : file_(std::filesystem::u8path(path)), format_(format) {}

std::optional<std::string> ReportFile::Append(const ProductionRecord& record) {
  const std::string line = FormatRecord(record, format_);
  // The header goes with the first record in one write: the file is locked, so it comes once.
  const bool header = format_ == ReportFormat::Csv && file_.Opened().Done() && file_.Empty();
  const FileOutcome written = file_.Append(header ? CsvHeader() + line : line);
  if (written.Done()) return std::nullopt;
  return written.reason;
}

std::optional<std::string> AppendRecord(const std::string& path, ReportFormat format,
                                        const ProductionRecord& record) {
  return ReportFile(path, format).Append(record);
}

}  // namespace kvr
