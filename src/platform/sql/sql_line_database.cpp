#include "platform/sql/sql_line_database.h"

#include "platform/sql/engines.h"

#include <charconv>

namespace kvr {

namespace {

using sql::Row;
using sql::Value;

// The schema, version 1. The row number's column type is the one thing the engines spell
// differently; every other statement is the same text for both.
constexpr const char* kRowNumber = "{row number}";
constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS kvr_schema (version INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS kvr_lines (line TEXT PRIMARY KEY, serial_next TEXT, "
    "serial_step TEXT, serial_mode INTEGER, serial_bytes TEXT, serial_address TEXT, "
    "good_count BIGINT NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS kvr_serials (line TEXT NOT NULL, serial TEXT NOT NULL, "
    "reserved_us BIGINT NOT NULL, utc_offset_min INTEGER NOT NULL, host TEXT NOT NULL, "
    "port TEXT NOT NULL)",
    // A number is handed out once on a line, however many leading zeros it is written with.
    "CREATE UNIQUE INDEX IF NOT EXISTS kvr_serials_once ON kvr_serials (line, ltrim(serial, '0'))",
    "CREATE TABLE IF NOT EXISTS kvr_chips (id {row number}, line TEXT NOT NULL, "
    "time_us BIGINT NOT NULL, utc_offset_min INTEGER NOT NULL, host TEXT NOT NULL, "
    "port TEXT NOT NULL, model TEXT NOT NULL, identity TEXT NOT NULL, serial TEXT NOT NULL, "
    "image TEXT NOT NULL, image_crc32 TEXT NOT NULL, result TEXT NOT NULL, "
    "failed_step TEXT NOT NULL, steps TEXT NOT NULL, total_ms BIGINT NOT NULL, "
    "good_count BIGINT NOT NULL, job_product TEXT NOT NULL, job_crc32 TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS kvr_chips_time ON kvr_chips (line, time_us)",
    "CREATE INDEX IF NOT EXISTS kvr_chips_serial ON kvr_chips (line, ltrim(serial, '0'))",
    "INSERT INTO kvr_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM kvr_schema)",
};

constexpr const char* kLineColumns =
    "serial_next, serial_step, serial_mode, serial_bytes, serial_address, good_count";
constexpr const char* kRecordColumns =
    "time_us, utc_offset_min, host, port, model, identity, serial, image, image_crc32, result, "
    "failed_step, steps, total_ms, good_count, job_product, job_crc32";

std::int64_t Integer(const std::optional<std::string>& text) {
  std::int64_t value = 0;
  if (text) std::from_chars(text->data(), text->data() + text->size(), value);
  return value;
}

std::string Text(const std::optional<std::string>& text) {
  return text.value_or("");
}

// The line's columns from `first` on, as kLineColumns lists them.
LineState StateOf(const Row& row, std::size_t first = 0) {
  LineState state;
  if (row[first]) {
    SerialPool pool;
    pool.next = Text(row[first]);
    pool.step = Text(row[first + 1]);
    pool.mode = static_cast<int>(Integer(row[first + 2]));
    pool.bytes = Text(row[first + 3]);
    pool.address = Text(row[first + 4]);
    state.pool = pool;
  }
  state.goodCount = Integer(row[first + 5]);
  return state;
}

// A record's columns from `first` on, as kRecordColumns lists them.
LineRecord RecordOf(const Row& row, std::size_t first = 0) {
  LineRecord r;
  std::size_t i = first;
  r.station.epochMicros = Integer(row[i++]);
  r.station.utcOffsetMinutes = static_cast<int>(Integer(row[i++]));
  r.station.host = Text(row[i++]);
  r.station.port = Text(row[i++]);
  for (std::string* field : {&r.model, &r.identity, &r.serial, &r.image, &r.imageCrc32, &r.result,
                             &r.failedStep, &r.steps})
    *field = Text(row[i++]);
  r.totalMs = Integer(row[i++]);
  r.goodCount = Integer(row[i++]);
  r.jobProduct = Text(row[i++]);
  r.jobCrc32 = Text(row[i++]);
  return r;
}

}  // namespace

bool SqlLineDatabase::Failed() {
  if (connection_) {
    error_ = connection_->Error();
    if (connection_->Lost()) connection_.reset();
  }
  return false;
}

sql::Connection* SqlLineDatabase::Use(bool create) {
  if (connection_ && !connection_->Lost()) return connection_.get();
  connection_ = sql::Connect(url_, create, error_);
  if (!connection_ || create) return connection_.get();
  // Once per connection: a station never writes into a schema it does not know.
  std::vector<Row> rows;
  if (!connection_->Run("SELECT max(version) FROM kvr_schema", {}, &rows)) {
    if (connection_->LastFault() == sql::Fault::NoTable)
      error_ = "the line database has no tables yet: set it up with kvr-line URL init";
    else
      Failed();
    connection_.reset();
    return nullptr;
  }
  const std::int64_t version = rows.empty() ? 0 : Integer(rows[0][0]);
  if (version != kSchemaVersion) {
    error_ = version > kSchemaVersion
                 ? "the line database has schema version " + std::to_string(version) +
                       ", newer than this program's " + std::to_string(kSchemaVersion) +
                       ": update the programs"
                 : "the line database has no schema version: set it up with kvr-line URL init";
    connection_.reset();
    return nullptr;
  }
  return connection_.get();
}

std::optional<std::vector<Row>> SqlLineDatabase::Query(const std::string& statement,
                                                       const std::vector<Value>& values) {
  // A connection the server dropped since its last use shows itself here: made afresh once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    sql::Connection* connection = Use();
    if (connection == nullptr) return std::nullopt;
    std::vector<Row> rows;
    if (connection->Run(statement, values, &rows)) return rows;
    const bool lost = connection->Lost();
    Failed();
    if (!lost) break;
  }
  return std::nullopt;
}

template <typename Body>
bool SqlLineDatabase::Write(Body body) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    error_.clear();
    sql::Connection* connection = Use();
    if (connection == nullptr) return false;
    if (!connection->Run(connection->BeginWrite())) {
      // Found dropped before anything was done: once more on a new connection.
      const bool lost = connection->Lost();
      Failed();
      if (lost) continue;
      return false;
    }
    if (body(*connection) && connection->Run("COMMIT")) return true;
    // The body's own reason stands; otherwise the engine's.
    const std::string reason = error_.empty() ? connection->Error() : error_;
    if (!connection->Lost()) connection->Run("ROLLBACK");
    if (connection->Lost()) connection_.reset();
    error_ = reason;
    return false;
  }
  return false;
}

