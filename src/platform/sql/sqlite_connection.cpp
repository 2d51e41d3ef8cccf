// The line database on SQLite: one file on this PC, shared by the stations of the PC. Its write
// lock serialises their transactions; write-ahead logging lets readers go on meanwhile.

#include <sqlite3.h>

#include <cctype>

#include "platform/sql/sql_connection.h"

namespace kvr::sql {

namespace {

// Another station may hold the write lock for a transaction or two: it is waited for this long.
constexpr int kBusyTimeoutMs = 10000;

// "$1" as SQLite numbers its parameters, "?1".
std::string SqliteParameters(const std::string& statement) {
  std::string out = statement;
  for (std::size_t i = 0; i + 1 < out.size(); ++i)
    if (out[i] == '$' && std::isdigit(static_cast<unsigned char>(out[i + 1])) != 0) out[i] = '?';
  return out;
}

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override { sqlite3_close_v2(db_); }

  bool Run(const std::string& statement, const std::vector<Value>& values,
           std::vector<Row>* rows) override {
    fault_ = Fault::None;
    error_.clear();
    sqlite3_stmt* prepared = nullptr;
    const std::string text = SqliteParameters(statement);
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &prepared, nullptr) !=
        SQLITE_OK)
      return Refused(nullptr);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      const int bound =
          std::holds_alternative<std::int64_t>(values[i])
              ? sqlite3_bind_int64(prepared, index, std::get<std::int64_t>(values[i]))
              : sqlite3_bind_text(prepared, index, std::get<std::string>(values[i]).data(),
                                  static_cast<int>(std::get<std::string>(values[i]).size()),
                                  SQLITE_TRANSIENT);
      if (bound != SQLITE_OK) return Refused(prepared);
    }
    if (rows != nullptr) rows->clear();
    for (;;) {
      const int step = sqlite3_step(prepared);
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) return Refused(prepared);
      if (rows == nullptr) continue;
      Row& row = rows->emplace_back();
      for (int c = 0; c < sqlite3_column_count(prepared); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(prepared, c));
        if (text == nullptr)
          row.emplace_back();
        else
          row.emplace_back(
              std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(prepared, c))));
      }
    }
    sqlite3_finalize(prepared);
    return true;
  }
  const std::string& Error() const override { return error_; }
  Fault LastFault() const override { return fault_; }
  bool Lost() const override { return false; }
  const char* BeginWrite() const override { return "BEGIN IMMEDIATE"; }
  const char* RowNumberColumn() const override { return "INTEGER PRIMARY KEY"; }

 private:
  bool Refused(sqlite3_stmt* prepared) {
    const int code = sqlite3_extended_errcode(db_);
    error_ = OneLine(sqlite3_errmsg(db_));
    if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)
      fault_ = Fault::Unique;
    else if (error_.starts_with("no such table"))
      fault_ = Fault::NoTable;
    else
      fault_ = Fault::Other;
    sqlite3_finalize(prepared);
    return false;
  }

  sqlite3* db_;
  std::string error_;
  Fault fault_ = Fault::None;
};

}  // namespace

std::unique_ptr<Connection> ConnectSqlite(const std::string& path, bool create,
                                          std::string& error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = db != nullptr ? OneLine(sqlite3_errmsg(db)) : "out of memory";
    if (!create) error += " (" + path + "; kvr-line URL init makes it)";
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  auto connection = std::make_unique<SqliteConnection>(db);
  // A commit is on the disk when it returns: a number reserved is never handed out again after
  // a power cut. The write-ahead log keeps readers (kvr-line) from holding up the stations.
  for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"})
    if (!connection->Run(pragma, {}, nullptr) && create) {
      error = connection->Error();
      return nullptr;
    }
  return connection;
}

}  // namespace kvr::sql
