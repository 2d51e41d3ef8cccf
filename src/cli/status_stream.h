#pragma once

// kvr-cli's status stream (--status-fd N): what a supervisor such as kvr-gang needs to know of a
// station, one line per event, the event's name and its fields separated by tabs:
//
//   start      PORT                 the station is up; PORT as the report names it
//   run        N                    chip N: connecting to the writer
//   step       NAME                 a step of the automatic sequence (or the operation) began
//   progress   DONE TOTAL           bytes of the current step done, of its total
//   countdown  S                    S seconds to the next chip
//   chip       N RESULT SERIAL FAILED_STEP GOOD_COUNT
//                                   chip N reached the writer and ended: RESULT is OK, failed
//                                   or stopped; SERIAL the number stamped into it (empty when
//                                   none); GOOD_COUNT the good-device count after it
//   lost       N                    the port went away during run N
//   unreached  N                    run N did not reach the writer (no port, no answer)

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvr {

class Station;

namespace status {

inline constexpr const char* kStart = "start";
inline constexpr const char* kRun = "run";
inline constexpr const char* kStep = "step";
inline constexpr const char* kProgress = "progress";
inline constexpr const char* kCountdown = "countdown";
inline constexpr const char* kChip = "chip";
inline constexpr const char* kLost = "lost";
inline constexpr const char* kUnreached = "unreached";

// One line: the event and its fields; tabs and line breaks inside a field become blanks.
inline std::string Line(const std::string& event, const std::vector<std::string>& fields) {
  std::string line = event;
  for (const std::string& field : fields) {
    line += '\t';
    for (char c : field) line += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  }
  return line + '\n';
}

// The event and its fields of a line (without its line break).
inline std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t')
      fields.emplace_back();
    else if (c != '\n' && c != '\r')
      fields.back() += c;
  }
  return fields;
}

}  // namespace status

// Writes a station's status lines. Update runs in the command line's idle hook and writes what
// changed since it last looked; RunFinished runs when a run has closed down.
class StatusStream {
 public:
  // `write` puts one whole line out and says whether the reader took it.
  explicit StatusStream(std::function<bool(const std::string&)> write) : write_(std::move(write)) {}
  // Runs once, when a line could not be written: nobody is listening any more.
  void OnReaderGone(std::function<void()> gone) { gone_ = std::move(gone); }

  void Started(const std::string& port);
  void Update(Station& station);
  void RunFinished(Station& station);

 private:
  void Put(const std::string& event, const std::vector<std::string>& fields);

  std::function<bool(const std::string&)> write_;
  std::function<void()> gone_;
  bool readerGone_ = false;
  std::uint64_t run_ = 0;
  bool stepShown_ = false;
  std::string step_;
  int percent_ = -1;
  int countdown_ = -1;
};

// The value of --status-fd N into `fd`; why it cannot be used, or nothing.
std::string TakeStatusFd(const std::string& text, int& fd);

// Writes a line to an inherited descriptor in one write, so that a pipe delivers it whole.
std::function<bool(const std::string&)> DescriptorWriter(int fd);

// Whether `fd` is an open descriptor this process may write to.
bool WritableDescriptor(int fd);

}  // namespace kvr
