#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace kvr {

// Prints the message log to a console as it grows. Where the station replaces text it has
// already printed, the new text is printed again from the first changed line on. On a terminal
// a change within the last line rewrites that line in place, the countdown between two chips
// stays one line that counts down, and a status line (progress) can stand below the log.
class LogPrinter {
 public:
  explicit LogPrinter(std::ostream& out, bool terminal = false) : out_(out), terminal_(terminal) {}
  void Update(const std::string& text);
  // The log was replaced by a new run's: it is printed whole from its first line.
  void NewRun();
  // A line of its own under the log, rewritten in place; empty removes it. Terminal only.
  void SetStatus(const std::string& status);
  // Ends the last line.
  void Finish();

 private:
  void Emit(const std::string& text, std::size_t from);
  void ClearStatus();

  std::ostream& out_;
  bool terminal_;
  std::string printed_;
  bool atLineStart_ = true;
  std::string status_;
  // The status line took the line break the log will print next.
  bool swallowBreak_ = false;
};

// The progress line of a long operation: its name, per cent, kilobytes done of the total and
// the rate, e.g. "Program File  45%  7.2/16.0 KB  10.4 KB/s".
std::string ProgressText(const std::string& operation, std::int64_t minimum, std::int64_t maximum,
                         std::int64_t value, double seconds);

}  // namespace kvr
