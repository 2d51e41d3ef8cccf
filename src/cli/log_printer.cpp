#include "cli/log_printer.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kvr {

namespace {

// Lines that count the seconds to the next chip: on a terminal only the latest stands.
constexpr std::array<const char*, 3> kCountdownLines = {"We are going to next ... ",
                                                        "将自动重复运行 ... ", "准备重复运行... "};

bool IsCountdownLine(const std::string& line) {
  return std::any_of(kCountdownLines.begin(), kCountdownLines.end(),
                     [&](const char* prefix) { return line.rfind(prefix, 0) == 0; });
}

// The log as a terminal shows it: CR dropped, a countdown line replaced by the next one.
std::string ForTerminal(const std::string& log) {
  std::string text;
  text.reserve(log.size());
  bool previousCountdown = false;
  std::size_t previousStart = 0;
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(log.find('\n', start), log.size());
    std::string line = log.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool countdown = IsCountdownLine(line);
    if (countdown && previousCountdown) text.erase(previousStart);
    previousStart = text.size();
    previousCountdown = countdown;
    text += line;
    if (end == log.size()) break;
    text += '\n';
    start = end + 1;
  }
  return text;
}

std::string WithoutCr(const std::string& log) {
  std::string text;
  text.reserve(log.size());
  for (char c : log)
    if (c != '\r') text.push_back(c);
  return text;
}

}  // namespace

void LogPrinter::Emit(const std::string& text, std::size_t from) {
  bool wrote = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (swallowBreak_) {
      swallowBreak_ = false;
      if (text[i] == '\n') continue;
    }
    out_.put(text[i]);
    atLineStart_ = text[i] == '\n';
    wrote = true;
  }
  if (wrote) out_.flush();
}

void LogPrinter::ClearStatus() {
  if (status_.empty()) return;
  out_ << "\r\033[K";
  status_.clear();
}

void LogPrinter::Update(const std::string& log) {
  const std::string text = terminal_ ? ForTerminal(log) : WithoutCr(log);
  if (text == printed_) return;
  ClearStatus();
  const auto mismatch = std::mismatch(printed_.begin(), printed_.end(), text.begin(), text.end());
  const auto common = static_cast<std::size_t>(mismatch.first - printed_.begin());
  if (common == printed_.size()) {
    Emit(text, common);
  } else {
    const auto lineBreak = common == 0 ? std::string::npos : text.rfind('\n', common - 1);
    const std::size_t lineStart = lineBreak == std::string::npos ? 0 : lineBreak + 1;
    const bool lastLine = printed_.find('\n', lineStart) == std::string::npos;
    if (terminal_ && lastLine && !swallowBreak_) {
      // The line being changed is the one the cursor stands on: write it again in place.
      out_ << "\r\033[K";
    } else if (!atLineStart_) {
      out_.put('\n');
    }
    swallowBreak_ = false;
    atLineStart_ = true;
    Emit(text, lineStart);
  }
  printed_ = text;
}

void LogPrinter::NewRun() {
  ClearStatus();
  if (!atLineStart_ && !swallowBreak_) out_.put('\n');
  atLineStart_ = true;
  swallowBreak_ = false;
  printed_.clear();
}

void LogPrinter::SetStatus(const std::string& status) {
  if (!terminal_ || status == status_) return;
  if (status.empty()) {
    ClearStatus();
    out_.flush();
    return;
  }
  if (!atLineStart_) {
    // The status takes a line of its own; the log's own next line break is then not needed.
    out_.put('\n');
    atLineStart_ = true;
    swallowBreak_ = true;
  }
  out_ << "\r\033[K" << status;
  out_.flush();
  status_ = status;
}

void LogPrinter::Finish() {
  ClearStatus();
  if (!atLineStart_ && !swallowBreak_) {
    out_.put('\n');
    atLineStart_ = true;
  }
  out_.flush();
}

std::string ProgressText(const std::string& operation, std::int64_t minimum, std::int64_t maximum,
                         std::int64_t value, double seconds) {
  const std::int64_t total = std::max<std::int64_t>(maximum - minimum + 1, 1);
  const std::int64_t done = std::clamp<std::int64_t>(value - minimum, 0, total);
  const double kilobytes = static_cast<double>(done) / 1024.0;
  char text[160];
  std::snprintf(text, sizeof text, "%s  %3d%%  %.1f/%.1f KB  %.1f KB/s", operation.c_str(),
                static_cast<int>(done * 100 / total), kilobytes,
                static_cast<double>(total) / 1024.0, seconds > 0 ? kilobytes / seconds : 0.0);
  return text;
}

}  // namespace kvr
