#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvr::gang {

using TimePoint = std::chrono::steady_clock::time_point;

// What the supervisor may do to a writer's station process.
class StationControl {
 public:
  virtual ~StationControl() = default;
  // As the Stop button: the station stops the writer, closes the port and ends (SIGTERM).
  virtual void Terminate(std::size_t writer) = 0;
  // At once, whatever it was doing (SIGKILL).
  virtual void Kill(std::size_t writer) = 0;
};

enum class WriterState {
  Starting,
  Connecting,
  Working,
  Countdown,
  Stopping,
  Done,
  Stopped,
  Failed
};

// One writer of the line as the table shows it.
struct WriterRow {
  std::string port;
  WriterState state = WriterState::Starting;
  std::string step;        // the step now running
  std::int64_t done = 0;   // progress of that step, in bytes
  std::int64_t total = 0;  // 0: no progress shown
  int countdown = 0;       // seconds to the next chip
  long long good = 0;
  long long failed = 0;    // chips that reached the writer and were not good
  std::string lastSerial;  // of the last good chip
  std::string reason;      // why the writer left the line
};

// A line to tell the operator: a finished chip, or news of a writer.
struct Notice {
  enum class Kind { Chip, Writer } kind;
  std::string text;
};

struct ExitStatus {
  bool signalled = false;
  int code = 0;  // the exit status, or the signal's number
};

struct SupervisorLimits {
  std::chrono::milliseconds hangAfter{30000};  // no word from a station for this long: hung
  std::chrono::milliseconds killAfter{5000};   // still there this long after Terminate: Kill
  int unreachedInARow = 3;                     // runs that did not reach the writer: it is gone
};

// Follows every station of the line from its status lines and its end, and decides when a
// writer leaves the line. It never waits: the caller feeds it what happened and the time.
class LineSupervisor {
 public:
  LineSupervisor(std::vector<std::string> ports, StationControl& control, SupervisorLimits limits,
                 TimePoint now);

  void OnStatusLine(std::size_t writer, const std::string& line, TimePoint now);
  // The station process has ended; `lastError` is the last line it wrote to its error output.
  void OnExit(std::size_t writer, ExitStatus status, const std::string& lastError, TimePoint now);
  // Time-outs: a hung station, a station that did not end when told to.
  void OnTick(TimePoint now);
  // SIGINT or SIGTERM: every station stops as with the Stop button.
  void StopAll(TimePoint now);

  bool Ended() const;
  bool Stopping() const { return stopping_; }
  // When OnTick has something to decide next; none while nothing is pending.
  std::optional<TimePoint> NextDeadline() const;
  const std::vector<WriterRow>& Rows() const { return rows_; }
  // When the first chip of the line began: the line's rate counts from there, as a station's
  // own summary counts from its first chip.
  std::optional<TimePoint> FirstChip() const { return firstChip_; }
  std::vector<Notice> TakeNotices();
  long long Good() const;
  long long Failed() const;
  // 0 when every writer finished (or was stopped) and every chip was good; 1 otherwise.
  int ExitCode() const;

 private:
  struct Process {
    bool running = true;
    bool started = false;  // its status stream said "start"
    bool takenOut = false;
    bool killed = false;
    TimePoint lastHeard;
    std::optional<TimePoint> killAt;
    int unreached = 0;
  };
  void TakeOut(std::size_t writer, const std::string& reason, TimePoint now);
  void Tell(Notice::Kind kind, std::size_t writer, const std::string& text);

  std::vector<WriterRow> rows_;
  std::vector<Process> processes_;
  StationControl& control_;
  SupervisorLimits limits_;
  bool stopping_ = false;
  std::optional<TimePoint> firstChip_;
  std::vector<Notice> notices_;
};

}  // namespace kvr::gang
