#include "cli/status_stream.h"

#include <algorithm>
#include <cerrno>

#include "app/station.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kvr {

namespace {

// The seconds a countdown line ends with ("We are going to next ... 3"), or -1.
int TrailingNumber(const std::string& log) {
  std::size_t end = log.size();
  while (end > 0 && (log[end - 1] == '\r' || log[end - 1] == '\n')) --end;
  std::size_t start = end;
  while (start > 0 && log[start - 1] >= '0' && log[start - 1] <= '9') --start;
  if (start == end || end - start > 4) return -1;
  return std::stoi(log.substr(start, end - start));
}

}  // namespace

void StatusStream::Put(const std::string& event, const std::vector<std::string>& fields) {
  if (readerGone_) return;
  if (write_(status::Line(event, fields))) return;
  readerGone_ = true;
  if (gone_) gone_();
}

void StatusStream::Started(const std::string& port) {
  Put(status::kStart, {port});
}

void StatusStream::Update(Station& station) {
  if (station.RunsStarted != run_) {
    run_ = station.RunsStarted;
    stepShown_ = false;
    percent_ = countdown_ = -1;
    Put(status::kRun, {std::to_string(run_)});
  }
  if (run_ == 0) return;
  // The driver names the operation right after the writer answered, before its first wait.
  if (station.LastRun.connected && (!stepShown_ || station.CurrentOperation != step_)) {
    stepShown_ = true;
    step_ = station.CurrentOperation;
    percent_ = -1;
    Put(status::kStep, {step_});
  }
  const ProgressBar& bar = station.ProgressBar1;
  if (station.LastRun.connected && bar.visible) {
    const std::int64_t total =
        std::max<std::int64_t>(std::int64_t{bar.maximum} - bar.minimum + 1, 1);
    const std::int64_t done =
        std::clamp<std::int64_t>(std::int64_t{bar.value} - bar.minimum, 0, total);
    // A line per whole per cent is all a table can show.
    const int percent = static_cast<int>(done * 100 / total);
    if (percent != percent_) {
      percent_ = percent;
      Put(status::kProgress, {std::to_string(done), std::to_string(total)});
    }
  }
  if (station.Timer5().Enabled()) {
    const int seconds = TrailingNumber(station.textMsg.Text());
    if (seconds >= 0 && seconds != countdown_) {
      countdown_ = seconds;
      Put(status::kCountdown, {std::to_string(seconds)});
    }
  }
}

void StatusStream::RunFinished(Station& station) {
  Update(station);
  const Station::RunRecord& run = station.LastRun;
  const std::string number = std::to_string(station.RunsStarted);
  if (run.connected) {
    // A lost port stops the run as Stop does, but nobody asked for it.
    const char* result = run.result == 0                               ? "OK"
                         : station.link.StopRequested && !run.portLost ? "stopped"
                                                                       : "failed";
    Put(status::kChip,
        {number, result, run.serial, run.failedStep, Trim(station.txtWrite_OK_Count.text)});
  }
  if (run.portLost)
    Put(status::kLost, {number});
  else if (!run.connected)
    Put(status::kUnreached, {number});
}

std::string TakeStatusFd(const std::string& text, int& fd) {
  const bool digits =
      !text.empty() && text.size() < 6 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int number = digits ? std::stoi(text) : -1;
  // 0 is the station's input; 1 and 2 carry its log and its warnings.
  if (number < 3 || !WritableDescriptor(number))
    return "--status-fd wants an open descriptor from 3 on, not \"" + text + "\"";
  fd = number;
  return {};
}

#ifndef _WIN32
std::function<bool(const std::string&)> DescriptorWriter(int fd) {
  return [fd](const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  };
}

bool WritableDescriptor(int fd) {
  if (fd < 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}
#else
std::function<bool(const std::string&)> DescriptorWriter(int) {
  return [](const std::string&) { return false; };
}

bool WritableDescriptor(int) {
  return false;
}
#endif

}  // namespace kvr
