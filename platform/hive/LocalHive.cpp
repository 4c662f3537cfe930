#include "platform/hive/LocalHive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <system_error>
#include <thread>
#include <vector>

#include <sqlite3.h>

namespace vn {
namespace {

constexpr int kFormatVersion = 1;
// How long a call waits for another process's write to finish before failing.
constexpr int kBusyTimeoutMs = 10'000;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16'383;
// Enumerations continued from where they stopped, kept per hive; the oldest
// goes when more run at once.
constexpr std::size_t kMaxCursors = 64;
// The bytes of <hive>-lock that writers queue on (see Transaction).
constexpr off_t kGateByte = 0;
constexpr off_t kTurnByte = 1;

// Ticks between 1601-01-01 and the Unix epoch.
constexpr std::int64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;

// The schema of format 1 and the root key; run once, in the transaction that
// creates the hive.
constexpr const char* kCreateSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  written INTEGER NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE vals(
  seq INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id),
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, name));
CREATE INDEX vals_order ON vals(key, seq);
INSERT INTO keys(id, parent, name, fold, written) VALUES(1, NULL, '', '', 0);
PRAGMA user_version = 1;
)sql";

std::int64_t Now() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100 + kUnixEpochAsFileTime;
}

LONG Error(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CONSTRAINT:  // our own checks come first; a violation means damage
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Waits for another connection's lock in short, even steps, for at most
// kBusyTimeoutMs. SQLite's own handler sleeps longer and longer (up to 100 ms
// a time), so against a writer that takes the lock again at once it nearly
// never gets in; writers of this hive queue in WriterTurn first, so this
// matters only against other programs and the log's checkpoints.
int RetryWhileBusy(void* since, int count) {
  auto* start = static_cast<std::chrono::steady_clock::time_point*>(since);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) *start = now;
  if (now - *start >= std::chrono::milliseconds(kBusyTimeoutMs)) return 0;
  std::this_thread::sleep_for(count < 1000 ? std::chrono::microseconds(100) : std::chrono::microseconds(1000));
  return 1;
}

std::string Fold(std::string_view name) {
  std::string fold(name);
  for (char& c : fold)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return fold;
}

// Splits a backslash-separated path; empty components (doubled, leading or
// trailing backslashes) are skipped, as the system's own parser does.
LONG SplitPath(std::string_view path, std::vector<std::string_view>* parts) {
  while (!path.empty()) {
    const auto end = std::min(path.find('\\'), path.size());
    const auto part = path.substr(0, end);
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (!part.empty()) parts->push_back(part);
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return ERROR_SUCCESS;
}

}  // namespace

enum LocalHive::Sql : int {
  kBegin,
  kBeginImmediate,
  kCommit,
  kRollback,
  kKeyWritten,
  kFindKey,
  kInsertKey,
  kTouchKey,
  kHasSubKeys,
  kParentOf,
  kDeleteKeyValues,
  kDeleteKeyRow,
  kEnumKey,
  kEnumKeyAfter,
  kEnumKeyFrom,
  kEnumValue,
  kEnumValueAfter,
  kQueryValue,
  kSetValue,
  kDeleteValueRow,
  kSubKeyInfo,
  kValueInfo,
  kSqlCount
};

namespace {

constexpr const char* kSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT written FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO keys(parent, name, fold, written) VALUES(?1, ?2, ?3, ?4)",
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "SELECT parent FROM keys WHERE id = ?1",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name, written, fold FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name, written, fold FROM keys WHERE parent = ?1 AND fold > ?2 ORDER BY fold LIMIT 1",
    "SELECT name, written, fold FROM keys WHERE parent = ?1 AND fold >= ?2 ORDER BY fold LIMIT 1",
    "SELECT name, type, data, seq FROM vals WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, seq FROM vals WHERE key = ?1 AND seq > ?2 ORDER BY seq LIMIT 1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND name = ?2",
    // Overwriting keeps the row, so the value keeps its place and its name's case.
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
    "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND name = ?2",
    "SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?1",
    "SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0), ifnull(max(length(data)), 0) "
    "FROM vals WHERE key = ?1",
};
}  // namespace

