#pragma once
// The scan history: what the summary reports of every run measured, per
// scan (one report's merged result), machine and object, kept in a SQL
// database (platform/database/SqlDatabase.h) so that a later run can be
// compared with an earlier one (GrowthReport.h). docs/history.md has the
// schema and the settings.
//
// A scan holds, per machine, the objects the run named and the rows of one
// summary report: directories with their level below the object (Space By
// Directory, kept to a depth), owners (Space By User), groups (Group Usage
// Report) or file types (Detailed Summary), each with its files and bytes.
//
// CHistoryStore is one connection; its calls run on the caller's thread.
// Every failure is a SqlError whose message says what happened to which
// database; nothing half-written stays behind (a scan is one transaction).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database/SqlDatabase.h"

namespace vn::console {

enum class MeasureKind { Directory, Owner, Group, FileType };
std::string_view MeasureKindName(MeasureKind kind);

struct HistoryMeasure {
  MeasureKind kind = MeasureKind::Directory;
  std::string name;  // directory path as the result shows it, account name, or extension
  long long level = 0;
  long long files = 0;
  long long bytes = 0;
  long long allocated = 0;
};

struct HistoryMachine {
  std::string machine;
  std::string objects;
  std::vector<HistoryMeasure> measures;
};

struct HistoryScan {
  long long id = 0;      // given by the store
  std::string started;   // "YYYY-MM-DD HH:MM:SS", local time
  std::string origin;    // the program that ran it: "VNMgr", "VN"...
  std::string report;    // the report's title
  std::vector<HistoryMachine> machines;
};

class CHistoryStore {
 public:
  // Opens the database at `location` (a SQLite path or a PostgreSQL
  // connection string) and makes its tables when they are missing.
  [[nodiscard]] SqlError Open(const std::string& location);
  bool IsOpen() const { return m_db != nullptr; }
  SqlDatabase::Kind Kind() const { return m_db->DatabaseKind(); }

  // Records a scan whole and sets scan.id. Machines without measures are kept
  // (a machine that ran the report but measured nothing).
  [[nodiscard]] SqlError Record(HistoryScan& scan);

  // The scans, oldest first, without their machines.
  [[nodiscard]] SqlError ListScans(std::vector<HistoryScan>* scans);
  // One scan with its machines and measures; ERROR_NOT_FOUND-like
  // ERROR_INVALID_PARAMETER with a message when there is no such scan.
  [[nodiscard]] SqlError LoadScan(long long id, HistoryScan* scan);

 private:
  std::string m_location;
  std::unique_ptr<SqlDatabase> m_db;
};

}  // namespace vn::console
