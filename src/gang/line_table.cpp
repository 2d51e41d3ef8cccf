#include "gang/line_table.h"

#include <algorithm>
#include <cstdio>

namespace kvr::gang {

namespace {

// Terminal columns of a UTF-8 byte: a character beyond ASCII counts two (Chinese is wide), the
// bytes within a character nothing.
std::size_t ByteColumns(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte & 0xC0) == 0x80 ? 0 : byte < 0x80 ? 1 : 2;
}

std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) columns += ByteColumns(c);
  return columns;
}

std::string Padded(std::string text, std::size_t width) {
  const std::size_t columns = Columns(text);
  if (columns < width) text.append(width - columns, ' ');
  return text;
}

std::string RightAligned(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string Progress(const WriterRow& row) {
  if (row.total <= 0 || row.state != WriterState::Working) return {};
  char text[48];
  std::snprintf(text, sizeof text, "%3d%% %6.1f/%.1f KB",
                static_cast<int>(std::clamp<std::int64_t>(row.done * 100 / row.total, 0, 100)),
                static_cast<double>(row.done) / 1024.0, static_cast<double>(row.total) / 1024.0);
  return text;
}

long long Total(const std::vector<WriterRow>& rows, long long WriterRow::*count) {
  long long total = 0;
  for (const WriterRow& row : rows) total += row.*count;
  return total;
}

std::string Rate(double perHour) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", perHour);
  return text;
}

}  // namespace

double ChipsPerHour(long long chips, double seconds) {
  return seconds > 0 ? static_cast<double>(chips) * 3600.0 / seconds : 0.0;
}

std::string StateText(const WriterRow& row) {
  switch (row.state) {
    case WriterState::Starting:
      return "starting";
    case WriterState::Connecting:
      return "connecting";
    case WriterState::Working:
      return row.step;
    case WriterState::Countdown:
      return "countdown " + std::to_string(row.countdown);
    case WriterState::Stopping:
      return "stopping";
    case WriterState::Done:
      return "done";
    case WriterState::Stopped:
      return "stopped";
    case WriterState::Failed:
      return "failed";
  }
  return {};
}

std::vector<std::string> TableLines(const std::vector<WriterRow>& rows, double seconds) {
  std::size_t portWidth = 4;
  for (const WriterRow& row : rows) portWidth = std::max(portWidth, Columns(row.port));
  constexpr std::size_t kStateWidth = 17;
  constexpr std::size_t kProgressWidth = 20;
  std::vector<std::string> lines;
  lines.push_back(Padded("Port", portWidth) + "  " + Padded("State", kStateWidth) + "  " +
                  Padded("Progress", kProgressWidth) + "   Good  Failed  Last serial");
  for (const WriterRow& row : rows) {
    std::string text = Padded(row.port, portWidth) + "  " + Padded(StateText(row), kStateWidth) +
                       "  " + Padded(Progress(row), kProgressWidth) + " " +
                       RightAligned(std::to_string(row.good), 6) + " " +
                       RightAligned(std::to_string(row.failed), 7) + "  " + row.lastSerial;
    if (!row.reason.empty())
      text = Padded(std::move(text), Columns(lines[0])) + "  " + row.reason;
    else
      text.erase(text.find_last_not_of(' ') + 1);
    lines.push_back(std::move(text));
  }
  const long long good = Total(rows, &WriterRow::good);
  const long long failed = Total(rows, &WriterRow::failed);
  const auto whole = static_cast<long long>(seconds);
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                whole % 60);
  lines.push_back("Line: " + std::to_string(good) + " good, " + std::to_string(failed) +
                  " failed, " + Rate(ChipsPerHour(good + failed, seconds)) + " chips per hour, " +
                  elapsed);
  return lines;
}

std::string SummaryLine(const std::vector<WriterRow>& rows, double seconds) {
  const long long good = Total(rows, &WriterRow::good);
  const long long failed = Total(rows, &WriterRow::failed);
  return "Summary: " + std::to_string(rows.size()) + " writers, " + std::to_string(good) +
         " good, " + std::to_string(failed) + " failed, " + std::to_string(good + failed) +
         " in all, " + Rate(ChipsPerHour(good + failed, seconds)) + " chips per hour";
}

void LiveTable::Erase() {
  if (drawn_ == 0) return;
  // Up to the table's first line, and everything from there down.
  out_ << "\033[" << drawn_ << "F\033[J";
  drawn_ = 0;
}

std::string ClipToColumns(const std::string& line, std::size_t columns) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    used += ByteColumns(line[i]);
    if (used > columns) return line.substr(0, i);
  }
  return line;
}

void LiveTable::Draw(const std::vector<std::string>& lines, std::size_t columns) {
  Erase();
  for (const std::string& line : lines)
    out_ << (columns > 0 ? ClipToColumns(line, columns - 1) : line) << "\033[K\n";
  drawn_ = lines.size();
  out_.flush();
}

void LiveTable::PrintAbove(const std::string& line) {
  Erase();
  out_ << line << '\n';
  out_.flush();
}

}  // namespace kvr::gang
