#pragma once

// The line database on a real engine (SQLite or PostgreSQL), one schema and one code path for
// both, and what kvr-line asks of it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/line_database.h"
#include "platform/sql/sql_connection.h"

namespace kvr {

class SqlLineDatabase : public LineDatabase {
 public:
  // The schema this build reads and writes.
  static constexpr int kSchemaVersion = 1;

  explicit SqlLineDatabase(std::string url) : url_(std::move(url)) {}

  std::optional<LineState> Read(const std::string& line) override;
  std::optional<SerialPool> ChangePool(const std::string& line, const LineStation& who,
                                       const PoolChange& change) override;
  std::optional<std::int64_t> ChangeCount(const std::string& line,
                                          const CountChange& change) override;
  std::optional<LineState> AddRecord(const std::string& line, LineRecord& record) override;
  std::string LastError() const override { return error_; }

  // ---- What kvr-line asks ----
  // Makes the schema where the database has none (and the SQLite file where there is none);
  // a database with a newer schema is left alone and refused. False, with LastError, when not.
  bool Init();
  // Sets a line's numbering, the next number included.
  bool SetPool(const std::string& line, const SerialPool& pool);

  struct LineStatus {
    std::string line;
    LineState state;
    std::int64_t failed = 0;    // chips recorded as failed or stopped
    std::int64_t stations = 0;  // stations (host and port) that recorded chips
    std::optional<LineRecord> last;
  };
  // Every line, or the one named.
  std::optional<std::vector<LineStatus>> Status(const std::string& line);

  struct LineChip {
    std::string line;
    LineRecord record;
  };
  // The records of every line or of the one named, from `sinceMicros` on, in the order written.
  std::optional<std::vector<LineChip>> Records(const std::string& line, std::int64_t sinceMicros);

  // A number as it was handed out, and the record of its chip when there is one.
  struct SerialUse {
    std::string line;
    std::string serial;
    LineStation reservedBy;
    std::optional<LineRecord> record;
  };
  std::optional<std::vector<SerialUse>> FindSerial(const std::string& number);

 private:
  // The connection, made (again) when there is none; nothing, with error_, when it cannot be.
  sql::Connection* Use(bool create = false);
  // One transaction that writes: `body` runs between its begin and its commit, and a false
  // from it rolls it back.
  template <typename Body>
  bool Write(Body body);
  // The line's row, locked for the transaction, made when the line has none; `addGood` is
  // added to the good count on the way.
  std::optional<LineState> LockLine(const std::string& line, std::int64_t addGood);
  bool Failed();
  std::optional<std::vector<sql::Row>> Query(const std::string& statement,
                                             const std::vector<sql::Value>& values);

  std::string url_;
  std::unique_ptr<sql::Connection> connection_;
  std::string error_;
};

// Opens line databases on the engines of this build.
class SqlLineDatabases : public LineDatabases {
 public:
  std::unique_ptr<LineDatabase> Open(const std::string& url, std::string& error) override;
};

}  // namespace kvr
