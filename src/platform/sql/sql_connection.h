#pragma once

// One connection to one engine, spoken to in the statements both engines take, so that the line
// database has one code path: parameters are written $1, $2, ..., and values come back as text.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kvr::sql {

using Value = std::variant<std::string, std::int64_t>;
using Row = std::vector<std::optional<std::string>>;

// What kind of refusal the last statement met.
enum class Fault {
  None,
  Unique,   // a unique index refused a second row with the same key
  NoTable,  // a table is missing: the database has no schema yet
  Other,
};

class Connection {
 public:
  virtual ~Connection() = default;
  // Runs one statement; its rows go into `rows` when given. False when the engine refused it or
  // could not be reached (Error() says why, LastFault() what kind of refusal it was).
  virtual bool Run(const std::string& statement, const std::vector<Value>& values = {},
                   std::vector<Row>* rows = nullptr) = 0;
  virtual const std::string& Error() const = 0;
  virtual Fault LastFault() const = 0;
  // The connection is gone (the server went down or ended it): it must be made afresh.
  virtual bool Lost() const = 0;
  // The statement that begins a transaction which will write. SQLite must take its write lock
  // there: a reader that turns writer later could find the database changed under it.
  virtual const char* BeginWrite() const = 0;
  // The column type of a row number the engine gives each new row.
  virtual const char* RowNumberColumn() const = 0;
};

// Connects to the database a URL names ("sqlite:PATH" or a PostgreSQL URI); nothing, and why in
// `error`, when it cannot. A missing SQLite file is made only when `create` is set.
std::unique_ptr<Connection> Connect(const std::string& url, bool create, std::string& error);
std::unique_ptr<Connection> ConnectSqlite(const std::string& path, bool create, std::string& error);
std::unique_ptr<Connection> ConnectPostgres(const std::string& uri, std::string& error);

// An engine's message on one line: its line breaks and runs of blanks become one blank.
std::string OneLine(const std::string& message);

}  // namespace kvr::sql
