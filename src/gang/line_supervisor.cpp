#include "gang/line_supervisor.h"

#include <algorithm>
#include <charconv>

#include "cli/status_stream.h"

namespace kvr::gang {

namespace {

std::int64_t Number(const std::string& text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string Seconds(std::chrono::milliseconds span) {
  return std::to_string((span.count() + 999) / 1000) + " s";
}

}  // namespace

LineSupervisor::LineSupervisor(std::vector<std::string> ports, StationControl& control,
                               SupervisorLimits limits, TimePoint now)
    : control_(control), limits_(limits) {
  for (std::string& port : ports) {
    rows_.push_back({});
    rows_.back().port = std::move(port);
    processes_.push_back({});
    processes_.back().lastHeard = now;
  }
}

void LineSupervisor::Tell(Notice::Kind kind, std::size_t writer, const std::string& text) {
  notices_.push_back({kind, rows_[writer].port + ": " + text});
}

std::vector<Notice> LineSupervisor::TakeNotices() {
  std::vector<Notice> notices;
  notices.swap(notices_);
  return notices;
}

void LineSupervisor::OnStatusLine(std::size_t writer, const std::string& line, TimePoint now) {
  Process& process = processes_[writer];
  WriterRow& row = rows_[writer];
  if (!process.running) return;
  process.lastHeard = now;
  const std::vector<std::string> fields = status::Split(line);
  auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
  const std::string& event = fields[0];
  // A writer on its way out keeps that state; its counts still move.
  const bool settled = process.takenOut || stopping_;

  if (event == status::kStart) {
    process.started = true;
  } else if (event == status::kRun) {
    if (!firstChip_) firstChip_ = now;
    if (!settled) row.state = WriterState::Connecting;
    row.step.clear();
    row.total = 0;
  } else if (event == status::kStep) {
    if (!settled) row.state = WriterState::Working;
    row.step = field(1);
    row.done = row.total = 0;
  } else if (event == status::kProgress) {
    row.done = Number(field(1));
    row.total = Number(field(2));
  } else if (event == status::kCountdown) {
    if (!settled) row.state = WriterState::Countdown;
    row.countdown = static_cast<int>(Number(field(1)));
  } else if (event == status::kChip) {
    process.unreached = 0;
    row.total = 0;
    const std::string result = field(2);
    const std::string serial = field(3);
    const std::string failedStep = field(4);
    if (result == "OK") {
      ++row.good;
      if (!serial.empty()) row.lastSerial = serial;
    } else {
      ++row.failed;
    }
    const std::string number = std::to_string(row.good + row.failed);
    if (result == "OK")
      Tell(Notice::Kind::Chip, writer,
           "chip " + number + " OK" + (serial.empty() ? "" : ", serial " + serial));
    else
      Tell(Notice::Kind::Chip, writer,
           "chip " + number + " " + result + (failedStep.empty() ? "" : " at " + failedStep) +
               (serial.empty() ? "" : ", serial " + serial));
  } else if (event == status::kLost) {
    TakeOut(writer, "the port was lost", now);
  } else if (event == status::kUnreached) {
    ++process.unreached;
    Tell(Notice::Kind::Writer, writer, "run " + field(1) + " did not reach the writer");
    if (process.unreached >= limits_.unreachedInARow)
      TakeOut(writer, "no writer reached in " + std::to_string(process.unreached) + " runs", now);
  }
  // Other events are news to a later station, not to this supervisor.
}

void LineSupervisor::TakeOut(std::size_t writer, const std::string& reason, TimePoint now) {
  Process& process = processes_[writer];
  if (process.takenOut || !process.running) return;
  process.takenOut = true;
  rows_[writer].reason = reason;
  rows_[writer].state = WriterState::Stopping;
  Tell(Notice::Kind::Writer, writer, reason + ": the writer leaves the line");
  // A stop already under way keeps its deadline.
  if (process.killAt) return;
  control_.Terminate(writer);
  process.killAt = now + limits_.killAfter;
}

void LineSupervisor::OnExit(std::size_t writer, ExitStatus status, const std::string& lastError,
                            TimePoint now) {
  (void)now;
  Process& process = processes_[writer];
  WriterRow& row = rows_[writer];
  if (!process.running) return;
  process.running = false;
  process.killAt.reset();
  const std::string detail = lastError.empty() ? "" : " (" + lastError + ")";
  std::string failure;
  if (process.takenOut)
    failure = row.reason;
  else if (process.killed)
    failure = row.reason = "did not stop when told: killed";
  else if (stopping_)
    row.state = WriterState::Stopped;
  else if (status.signalled)
    failure = row.reason = "its station ended by signal " + std::to_string(status.code) + detail;
  else if (!process.started)
    failure = row.reason =
        "its station did not start (status " + std::to_string(status.code) + ")" + detail;
  else if (status.code == 0 || status.code == 1)
    row.state = WriterState::Done;
  else
    failure = row.reason = "its station ended with status " + std::to_string(status.code) + detail;

  const std::string counts =
      std::to_string(row.good) + " good, " + std::to_string(row.failed) + " failed";
  if (!failure.empty()) {
    row.state = WriterState::Failed;
    // Taking it out and killing it were told when they happened.
    if (!process.takenOut && !process.killed)
      Tell(Notice::Kind::Writer, writer, failure + ": out of the line");
    Tell(Notice::Kind::Writer, writer, "out, " + counts);
  } else {
    Tell(Notice::Kind::Writer, writer,
         (row.state == WriterState::Done ? "done, " : "stopped, ") + counts);
  }
}

void LineSupervisor::OnTick(TimePoint now) {
  for (std::size_t writer = 0; writer < processes_.size(); ++writer) {
    Process& process = processes_[writer];
    if (!process.running || process.killed) continue;
    if (process.killAt) {
      if (now < *process.killAt) continue;
      process.killAt.reset();
      process.killed = true;
      Tell(Notice::Kind::Writer, writer, "its station did not end when told: killed");
      control_.Kill(writer);
      continue;
    }
    if (now - process.lastHeard >= limits_.hangAfter)
      TakeOut(writer, "no word from its station for " + Seconds(limits_.hangAfter) + ": hung", now);
  }
}

void LineSupervisor::StopAll(TimePoint now) {
  if (stopping_) return;
  stopping_ = true;
  for (std::size_t writer = 0; writer < processes_.size(); ++writer) {
    Process& process = processes_[writer];
    if (!process.running || process.killAt) continue;
    rows_[writer].state = WriterState::Stopping;
    control_.Terminate(writer);
    process.killAt = now + limits_.killAfter;
  }
}

bool LineSupervisor::Ended() const {
  return std::none_of(processes_.begin(), processes_.end(),
                      [](const Process& process) { return process.running; });
}

std::optional<TimePoint> LineSupervisor::NextDeadline() const {
  std::optional<TimePoint> next;
  for (const Process& process : processes_) {
    // A killed process has nothing left to decide: its end is near.
    if (!process.running || process.killed) continue;
    const TimePoint due = process.killAt ? *process.killAt : process.lastHeard + limits_.hangAfter;
    if (!next || due < *next) next = due;
  }
  return next;
}

long long LineSupervisor::Good() const {
  long long good = 0;
  for (const WriterRow& row : rows_) good += row.good;
  return good;
}

long long LineSupervisor::Failed() const {
  long long failed = 0;
  for (const WriterRow& row : rows_) failed += row.failed;
  return failed;
}

int LineSupervisor::ExitCode() const {
  const bool writerFailed = std::any_of(rows_.begin(), rows_.end(), [](const WriterRow& row) {
    return row.state == WriterState::Failed;
  });
  return writerFailed || Failed() > 0 || Good() == 0 ? 1 : 0;
}

}  // namespace kvr::gang
