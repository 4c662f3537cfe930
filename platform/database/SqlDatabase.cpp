#include "platform/database/SqlDatabase.h"

#include <charconv>
#include <filesystem>
#include <map>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace vn {

namespace {

// ---- SQLite ---------------------------------------------------------------

SqlError SqliteError(sqlite3* db, int rc, std::string_view what) {
  const int primary = rc & 0xFF;
  std::string text = std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {ERROR_SHARING_VIOLATION, std::move(text)};
    case SQLITE_FULL:
      return {ERROR_DISK_FULL, std::move(text)};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return {ERROR_FILE_CORRUPT, std::move(text)};
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
      return {ERROR_OPEN_FAILED, std::move(text)};
    default:
      return {ERROR_INVALID_DATA, std::move(text)};
  }
}

class SqliteDatabase final : public SqlDatabase {
 public:
  explicit SqliteDatabase(sqlite3* db) : m_db(db) {}
  ~SqliteDatabase() override {
    for (auto& [sql, statement] : m_statements) sqlite3_finalize(statement);
    sqlite3_close(m_db);
  }

  Kind DatabaseKind() const override { return Kind::Sqlite; }

  SqlError Execute(std::string_view sql, std::span<const SqlValue> params, std::vector<SqlRow>* rows) override {
    // Statements are kept prepared: a history write runs one insert per row.
    sqlite3_stmt*& statement = m_statements[std::string(sql)];
    if (!statement) {
      const int rc = sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
      if (rc != SQLITE_OK) {
        SqlError error = SqliteError(m_db, rc, "SQLite");
        m_statements.erase(std::string(sql));
        return error;
      }
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int index = static_cast<int>(i + 1);
      if (const auto* number = std::get_if<long long>(&params[i])) {
        sqlite3_bind_int64(statement, index, *number);
      } else if (const auto* text = std::get_if<std::string>(&params[i])) {
        sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(statement, index);
      }
    }
    for (;;) {
      const int rc = sqlite3_step(statement);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        SqlError error = SqliteError(m_db, rc, "SQLite");
        sqlite3_reset(statement);
        return error;
      }
      if (!rows) continue;
      SqlRow row;
      const int columns = sqlite3_column_count(statement);
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(statement, c)) {
          case SQLITE_INTEGER: row.emplace_back(static_cast<long long>(sqlite3_column_int64(statement, c))); break;
          case SQLITE_NULL: row.emplace_back(std::monostate{}); break;
          default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.emplace_back(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
          }
        }
      }
      rows->push_back(std::move(row));
    }
    sqlite3_reset(statement);
    return {};
  }

  SqlError ExecuteScript(std::string_view sql) override {
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, std::string(sql).c_str(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return {};
    SqlError error = SqliteError(m_db, rc, "SQLite");
    sqlite3_free(message);
    return error;
  }

 private:
  sqlite3* m_db;
  std::map<std::string, sqlite3_stmt*, std::less<>> m_statements;
};

SqlError OpenSqlite(const std::string& path, std::unique_ptr<SqlDatabase>* database) {
  std::error_code ec;
  const std::filesystem::path file(path);
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    SqlError error = SqliteError(db, rc, "SQLite cannot open " + path);
    sqlite3_close(db);
    return error;
  }
  sqlite3_busy_timeout(db, SqlDatabase::kBusyMilliseconds);
  auto opened = std::make_unique<SqliteDatabase>(db);
  // The first statement reads the file: a file that is no database fails here.
  if (SqlError error = opened->ExecuteScript("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL")) {
    error.message = "SQLite cannot use " + path + ": " + error.message.substr(error.message.find(": ") + 2);
    return error;
  }
  *database = std::move(opened);
  return {};
}

// ---- PostgreSQL -----------------------------------------------------------

// The SQLSTATE classes that say which failure it is.
SqlError PostgresError(PGconn* connection, const PGresult* result) {
  std::string text = result ? PQresultErrorMessage(result) : PQerrorMessage(connection);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  text = "PostgreSQL: " + text;
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string_view code = state ? state : "";
  if (code == "53100" || code.substr(0, 2) == "53") return {ERROR_DISK_FULL, std::move(text)};
  if (code == "55P03" || code == "40P01" || code == "40001") return {ERROR_SHARING_VIOLATION, std::move(text)};
  if (code == "XX001" || code == "XX002") return {ERROR_FILE_CORRUPT, std::move(text)};
  if (!result || PQstatus(connection) != CONNECTION_OK || code.substr(0, 2) == "08")
    return {ERROR_OPEN_FAILED, std::move(text)};
  return {ERROR_INVALID_DATA, std::move(text)};
}

