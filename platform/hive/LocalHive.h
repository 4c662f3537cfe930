#pragma once
// The hive of a machine on this computer: one SQLite database,
// <home>/registry.db, shared by every process that runs on that machine (the
// console, the machine service, the reporting server).
//
// Layout (PRAGMA user_version 1):
//   keys(id, parent, name, fold, written)  one row per key; id 1 is the root
//       (HKEY_LOCAL_MACHINE) with no parent and an empty name. `fold` is the
//       name in ASCII upper case: it makes names unique without case under one
//       parent and gives the enumeration order. `written` is the last write
//       time as a FILETIME (100 ns ticks since 1601). Ids come from
//       AUTOINCREMENT and are never reused.
//   vals(seq, key, name, type, data)  one row per value; names are unique per
//       key without case (COLLATE NOCASE), `seq` keeps the order in which the
//       values were first written, `data` is exactly the bytes written.
// Names are compared byte for byte apart from ASCII letter case.
//
// Every change is one IMMEDIATE transaction; reads run in one read transaction
// each, so a call sees one consistent state of the hive. Other processes see a
// change as soon as the call that made it returns. Writers of all processes
// take turns (two open-file-description locks on <hive>-lock, a gate and a
// turn) before they begin, so one writing in a tight loop does not starve the
// others.
//
// Enumeration by index continues where the last call for the same key
// stopped (a cursor per key and position, up to 64 in the hive), so a pass
// over n subkeys or values costs n steps, not n * n / 2. Between calls the
// hive may change: a pass then sees each name that stayed once, in order, and
// names added or removed meanwhile or not, by where they sort; it never
// repeats a name nor loops. An index that does not follow the last one is
// counted from the first entry, as before.
//
// Threads: any. One connection per hive, guarded by a mutex.
// Failures: ERROR_CANTOPEN when the file cannot be opened or created,
// ERROR_BADDB when it is not a hive (or is damaged), ERROR_REGISTRY_IO_FAILED
// when reading or writing fails or another process holds the hive locked for
// longer than the busy timeout.

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/UniqueFd.h"

#include "platform/hive/RegistryHive.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vn {

class LocalHive final : public RegistryHive {
 public:
  // Opens (creating when missing) the hive in `file`. A hive of its own, not
  // shared with OpenLocalHive's; on failure *hive is left null.
  [[nodiscard]] static LONG Open(const std::filesystem::path& file, std::shared_ptr<LocalHive>* hive);

  ~LocalHive() override;
  LocalHive(const LocalHive&) = delete;
  LocalHive& operator=(const LocalHive&) = delete;

  [[nodiscard]] LONG OpenKey(KeyId parent, std::string_view path, KeyId* key) override;
  [[nodiscard]] LONG CreateKey(KeyId parent, std::string_view path, KeyId* key, bool* created) override;
  [[nodiscard]] LONG DeleteKey(KeyId parent, std::string_view path) override;
  [[nodiscard]] LONG EnumKey(KeyId key, DWORD index, std::string* name, std::uint64_t* lastWriteTime) override;
  [[nodiscard]] LONG EnumValue(KeyId key, DWORD index, RegValue* value) override;
  [[nodiscard]] LONG QueryValue(KeyId key, std::string_view name, RegValue* value) override;
  [[nodiscard]] LONG SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, DWORD size) override;
  [[nodiscard]] LONG DeleteValue(KeyId key, std::string_view name) override;
  [[nodiscard]] LONG QueryInfo(KeyId key, RegKeyInfo* info) override;

  // SQLite's own check of the whole file (PRAGMA integrity_check);
  // ERROR_REGISTRY_CORRUPT when it finds damage.
  [[nodiscard]] LONG CheckIntegrity();

 private:
  enum Sql : int;
  class Transaction;
  class Statement;
  class WriterTurn;

  // Where an enumeration of a key's subkeys (by fold) or values (by seq)
  // stopped: the index it gave last and the row there.
  struct Cursor {
    KeyId key = 0;
    bool values = false;
    DWORD index = 0;
    std::string fold;
    std::int64_t seq = 0;
  };
  Cursor* FindCursor(KeyId key, bool values, DWORD index);
  void KeepCursor(const Cursor& cursor, Cursor* found);
  void DropCursor(Cursor* found);

  explicit LocalHive(sqlite3* db);
  [[nodiscard]] LONG Prepare();
  sqlite3_stmt* Get(Sql sql);
  [[nodiscard]] LONG KeyExists(KeyId key);
  [[nodiscard]] LONG Find(KeyId parent, std::string_view name, KeyId* key);
  [[nodiscard]] LONG Walk(KeyId parent, std::string_view path, KeyId* key);
  [[nodiscard]] LONG Touch(KeyId key);

  std::mutex m_mutex;
  sqlite3* m_db;
  std::unique_ptr<sqlite3_stmt*[]> m_statements;
  std::vector<Cursor> m_cursors;   // under m_mutex
  UniqueFd m_writers;              // <hive>-lock, where writers of all processes queue
  std::chrono::steady_clock::time_point m_busySince;   // the busy handler's, under m_mutex
};

}  // namespace vn