// One use of a prepared statement; resets it when done, so that no finished
// or abandoned query keeps a read snapshot open.
class LocalHive::Statement {
 public:
  Statement(LocalHive& hive, Sql sql) : m_stmt(hive.Get(sql)) {}
  ~Statement() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
  }
  // The text must outlive the statement. A null pointer would bind SQL NULL,
  // hence the "" for empty names.
  Statement& Bind(int index, std::string_view text) {
    sqlite3_bind_text64(m_stmt, index, text.empty() ? "" : text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
    return *this;
  }
  Statement& BindBlob(int index, const BYTE* data, DWORD size) {
    sqlite3_bind_blob64(m_stmt, index, size ? data : reinterpret_cast<const BYTE*>(""), size, SQLITE_STATIC);
    return *this;
  }

  int Step() { return sqlite3_step(m_stmt); }
  // Runs a statement that returns no rows; the Win32 code of the outcome.
  LONG Run() { return Error(Step()); }

  std::int64_t Int(int column) { return sqlite3_column_int64(m_stmt, column); }
  std::string Text(int column) {
    const auto* text = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return text ? std::string(text, sqlite3_column_bytes(m_stmt, column)) : std::string();
  }
  std::vector<BYTE> Blob(int column) {
    const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, column));
    return std::vector<BYTE>(data, data + sqlite3_column_bytes(m_stmt, column));
  }

 private:
  sqlite3_stmt* m_stmt;
};

// A writer's turn at the hive, across processes: two open-file-description
// locks on <hive>-lock, taken as gate then turn, with the gate let go as soon
// as the turn is held. A writer that finishes and comes straight back finds
// the gate held by the one waiting for the turn, so the two alternate; with
// more writers, the turn never goes twice in a row to one while another
// waits at it. The locks go with the descriptor, so a killed writer holds
// nobody up. Without the lock file (it cannot be created) writers rely on
// SQLite's busy handler alone.
class LocalHive::WriterTurn {
 public:
  WriterTurn() = default;
  explicit WriterTurn(int fd) {
    if (fd < 0 || !Lock(fd, kGateByte, F_WRLCK)) return;
    const bool turn = Lock(fd, kTurnByte, F_WRLCK);
    Lock(fd, kGateByte, F_UNLCK);
    if (turn) m_fd = fd;
  }
  ~WriterTurn() {
    if (m_fd >= 0) Lock(m_fd, kTurnByte, F_UNLCK);
  }
  WriterTurn(const WriterTurn&) = delete;
  WriterTurn& operator=(const WriterTurn&) = delete;

 private:
  static bool Lock(int fd, off_t byte, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLKW, &lock) != 0)
      if (errno != EINTR) return false;
    return true;
  }

  int m_fd = -1;
};

