// The line database on a PostgreSQL server, shared by the stations of several PCs. Row locks
// taken by the stations' transactions serialise what they hand out and count.

#include <libpq-fe.h>

#include <cstring>

#include "platform/sql/sql_connection.h"

namespace kvr::sql {

namespace {

// What a station waits for at most: a server that does not answer the connection, a row
// another station keeps locked, a statement, a station that keeps a transaction open.
constexpr const char* kSessionLimits =
    "SET lock_timeout = '10s'; SET statement_timeout = '30s'; "
    "SET idle_in_transaction_session_timeout = '60s'";

class PostgresConnection : public Connection {
 public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) {}
  ~PostgresConnection() override { PQfinish(connection_); }

  bool Run(const std::string& statement, const std::vector<Value>& values,
           std::vector<Row>* rows) override {
    fault_ = Fault::None;
    error_.clear();
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (const Value& value : values)
      texts.push_back(std::holds_alternative<std::int64_t>(value)
                          ? std::to_string(std::get<std::int64_t>(value))
                          : std::get<std::string>(value));
    std::vector<const char*> pointers;
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    PGresult* result = PQexecParams(connection_, statement.c_str(), static_cast<int>(texts.size()),
                                    nullptr, pointers.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      Refused(result);
      PQclear(result);
      return false;
    }
    if (rows != nullptr) {
      rows->clear();
      for (int r = 0; r < PQntuples(result); ++r) {
        Row& row = rows->emplace_back();
        for (int c = 0; c < PQnfields(result); ++c) {
          if (PQgetisnull(result, r, c) != 0)
            row.emplace_back();
          else
            row.emplace_back(std::string(PQgetvalue(result, r, c),
                                         static_cast<std::size_t>(PQgetlength(result, r, c))));
        }
      }
    }
    PQclear(result);
    return true;
  }
  const std::string& Error() const override { return error_; }
  Fault LastFault() const override { return fault_; }
  bool Lost() const override { return PQstatus(connection_) == CONNECTION_BAD; }
  const char* BeginWrite() const override { return "BEGIN"; }
  const char* RowNumberColumn() const override {
    return "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
  }

 private:
  void Refused(const PGresult* result) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    error_ = OneLine(primary != nullptr ? primary : PQerrorMessage(connection_));
    if (error_.empty()) error_ = "the server did not answer";
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state != nullptr && std::strcmp(state, "23505") == 0)
      fault_ = Fault::Unique;
    else if (state != nullptr && std::strcmp(state, "42P01") == 0)
      fault_ = Fault::NoTable;
    else
      fault_ = Fault::Other;
  }

  PGconn* connection_;
  std::string error_;
  Fault fault_ = Fault::None;
};

// The server's notices ("relation already exists, skipping") are no news for an operator.
void IgnoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<Connection> ConnectPostgres(const std::string& uri, std::string& error) {
  // Our defaults come first: what the URI itself sets overrides them.
  const char* keywords[] = {"connect_timeout",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "client_encoding",
                            "application_name",
                            "dbname",
                            nullptr};
  const char* values[] = {"5", "10", "5", "3", "UTF8", "kvr-station", uri.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords, values, 1);
  if (connection == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  if (PQstatus(connection) != CONNECTION_OK) {
    error = OneLine(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
  PGresult* limits = PQexec(connection, kSessionLimits);
  const bool set = PQresultStatus(limits) == PGRES_COMMAND_OK;
  PQclear(limits);
  if (!set) {
    error = OneLine(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  return std::make_unique<PostgresConnection>(connection);
}

}  // namespace kvr::sql