// "?" parameters become "$1", "$2"... (the statements of this product hold
// no "?" inside quoted text).
std::string NumberedParameters(std::string_view sql) {
  std::string out;
  int next = 1;
  for (char c : sql) {
    if (c == '?') {
      out += '$';
      out += std::to_string(next++);
    } else {
      out += c;
    }
  }
  return out;
}

class PostgresDatabase final : public SqlDatabase {
 public:
  explicit PostgresDatabase(PGconn* connection) : m_connection(connection) {}
  ~PostgresDatabase() override { PQfinish(m_connection); }

  Kind DatabaseKind() const override { return Kind::PostgreSql; }

  SqlError Execute(std::string_view sql, std::span<const SqlValue> params, std::vector<SqlRow>* rows) override {
    const std::string text = NumberedParameters(sql);
    std::vector<std::string> values(params.size());
    std::vector<const char*> pointers(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* number = std::get_if<long long>(&params[i])) {
        values[i] = std::to_string(*number);
        pointers[i] = values[i].c_str();
      } else if (const auto* string = std::get_if<std::string>(&params[i])) {
        values[i] = *string;
        pointers[i] = values[i].c_str();
      }
    }
    PGresult* result = PQexecParams(m_connection, text.c_str(), static_cast<int>(params.size()), nullptr,
                                    pointers.data(), nullptr, nullptr, 0);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      SqlError error = PostgresError(m_connection, result);
      PQclear(result);
      return error;
    }
    if (rows && status == PGRES_TUPLES_OK) {
      const int count = PQntuples(result);
      const int columns = PQnfields(result);
      for (int r = 0; r < count; ++r) {
        SqlRow row;
        for (int c = 0; c < columns; ++c) {
          if (PQgetisnull(result, r, c)) {
            row.emplace_back(std::monostate{});
            continue;
          }
          const char* value = PQgetvalue(result, r, c);
          // int2, int4, int8 and numeric columns come back as numbers.
          const Oid type = PQftype(result, c);
          if (type == 20 || type == 21 || type == 23 || type == 1700) {
            row.emplace_back(SqlInteger(SqlValue(std::string(value))));
          } else {
            row.emplace_back(std::string(value, static_cast<std::size_t>(PQgetlength(result, r, c))));
          }
        }
        rows->push_back(std::move(row));
      }
    }
    PQclear(result);
    return {};
  }

  SqlError ExecuteScript(std::string_view sql) override {
    PGresult* result = PQexec(m_connection, std::string(sql).c_str());
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    SqlError error;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = PostgresError(m_connection, result);
    PQclear(result);
    return error;
  }

 private:
  PGconn* m_connection;
};

SqlError OpenPostgres(const std::string& location, std::unique_ptr<SqlDatabase>* database) {
  const std::string timeout = std::to_string(SqlDatabase::kConnectSeconds);
  const char* keywords[] = {"dbname", "connect_timeout", "application_name", nullptr};
  const char* values[] = {location.c_str(), timeout.c_str(), "Vornal", nullptr};
  // dbname carrying a whole connection string is expanded by libpq.
  PGconn* connection = PQconnectdbParams(keywords, values, 1);
  if (!connection) return {ERROR_NOT_ENOUGH_MEMORY, "PostgreSQL: no memory for a connection"};
  if (PQstatus(connection) != CONNECTION_OK) {
    SqlError error = PostgresError(connection, nullptr);
    error.code = ERROR_OPEN_FAILED;
    PQfinish(connection);
    return error;
  }
  // Notices (a table that exists already...) are not the user's business.
  PQsetNoticeProcessor(connection, [](void*, const char*) {}, nullptr);
  *database = std::make_unique<PostgresDatabase>(connection);
  return {};
}

}  // namespace

bool IsPostgreSqlLocation(std::string_view location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://") ||
         location.find('=') != std::string_view::npos;
}

SqlError OpenSqlDatabase(const std::string& location, std::unique_ptr<SqlDatabase>* database) {
  database->reset();
  if (location.empty()) return {ERROR_INVALID_PARAMETER, "No database was named."};
  return IsPostgreSqlLocation(location) ? OpenPostgres(location, database) : OpenSqlite(location, database);
}

long long SqlInteger(const SqlValue& value) {
  if (const auto* number = std::get_if<long long>(&value)) return *number;
  if (const auto* text = std::get_if<std::string>(&value)) {
    long long parsed = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), parsed);
    return ec == std::errc() ? parsed : 0;
  }
  return 0;
}

std::string SqlText(const SqlValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<long long>(&value)) return std::to_string(*number);
  return {};
}

}  // namespace vn