std::optional<LineState> SqlLineDatabase::LockLine(const std::string& line, std::int64_t addGood) {
  // The row's update takes its lock until the transaction ends: another station's change of
  // the line waits for it, in SQLite as in PostgreSQL.
  const std::string lock =
      "UPDATE kvr_lines SET good_count = good_count + $2 WHERE line = $1 "
      "RETURNING " +
      std::string(kLineColumns);
  sql::Connection& c = *connection_;
  std::vector<Row> rows;
  if (!c.Run(lock, {line, addGood}, &rows)) return std::nullopt;
  if (rows.empty()) {
    if (!c.Run("INSERT INTO kvr_lines (line) VALUES ($1) ON CONFLICT (line) DO NOTHING", {line}) ||
        !c.Run(lock, {line, addGood}, &rows) || rows.empty())
      return std::nullopt;
  }
  return StateOf(rows[0]);
}

std::optional<LineState> SqlLineDatabase::Read(const std::string& line) {
  error_.clear();
  const auto rows =
      Query("SELECT " + std::string(kLineColumns) + " FROM kvr_lines WHERE line = $1", {line});
  if (!rows) return std::nullopt;
  return rows->empty() ? LineState{} : StateOf(rows->front());
}

std::optional<SerialPool> SqlLineDatabase::ChangePool(const std::string& line,
                                                      const LineStation& who,
                                                      const PoolChange& change) {
  error_.clear();
  std::optional<SerialPool> stored;
  const bool done = Write([&](sql::Connection& c) {
    const std::optional<LineState> state = LockLine(line, 0);
    if (!state) return false;
    std::string spent;
    const SerialPool pool = change(state->pool, spent);
    if (pool != state->pool &&
        !c.Run("UPDATE kvr_lines SET serial_next = $2, serial_step = $3, serial_mode = $4, "
               "serial_bytes = $5, serial_address = $6 WHERE line = $1",
               {line, pool.next, pool.step, std::int64_t{pool.mode}, pool.bytes, pool.address}))
      return false;
    if (!spent.empty() &&
        !c.Run("INSERT INTO kvr_serials (line, serial, reserved_us, utc_offset_min, host, port) "
               "VALUES ($1, $2, $3, $4, $5, $6)",
               {line, spent, who.epochMicros, std::int64_t{who.utcOffsetMinutes}, who.host,
                who.port})) {
      if (c.LastFault() == sql::Fault::Unique)
        error_ = "the number " + spent + " was handed out on line " + line + " before";
      return false;
    }
    stored = pool;
    return true;
  });
  return done ? stored : std::nullopt;
}

