#include "platform/sql/sql_connection.h"

#include "platform/line_database.h"

namespace kvr::sql {

std::string OneLine(const std::string& message) {
  std::string line;
  for (const char c : message) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::unique_ptr<Connection> Connect(const std::string& url, bool create, std::string& error) {
  if (const std::string problem = LineUrlProblem(url); !problem.empty()) {
    error = problem;
    return nullptr;
  }
  if (LineEngineOf(url) == LineEngine::Sqlite)
    return ConnectSqlite(url.substr(url.find(':') + 1), create, error);
  return ConnectPostgres(url, error);
}

}  // namespace kvr::sql
