#pragma once
// A SQL database of the product's own (the scan history, docs/history.md):
// an embedded SQLite file, or a PostgreSQL server reached through libpq. The
// same statements run on both: parameters are written "?" (turned into $1,
// $2... for PostgreSQL) and only what both understand is used.
//
// OpenSqlDatabase takes a location: "postgresql://..." or "postgres://..."
// (a libpq URI) or a libpq keyword string holding "=" ("host=/tmp port=5432
// dbname=history") opens a PostgreSQL connection; anything else is the path
// of a SQLite file, made when it does not exist (its folder too). A SQLite
// file is used in WAL mode with a busy time-out, so several processes share
// it; PostgreSQL connections time out after kConnectSeconds.
//
// Failures are a Win32 code with a text of the database's own saying what
// happened (SqlError): ERROR_SHARING_VIOLATION while another writer holds
// the database past the time-out, ERROR_DISK_FULL when the disk or the
// server's space is full, ERROR_FILE_CORRUPT (1392) for a file that is no
// database or is damaged, ERROR_OPEN_FAILED (110) for one that cannot be
// opened or a server that cannot be reached, ERROR_INVALID_DATA for a
// statement the database refuses. A failed statement inside a transaction
// leaves it to the caller's Rollback.
//
// Threads: one object is used by one thread at a time; open one per thread.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn {

inline constexpr LONG ERROR_OPEN_FAILED = 110;
inline constexpr LONG ERROR_FILE_CORRUPT = 1392;

// NULL, a signed 64-bit integer or a text.
using SqlValue = std::variant<std::monostate, long long, std::string>;
using SqlRow = std::vector<SqlValue>;

struct SqlError {
  LONG code = ERROR_SUCCESS;
  std::string message;  // the database's own text, empty on success
  explicit operator bool() const { return code != ERROR_SUCCESS; }
};

class SqlDatabase {
 public:
  static constexpr int kConnectSeconds = 10;
  static constexpr int kBusyMilliseconds = 5000;

  enum class Kind { Sqlite, PostgreSql };

  virtual ~SqlDatabase() = default;
  virtual Kind DatabaseKind() const = 0;
  // Runs one statement; its rows, when it returns any, are appended to `rows`
  // (null: dropped). Integers come back as integers, texts as texts.
  [[nodiscard]] virtual SqlError Execute(std::string_view sql, std::span<const SqlValue> params = {},
                                         std::vector<SqlRow>* rows = nullptr) = 0;
  // Several statements without parameters or rows, separated by ";".
  [[nodiscard]] virtual SqlError ExecuteScript(std::string_view sql) = 0;

  [[nodiscard]] SqlError Begin() { return ExecuteScript("BEGIN"); }
  [[nodiscard]] SqlError Commit() { return ExecuteScript("COMMIT"); }
  void Rollback() { (void)ExecuteScript("ROLLBACK"); }
};

[[nodiscard]] SqlError OpenSqlDatabase(const std::string& location, std::unique_ptr<SqlDatabase>* database);

// True when `location` names a PostgreSQL server rather than a SQLite file.
bool IsPostgreSqlLocation(std::string_view location);

// Reads a column of a row: the integer (a text holding one is read too; 0
// otherwise) or the text (an integer is written out; NULL is empty).
long long SqlInteger(const SqlValue& value);
std::string SqlText(const SqlValue& value);

}  // namespace vn