std::optional<std::int64_t> SqlLineDatabase::ChangeCount(const std::string& line,
                                                         const CountChange& change) {
  error_.clear();
  std::int64_t count = 0;
  const bool done = Write([&](sql::Connection& c) {
    const std::optional<LineState> state = LockLine(line, 0);
    if (!state) return false;
    count = change(state->goodCount);
    return count == state->goodCount ||
           c.Run("UPDATE kvr_lines SET good_count = $2 WHERE line = $1", {line, count});
  });
  return done ? std::optional(count) : std::nullopt;
}

std::optional<LineState> SqlLineDatabase::AddRecord(const std::string& line, LineRecord& record) {
  error_.clear();
  LineState after;
  const bool done = Write([&](sql::Connection& c) {
    const std::optional<LineState> state = LockLine(line, record.result == "OK" ? 1 : 0);
    if (!state) return false;
    after = *state;
    record.goodCount = state->goodCount;
    const LineStation& s = record.station;
    return c.Run(
        "INSERT INTO kvr_chips (line, " + std::string(kRecordColumns) +
            ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17)",
        {line, s.epochMicros, std::int64_t{s.utcOffsetMinutes}, s.host, s.port, record.model,
         record.identity, record.serial, record.image, record.imageCrc32, record.result,
         record.failedStep, record.steps, record.totalMs, record.goodCount, record.jobProduct,
         record.jobCrc32});
  });
  return done ? std::optional(after) : std::nullopt;
}

bool SqlLineDatabase::Init() {
  error_.clear();
  connection_.reset();
  sql::Connection* c = Use(true);
  if (c == nullptr) return false;
  std::vector<Row> rows;
  if (c->Run("SELECT max(version) FROM kvr_schema", {}, &rows)) {
    const std::int64_t version = rows.empty() ? 0 : Integer(rows[0][0]);
    if (version > kSchemaVersion) {
      error_ = "the line database has schema version " + std::to_string(version) +
               ", newer than this program's " + std::to_string(kSchemaVersion) +
               ": it is left as it is";
      return false;
    }
  } else if (c->LastFault() != sql::Fault::NoTable) {
    return Failed();
  }
  return Write([&](sql::Connection& connection) {
    for (std::string statement : kSchema) {
      if (const auto at = statement.find(kRowNumber); at != std::string::npos)
        statement.replace(at, std::string(kRowNumber).size(), connection.RowNumberColumn());
      if (!connection.Run(statement)) return false;
    }
    return true;
  });
}

bool SqlLineDatabase::SetPool(const std::string& line, const SerialPool& pool) {
  error_.clear();
  return Write([&](sql::Connection& c) {
    return c.Run(
        "INSERT INTO kvr_lines (line, serial_next, serial_step, serial_mode, serial_bytes, "
        "serial_address) VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (line) DO UPDATE SET "
        "serial_next = excluded.serial_next, serial_step = excluded.serial_step, "
        "serial_mode = excluded.serial_mode, serial_bytes = excluded.serial_bytes, "
        "serial_address = excluded.serial_address",
        {line, pool.next, pool.step, std::int64_t{pool.mode}, pool.bytes, pool.address});
  });
}