// A transaction of the calling operation: writes take the write lock at once
// (BEGIN IMMEDIATE), so they never fail half-way for a lock; whatever was not
// committed is rolled back when the object goes.
//
// Writers of every process take their turn first (WriterTurn), so that one
// writing in a tight loop cannot starve the others: SQLite's busy handler
// sleeps longer and longer while the lock stays taken, and a writer that
// releases and retakes the lock at once would nearly always win.
class LocalHive::Transaction {
 public:
  Transaction(LocalHive& hive, bool write) : m_hive(hive), m_turn(write ? WriterTurn(hive.m_writers.Get()) : WriterTurn()) {
    m_status = Statement(hive, write ? kBeginImmediate : kBegin).Run();
    m_open = m_status == ERROR_SUCCESS;
  }
  ~Transaction() {
    // Some failures (disk full, I/O errors) roll back by themselves.
    if (m_open && !sqlite3_get_autocommit(m_hive.m_db)) Statement(m_hive, kRollback).Run();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  LONG status() const { return m_status; }
  LONG Commit() {
    const LONG rc = Statement(m_hive, kCommit).Run();
    if (rc == ERROR_SUCCESS) m_open = false;
    return rc;
  }

 private:
  LocalHive& m_hive;
  WriterTurn m_turn;   // released after the transaction has ended (members go in reverse order)
  LONG m_status;
  bool m_open;
};

LocalHive::LocalHive(sqlite3* db) : m_db(db), m_statements(new sqlite3_stmt*[kSqlCount]()) {}

LocalHive::~LocalHive() {
  for (int i = 0; i < kSqlCount; ++i) sqlite3_finalize(m_statements[i]);
  sqlite3_close(m_db);
}

LONG LocalHive::Open(const std::filesystem::path& file, std::shared_ptr<LocalHive>* hive) {
  hive->reset();
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (const int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr); rc != SQLITE_OK) {
    sqlite3_close(db);
    return rc == SQLITE_NOMEM ? ERROR_OUTOFMEMORY : ERROR_CANTOPEN;
  }
  std::shared_ptr<LocalHive> opened(new LocalHive(db));
  // A file SQLite could only open for reading is no hive for us: every
  // process using it writes, if only the shared-memory index of the log.
  if (sqlite3_db_readonly(db, "main") != 0) return ERROR_CANTOPEN;
  sqlite3_busy_handler(db, &RetryWhileBusy, &opened->m_busySince);
  opened->m_writers.Reset(::open((file.string() + "-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));

  // Write-ahead logging lets readers go on while one process writes, and makes
  // a transaction durable once its commit record is in the log. synchronous =
  // NORMAL writes the log on every commit but syncs it to the disk only at
  // checkpoints: a commit survives the death of its process (the log is in the
  // operating system's hands), only a power cut or a system crash may lose the
  // last commits, and never leaves the hive damaged.
  // Switching a new file to the log fails at once, without the busy handler,
  // while another process does the same; so wait here as the handler would.
  int rc = SQLITE_BUSY;
  bool wal = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    sqlite3_stmt* mode = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode = WAL", -1, &mode, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(mode);
    wal = rc == SQLITE_ROW && std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal") == 0;
    sqlite3_finalize(mode);
    if ((rc & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (rc != SQLITE_ROW) return rc == SQLITE_ERROR ? ERROR_BADDB : Error(rc);
  if (!wal) return ERROR_REGISTRY_IO_FAILED;
  if (rc = sqlite3_exec(db, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
      rc != SQLITE_OK)
    return Error(rc);

  auto version = [db](int* value) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) *value = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW ? SQLITE_OK : rc;
  };
  int format = 0;
  if (rc = version(&format); rc != SQLITE_OK) return Error(rc);
  if (format == 0) {
    // Several processes may meet a new hive at once; the first to get the
    // write lock creates it, the others find it made.
    if (rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Error(rc);
    rc = version(&format);
    if (rc == SQLITE_OK && format == 0) {
      rc = sqlite3_exec(db, kCreateSchema, nullptr, nullptr, nullptr);
      format = kFormatVersion;
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      // A file with tables of its own is not a hive.
      return rc == SQLITE_ERROR ? ERROR_BADDB : Error(rc);
    }
  }
  if (format != kFormatVersion) return ERROR_BADDB;
  if (const LONG error = opened->Prepare(); error != ERROR_SUCCESS) return error;
  *hive = std::move(opened);
  return ERROR_SUCCESS;
}

LONG LocalHive::Prepare() {
  static_assert(std::size(kSql) == kSqlCount);
  for (int i = 0; i < kSqlCount; ++i) {
    const int rc = sqlite3_prepare_v3(m_db, kSql[i], -1, SQLITE_PREPARE_PERSISTENT, &m_statements[i], nullptr);
    // A statement that does not fit the tables means the file is not a hive.
    if (rc != SQLITE_OK) return rc == SQLITE_ERROR ? ERROR_BADDB : Error(rc);
  }
  return ERROR_SUCCESS;
}

sqlite3_stmt* LocalHive::Get(Sql sql) { return m_statements[sql]; }

LONG LocalHive::KeyExists(KeyId key) {
  Statement stmt(*this, kKeyWritten);
  const int rc = stmt.Bind(1, key).Step();
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return Error(rc);
}

LONG LocalHive::Find(KeyId parent, std::string_view name, KeyId* key) {
  const std::string fold = Fold(name);
  Statement stmt(*this, kFindKey);
  const int rc = stmt.Bind(1, parent).Bind(2, fold).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc == SQLITE_ROW) *key = stmt.Int(0);
  return Error(rc);
}

LONG LocalHive::Walk(KeyId parent, std::string_view path, KeyId* key) {
  std::vector<std::string_view> parts;
  if (const LONG error = SplitPath(path, &parts); error != ERROR_SUCCESS) return error;
  if (const LONG error = KeyExists(parent); error != ERROR_SUCCESS) return error;
  KeyId current = parent;
  for (const auto part : parts)
    if (const LONG error = Find(current, part, &current); error != ERROR_SUCCESS) return error;
  *key = current;
  return ERROR_SUCCESS;
}

LONG LocalHive::Touch(KeyId key) { return Statement(*this, kTouchKey).Bind(1, key).Bind(2, Now()).Run(); }

LONG LocalHive::OpenKey(KeyId parent, std::string_view path, KeyId* key) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, false);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = Walk(parent, path, key); error != ERROR_SUCCESS) return error;
  return txn.Commit();
}

LONG LocalHive::CreateKey(KeyId parent, std::string_view path, KeyId* key, bool* created) {
  std::vector<std::string_view> parts;
  if (const LONG error = SplitPath(path, &parts); error != ERROR_SUCCESS) return error;
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, true);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(parent); error != ERROR_SUCCESS) return error;
  KeyId current = parent;
  bool isNew = false;
  for (const auto part : parts) {
    KeyId next = 0;
    LONG error = Find(current, part, &next);
    isNew = error == ERROR_FILE_NOT_FOUND;
    if (isNew) {
      const std::string fold = Fold(part);
      error = Statement(*this, kInsertKey).Bind(1, current).Bind(2, part).Bind(3, fold).Bind(4, Now()).Run();
      next = sqlite3_last_insert_rowid(m_db);
      if (error == ERROR_SUCCESS) error = Touch(current);
    }
    if (error != ERROR_SUCCESS) return error;
    current = next;
  }
  if (const LONG error = txn.Commit(); error != ERROR_SUCCESS) return error;
  *key = current;
  if (created) *created = isNew;
  return ERROR_SUCCESS;
}

