#pragma once

// What the stations of a line share when the line outgrows one PC: the serial numbering, the
// good count and the chips' records, kept in a database (SQLite for one PC, PostgreSQL for a line
// of several). The station sees it through this interface only; the engines' clients live in a
// library of their own, and the virtual platform stands in for them in tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kvr {

// How a line numbers its chips: the serial-number fields as the operator types them.
struct SerialPool {
  std::string address;  // hexadecimal: the number's highest address
  std::string bytes;
  std::string next;  // decimal digits: the number the next chip gets
  std::string step;
  int mode = 1;  // 0 binary, 1 packed decimal, 2 ASCII digits
  bool operator==(const SerialPool&) const = default;
};

// A line as the database holds it now.
struct LineState {
  std::optional<SerialPool> pool;  // none until the line's numbering was set
  std::int64_t goodCount = 0;
};

// The station that takes a number or writes a record, and when.
struct LineStation {
  std::string host;
  std::string port;
  std::int64_t epochMicros = 0;
  int utcOffsetMinutes = 0;
};

// One chip as the line keeps it: the fields of the production report, as valid UTF-8 text.
struct LineRecord {
  LineStation station;
  std::string model;
  std::string identity;
  std::string serial;  // the number the chip got; empty when none
  std::string image;
  std::string imageCrc32;  // eight hexadecimal digits, empty when nothing was programmed
  std::string result;      // "OK", "failed" or "stopped"
  std::string failedStep;
  std::string steps;  // a JSON array of {"name", "ms", "result"}
  std::int64_t totalMs = 0;
  std::int64_t goodCount = 0;  // the line's count after this chip
  std::string jobProduct;      // the production job's product name, empty without a job
  std::string jobCrc32;        // the job file's CRC-32, eight hexadecimal digits or empty
};

class LineDatabase {
 public:
  // Gets the line's numbering as stored (none when the line has none yet) and gives the one to
  // store. A number handed out with it goes into `spent`: the database keeps it as spent, and
  // refuses the change when the line handed it out before.
  using PoolChange =
      std::function<SerialPool(const std::optional<SerialPool>& stored, std::string& spent)>;
  // Gets the stored good count and gives the one to store.
  using CountChange = std::function<std::int64_t(std::int64_t stored)>;

  virtual ~LineDatabase() = default;
  // The line as it stands; nothing when the database cannot be read (LastError says why).
  virtual std::optional<LineState> Read(const std::string& line) = 0;
  // One transaction on the line's row, which no other station's change can come between: the
  // numbering as stored goes to `change`, what it gives is stored with the number it spent.
  // Returns the numbering now stored, or nothing when nothing was changed.
  virtual std::optional<SerialPool> ChangePool(const std::string& line, const LineStation& who,
                                               const PoolChange& change) = 0;
  virtual std::optional<std::int64_t> ChangeCount(const std::string& line,
                                                  const CountChange& change) = 0;
  // Adds a chip's record. A good chip's raises the good count in the same transaction, so the
  // count never differs from the good records; `record.goodCount` gets the count after it.
  // Returns the line after the record, or nothing when the record was not added.
  virtual std::optional<LineState> AddRecord(const std::string& line, LineRecord& record) = 0;
  // Why the last call gave nothing, in the engine's words on one line.
  virtual std::string LastError() const = 0;
};

// Opens the line database a URL names; the connection is made when it is first used.
class LineDatabases {
 public:
  virtual ~LineDatabases() = default;
  // Nothing, and why in `error`, for a URL that names no database this build can reach.
  virtual std::unique_ptr<LineDatabase> Open(const std::string& url, std::string& error) = 0;
};

// The engine a line database URL names.
enum class LineEngine { None, Sqlite, Postgres };
// "sqlite:PATH" or a PostgreSQL URI ("postgresql://user@host:port/dbname", "postgres://...").
LineEngine LineEngineOf(const std::string& url);
// Why a URL cannot name a line database, or empty when it can. A password in it is refused:
// settings files and logs are read by many, so it belongs in PGPASSWORD or ~/.pgpass.
std::string LineUrlProblem(const std::string& url);
bool LineUrlHoldsPassword(const std::string& url);

}  // namespace kvr