std::optional<std::vector<SqlLineDatabase::LineStatus>> SqlLineDatabase::Status(
    const std::string& line) {
  error_.clear();
  const auto rows =
      Query("SELECT l.line, " + std::string(kLineColumns) +
                ", (SELECT count(*) FROM kvr_chips c WHERE c.line = l.line AND c.result <> 'OK'), "
                "(SELECT count(DISTINCT c.host || ' ' || c.port) FROM kvr_chips c WHERE c.line = "
                "l.line), "
                "(SELECT max(c.id) FROM kvr_chips c WHERE c.line = l.line) "
                "FROM kvr_lines l WHERE CAST($1 AS TEXT) = '' OR l.line = $1 ORDER BY l.line",
            {line});
  if (!rows) return std::nullopt;
  std::vector<LineStatus> lines;
  for (const Row& row : *rows) {
    LineStatus& status = lines.emplace_back();
    status.line = Text(row[0]);
    status.state = StateOf(row, 1);
    status.failed = Integer(row[7]);
    status.stations = Integer(row[8]);
    if (!row[9]) continue;
    const auto last =
        Query("SELECT " + std::string(kRecordColumns) + " FROM kvr_chips WHERE id = $1",
              {Integer(row[9])});
    if (!last) return std::nullopt;
    if (!last->empty()) status.last = RecordOf(last->front());
  }
  return lines;
}

std::optional<std::vector<SqlLineDatabase::LineChip>> SqlLineDatabase::Records(
    const std::string& line, std::int64_t sinceMicros) {
  error_.clear();
  const auto rows = Query("SELECT line, " + std::string(kRecordColumns) +
                              " FROM kvr_chips WHERE (CAST($1 AS TEXT) = '' OR line = $1) AND "
                              "time_us >= $2 ORDER BY id",
                          {line, sinceMicros});
  if (!rows) return std::nullopt;
  std::vector<LineChip> chips;
  for (const Row& row : *rows) chips.push_back({Text(row[0]), RecordOf(row, 1)});
  return chips;
}

std::optional<std::vector<SqlLineDatabase::SerialUse>> SqlLineDatabase::FindSerial(
    const std::string& number) {
  error_.clear();
  const auto rows = Query(
      "SELECT line, serial, reserved_us, utc_offset_min, host, port FROM kvr_serials "
      "WHERE ltrim(serial, '0') = ltrim(CAST($1 AS TEXT), '0') ORDER BY line",
      {number});
  if (!rows) return std::nullopt;
  std::vector<SerialUse> uses;
  for (const Row& row : *rows) {
    SerialUse& use = uses.emplace_back();
    use.line = Text(row[0]);
    use.serial = Text(row[1]);
    use.reservedBy = {Text(row[4]), Text(row[5]), Integer(row[2]),
                      static_cast<int>(Integer(row[3]))};
    const auto records = Query("SELECT " + std::string(kRecordColumns) +
                                   " FROM kvr_chips WHERE line = $1 AND serial <> '' AND "
                                   "ltrim(serial, '0') = ltrim(CAST($2 AS TEXT), '0') ORDER BY id",
                               {use.line, use.serial});
    if (!records) return std::nullopt;
    if (!records->empty()) use.record = RecordOf(records->back());
  }
  return uses;
}

std::unique_ptr<LineDatabase> SqlLineDatabases::Open(const std::string& url, std::string& error) {
  if (std::string problem = LineUrlProblem(url); !problem.empty()) {
    error = std::move(problem);
    return nullptr;
  }
  return std::make_unique<SqlLineDatabase>(url);
}

}  // namespace kvr

namespace kvr {

std::unique_ptr<LineDatabases> LineDatabaseEngines() {
  return std::make_unique<SqlLineDatabases>();
}

}  // namespace kvr