LONG LocalHive::DeleteKey(KeyId parent, std::string_view path) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, true);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  KeyId key = 0;
  if (const LONG error = Walk(parent, path, &key); error != ERROR_SUCCESS) return error;
  if (key == kRootKey) return ERROR_ACCESS_DENIED;
  {
    Statement children(*this, kHasSubKeys);
    const int rc = children.Bind(1, key).Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE) return Error(rc);
  }
  KeyId owner = 0;
  {
    Statement stmt(*this, kParentOf);
    const int rc = stmt.Bind(1, key).Step();
    if (rc != SQLITE_ROW) return Error(rc);
    owner = stmt.Int(0);
  }
  LONG error = Statement(*this, kDeleteKeyValues).Bind(1, key).Run();
  if (error == ERROR_SUCCESS) error = Statement(*this, kDeleteKeyRow).Bind(1, key).Run();
  if (error == ERROR_SUCCESS) error = Touch(owner);
  if (error != ERROR_SUCCESS) return error;
  return txn.Commit();
}

LocalHive::Cursor* LocalHive::FindCursor(KeyId key, bool values, DWORD index) {
  // An enumeration asks for the index after the one it had last, or (a
  // buffer was too small) the same one again. Index 0 starts a pass afresh.
  if (index == 0) return nullptr;
  for (auto& cursor : m_cursors)
    if (cursor.key == key && cursor.values == values && (cursor.index + 1 == index || cursor.index == index))
      return &cursor;
  return nullptr;
}

void LocalHive::KeepCursor(const Cursor& cursor, Cursor* found) {
  if (!found)
    for (auto& other : m_cursors)
      if (other.key == cursor.key && other.values == cursor.values && other.index == cursor.index) found = &other;
  if (found) {
    *found = cursor;
    return;
  }
  if (m_cursors.size() >= kMaxCursors) m_cursors.erase(m_cursors.begin());
  m_cursors.push_back(cursor);
}

void LocalHive::DropCursor(Cursor* found) {
  if (found) m_cursors.erase(m_cursors.begin() + (found - m_cursors.data()));
}

LONG LocalHive::EnumKey(KeyId key, DWORD index, std::string* name, std::uint64_t* lastWriteTime) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, false);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(key); error != ERROR_SUCCESS) return error;
  Cursor* cursor = FindCursor(key, false, index);
  {
    // Continuing after the name given last costs one step of the index on
    // (parent, fold); only a jump counts its way from the first subkey.
    // Keys added or removed meanwhile are seen or not by where their names
    // sort, never twice in one pass: names only ever grow.
    const bool again = cursor && cursor->index == index;
    Statement stmt(*this, !cursor ? kEnumKey : again ? kEnumKeyFrom : kEnumKeyAfter);
    stmt.Bind(1, key);
    if (cursor) {
      stmt.Bind(2, cursor->fold);
    } else {
      stmt.Bind(2, std::int64_t{index});
    }
    const int rc = stmt.Step();
    if (rc == SQLITE_DONE) {
      DropCursor(cursor);
      return ERROR_NO_MORE_ITEMS;
    }
    if (rc != SQLITE_ROW) return Error(rc);
    *name = stmt.Text(0);
    if (lastWriteTime) *lastWriteTime = static_cast<std::uint64_t>(stmt.Int(1));
    KeepCursor(Cursor{key, false, index, stmt.Text(2), 0}, cursor);
  }
  return txn.Commit();
}

LONG LocalHive::EnumValue(KeyId key, DWORD index, RegValue* value) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, false);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(key); error != ERROR_SUCCESS) return error;
  Cursor* cursor = FindCursor(key, true, index);
  {
    // As for subkeys, by the order values were first written (seq).
    Statement stmt(*this, cursor ? kEnumValueAfter : kEnumValue);
    stmt.Bind(1, key);
    if (cursor) {
      stmt.Bind(2, cursor->index == index ? cursor->seq - 1 : cursor->seq);
    } else {
      stmt.Bind(2, std::int64_t{index});
    }
    const int rc = stmt.Step();
    if (rc == SQLITE_DONE) {
      DropCursor(cursor);
      return ERROR_NO_MORE_ITEMS;
    }
    if (rc != SQLITE_ROW) return Error(rc);
    *value = RegValue{stmt.Text(0), static_cast<DWORD>(stmt.Int(1)), stmt.Blob(2)};
    KeepCursor(Cursor{key, true, index, {}, stmt.Int(3)}, cursor);
  }
  return txn.Commit();
}

