#pragma once

#include <ostream>
#include <string>

namespace kvr {

// Prints the message log to a console as it grows. Where the station replaces text it has
// already printed, the new text is printed again from the first changed line on.
class LogPrinter {
 public:
  explicit LogPrinter(std::ostream& out) : out_(out) {}
  void Update(const std::string& text);
  // Ends the last line.
  void Finish();

 private:
  void Emit(const std::string& text, std::size_t from);

  std::ostream& out_;
  std::string printed_;
  bool atLineStart_ = true;
};

}  // namespace kvr
