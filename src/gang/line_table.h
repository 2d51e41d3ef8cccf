#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "gang/line_supervisor.h"

namespace kvr::gang {

// "Program File", "countdown 3", "failed", ...: the state column of a row.
std::string StateText(const WriterRow& row);

// The table, a row per writer (why it left the line at its end), and the line's totals.
std::vector<std::string> TableLines(const std::vector<WriterRow>& rows, double seconds);

// "Summary: 4 writers, 187 good, 13 failed, 200 in all, 5400 chips per hour".
std::string SummaryLine(const std::vector<WriterRow>& rows, double seconds);

// Chips finished per hour of `seconds`; 0 before any time has passed.
double ChipsPerHour(long long chips, double seconds);

// `line` cut to at most `columns` terminal columns; a character beyond ASCII counts two.
std::string ClipToColumns(const std::string& line, std::size_t columns);

// The table on a terminal, redrawn in place; lines printed above it scroll away as usual.
class LiveTable {
 public:
  explicit LiveTable(std::ostream& out) : out_(out) {}
  // Each line cut to `columns` (0: as they are), so that none wraps and throws the count out.
  void Draw(const std::vector<std::string>& lines, std::size_t columns);
  // Prints a line above the table (the table is drawn again by the next Draw).
  void PrintAbove(const std::string& line);

 private:
  void Erase();

  std::ostream& out_;
  std::size_t drawn_ = 0;  // lines of the table now on the screen
};

}  // namespace kvr::gang
