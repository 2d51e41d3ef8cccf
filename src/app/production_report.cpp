#include "app/production_report.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvr {

namespace {

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::string Hex8(std::uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string Milliseconds(std::int64_t micros) {
  return std::to_string((micros + 500) / 1000);
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
    text += step.name + " " + Milliseconds(step.micros) + " ms" + (step.good ? "" : " failed");
  }
  return text;
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

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", u);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string CsvHeader() {
  return "time,host,port,model,identity,serial,image,image_crc32,result,failed_step,steps,"
         "total_ms,good_count\n";
}

std::string FormatRecord(const ProductionRecord& r, ReportFormat format) {
  const std::string time = Iso8601(r.epochMicros, r.utcOffsetMinutes);
  const std::string crc = r.imageCrc32 ? Hex8(*r.imageCrc32) : "";
  const char* result = r.good ? "OK" : "failed";
  if (format == ReportFormat::Csv) {
    const std::string fields[] = {
        time,       r.host, r.port, r.model,      r.identity,   r.serial,
        r.image,    crc,    result, r.failedStep, StepsText(r), Milliseconds(r.totalMicros),
        r.goodCount};
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      if (i > 0) line += ',';
      line += CsvField(fields[i]);
    }
    return line + "\n";
  }
  std::string steps = "[";
  for (const auto& step : r.steps) {
    if (steps.size() > 1) steps += ",";
    steps += "{\"name\":" + JsonString(step.name) + ",\"ms\":" + Milliseconds(step.micros) +
             ",\"result\":" + JsonString(step.good ? "OK" : "failed") + "}";
  }
  steps += "]";
  return "{\"time\":" + JsonString(time) + ",\"host\":" + JsonString(r.host) +
         ",\"port\":" + JsonString(r.port) + ",\"model\":" + JsonString(r.model) +
         ",\"identity\":" + JsonString(r.identity) + ",\"serial\":" + JsonString(r.serial) +
         ",\"image\":" + JsonString(r.image) + ",\"image_crc32\":" + JsonString(crc) +
         ",\"result\":" + JsonString(result) + ",\"failed_step\":" + JsonString(r.failedStep) +
         ",\"steps\":" + steps + ",\"total_ms\":" + Milliseconds(r.totalMicros) +
         ",\"good_count\":" + JsonString(r.goodCount) + "}\n";
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc) {
  const auto& table = Crc32Table();
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFFU] ^ (crc >> 8);
  return ~crc;
}

std::optional<std::uint32_t> FileCrc32(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::uint32_t crc = 0;
  char chunk[65536];
  while (in) {
    in.read(chunk, sizeof chunk);
    crc = Crc32(reinterpret_cast<const std::uint8_t*>(chunk), static_cast<std::size_t>(in.gcount()),
                crc);
  }
  if (in.bad()) return std::nullopt;
  return crc;
}

std::optional<std::string> AppendRecord(const std::string& path, ReportFormat format,
                                        const ProductionRecord& record) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::u8path(path);
  if (fs::is_directory(file, error)) return "it is a folder";
  const std::string line = FormatRecord(record, format);
#ifndef _WIN32
  // Several stations of one line may append to the same file. Each record goes out in one write
  // to a file opened for appending, under an exclusive lock that also makes "the file is empty,
  // so the header comes first" a single step: the CSV header is written once.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  struct stat status {};
  const bool fresh = ::fstat(fd, &status) == 0 && status.st_size == 0;
  const std::string text = fresh && format == ReportFormat::Csv ? CsvHeader() + line : line;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = locked == 0 && done == text.size() && ::fsync(fd) == 0;
  const int savedErrno = errno;
  const bool closed = ::close(fd) == 0;  // also releases the lock
  if (!written || !closed) return std::strerror(written ? errno : savedErrno);
  return std::nullopt;
#else
  const bool fresh = !fs::exists(file, error) || fs::file_size(file, error) == 0;
  const std::string text = fresh && format == ReportFormat::Csv ? CsvHeader() + line : line;
  std::FILE* out = std::fopen(file.string().c_str(), "ab");
  if (out == nullptr) return std::strerror(errno);
  const bool written =
      std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
  const int savedErrno = errno;
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed) return std::strerror(written ? errno : savedErrno);
  return std::nullopt;
#endif
}

}  // namespace kvr