LONG LocalHive::QueryValue(KeyId key, std::string_view name, RegValue* value) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, false);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(key); error != ERROR_SUCCESS) return error;
  {
    Statement stmt(*this, kQueryValue);
    const int rc = stmt.Bind(1, key).Bind(2, name).Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return Error(rc);
    *value = RegValue{stmt.Text(0), static_cast<DWORD>(stmt.Int(1)), stmt.Blob(2)};
  }
  return txn.Commit();
}

LONG LocalHive::SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  if (name.size() > kMaxValueNameLength || (!data && size)) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, true);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(key); error != ERROR_SUCCESS) return error;
  LONG error =
      Statement(*this, kSetValue).Bind(1, key).Bind(2, name).Bind(3, std::int64_t{type}).BindBlob(4, data, size).Run();
  if (error == ERROR_SUCCESS) error = Touch(key);
  if (error != ERROR_SUCCESS) return error;
  return txn.Commit();
}

LONG LocalHive::DeleteValue(KeyId key, std::string_view name) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, true);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  if (const LONG error = KeyExists(key); error != ERROR_SUCCESS) return error;
  LONG error = Statement(*this, kDeleteValueRow).Bind(1, key).Bind(2, name).Run();
  if (error == ERROR_SUCCESS && sqlite3_changes(m_db) == 0) return ERROR_FILE_NOT_FOUND;
  if (error == ERROR_SUCCESS) error = Touch(key);
  if (error != ERROR_SUCCESS) return error;
  return txn.Commit();
}

LONG LocalHive::QueryInfo(KeyId key, RegKeyInfo* info) {
  std::lock_guard lock(m_mutex);
  Transaction txn(*this, false);
  if (txn.status() != ERROR_SUCCESS) return txn.status();
  RegKeyInfo result;
  {
    Statement stmt(*this, kKeyWritten);
    const int rc = stmt.Bind(1, key).Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return Error(rc);
    result.lastWriteTime = static_cast<std::uint64_t>(stmt.Int(0));
  }
  {
    Statement stmt(*this, kSubKeyInfo);
    if (const int rc = stmt.Bind(1, key).Step(); rc != SQLITE_ROW) return Error(rc);
    result.subKeys = static_cast<DWORD>(stmt.Int(0));
    result.maxSubKeyLen = static_cast<DWORD>(stmt.Int(1));
  }
  {
    Statement stmt(*this, kValueInfo);
    if (const int rc = stmt.Bind(1, key).Step(); rc != SQLITE_ROW) return Error(rc);
    result.values = static_cast<DWORD>(stmt.Int(0));
    result.maxValueNameLen = static_cast<DWORD>(stmt.Int(1));
    result.maxValueLen = static_cast<DWORD>(stmt.Int(2));
  }
  if (const LONG error = txn.Commit(); error != ERROR_SUCCESS) return error;
  *info = result;
  return ERROR_SUCCESS;
}

LONG LocalHive::CheckIntegrity() {
  std::lock_guard lock(m_mutex);
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(m_db, "PRAGMA integrity_check", -1, &stmt, nullptr);
  bool ok = false;
  if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
    ok = std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok") == 0;
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW) return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB ? ERROR_REGISTRY_CORRUPT : Error(rc);
  return ok ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

std::shared_ptr<RegistryHive> OpenLocalHive(const std::string& home, LONG* error) {
  static std::mutex mutex;
  static std::map<std::filesystem::path, std::weak_ptr<LocalHive>> hives;

  // One hive per folder, however the caller spelled it.
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::weakly_canonical(home, ec);
  if (ec) folder = home;

  std::lock_guard lock(mutex);
  if (auto hive = hives[folder].lock()) {
    if (error) *error = ERROR_SUCCESS;
    return hive;
  }
  std::shared_ptr<LocalHive> hive;
  const LONG rc = LocalHive::Open(folder / "registry.db", &hive);
  if (error) *error = rc;
  std::erase_if(hives, [](const auto& entry) { return entry.second.expired(); });
  if (rc != ERROR_SUCCESS) return nullptr;
  hives[folder] = hive;
  return hive;
}

}  // namespace vn
