#include "console/core/history/HistoryStore.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <map>

namespace vn::console {

namespace {

constexpr std::array<std::string_view, 4> kKindNames{"directory", "owner", "group", "type"};

// The same tables on both databases; only the scan number's type differs.
std::string Schema(SqlDatabase::Kind kind) {
  const std::string id = kind == SqlDatabase::Kind::Sqlite ? "INTEGER PRIMARY KEY" : "BIGSERIAL PRIMARY KEY";
  return "CREATE TABLE IF NOT EXISTS history_scans (scan_id " + id +
         ", started TEXT NOT NULL, origin TEXT NOT NULL, report TEXT NOT NULL);"
         "CREATE TABLE IF NOT EXISTS history_machines (scan_id BIGINT NOT NULL, machine TEXT NOT NULL,"
         " objects TEXT NOT NULL, PRIMARY KEY (scan_id, machine));"
         "CREATE TABLE IF NOT EXISTS history_measures (scan_id BIGINT NOT NULL, machine TEXT NOT NULL,"
         " kind TEXT NOT NULL, name TEXT NOT NULL, level BIGINT NOT NULL, files BIGINT NOT NULL,"
         " bytes BIGINT NOT NULL, allocated BIGINT NOT NULL);"
         "CREATE INDEX IF NOT EXISTS history_measures_scan ON history_measures (scan_id, machine, kind)";
}

MeasureKind KindFromName(std::string_view name) {
  for (std::size_t i = 0; i < kKindNames.size(); ++i)
    if (kKindNames[i] == name) return static_cast<MeasureKind>(i);
  return MeasureKind::Directory;
}

SqlError Named(SqlError error, const std::string& location) {
  if (error) error.message = "The scan history " + location + ": " + error.message;
  return error;
}

}  // namespace

std::string_view MeasureKindName(MeasureKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

SqlError CHistoryStore::Open(const std::string& location) {
  m_location = location;
  m_db.reset();
  std::unique_ptr<SqlDatabase> db;
  if (SqlError error = OpenSqlDatabase(location, &db)) return Named(std::move(error), location);
  if (SqlError error = db->ExecuteScript(Schema(db->DatabaseKind()))) return Named(std::move(error), location);
  m_db = std::move(db);
  return {};
}

SqlError CHistoryStore::Record(HistoryScan& scan) {
  if (!m_db) return {ERROR_INVALID_HANDLE, "The scan history is not open."};
  if (SqlError error = m_db->Begin()) return Named(std::move(error), m_location);
  const auto fail = [&](SqlError error) {
    m_db->Rollback();
    return Named(std::move(error), m_location);
  };
  std::vector<SqlRow> rows;
  const SqlValue scanValues[] = {scan.started, scan.origin, scan.report};
  if (SqlError error = m_db->Execute("INSERT INTO history_scans (started, origin, report) VALUES (?, ?, ?) RETURNING scan_id",
                                     scanValues, &rows))
    return fail(std::move(error));
  if (rows.empty() || rows[0].empty()) return fail({ERROR_INVALID_DATA, "no scan number came back"});
  const long long id = SqlInteger(rows[0][0]);
  for (const HistoryMachine& machine : scan.machines) {
    const SqlValue machineValues[] = {id, machine.machine, machine.objects};
    if (SqlError error = m_db->Execute("INSERT INTO history_machines (scan_id, machine, objects) VALUES (?, ?, ?)",
                                       machineValues))
      return fail(std::move(error));
    for (const HistoryMeasure& measure : machine.measures) {
      const SqlValue values[] = {id,          machine.machine,     std::string(MeasureKindName(measure.kind)),
                                 measure.name, measure.level,      measure.files,
                                 measure.bytes, measure.allocated};
      if (SqlError error = m_db->Execute(
              "INSERT INTO history_measures (scan_id, machine, kind, name, level, files, bytes, allocated)"
              " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
              values))
        return fail(std::move(error));
    }
  }
  if (SqlError error = m_db->Commit()) return fail(std::move(error));
  scan.id = id;
  return {};
}

SqlError CHistoryStore::ListScans(std::vector<HistoryScan>* scans) {
  scans->clear();
  if (!m_db) return {ERROR_INVALID_HANDLE, "The scan history is not open."};
  std::vector<SqlRow> rows;
  if (SqlError error = m_db->Execute("SELECT scan_id, started, origin, report FROM history_scans ORDER BY scan_id", {},
                                     &rows))
    return Named(std::move(error), m_location);
  for (const SqlRow& row : rows)
    scans->push_back({SqlInteger(row[0]), SqlText(row[1]), SqlText(row[2]), SqlText(row[3]), {}});
  return {};
}

SqlError CHistoryStore::LoadScan(long long id, HistoryScan* scan) {
  *scan = {};
  if (!m_db) return {ERROR_INVALID_HANDLE, "The scan history is not open."};
  std::vector<SqlRow> rows;
  const SqlValue key[] = {id};
  if (SqlError error =
          m_db->Execute("SELECT scan_id, started, origin, report FROM history_scans WHERE scan_id = ?", key, &rows))
    return Named(std::move(error), m_location);
  if (rows.empty())
    return {ERROR_INVALID_PARAMETER, "The scan history " + m_location + " holds no scan " + std::to_string(id) + "."};
  *scan = {SqlInteger(rows[0][0]), SqlText(rows[0][1]), SqlText(rows[0][2]), SqlText(rows[0][3]), {}};
  rows.clear();
  if (SqlError error = m_db->Execute(
          "SELECT machine, objects FROM history_machines WHERE scan_id = ?", key, &rows))
    return Named(std::move(error), m_location);
  // Sorted here, byte by byte: the two databases' collations differ.
  std::sort(rows.begin(), rows.end(), [](const SqlRow& a, const SqlRow& b) { return SqlText(a[0]) < SqlText(b[0]); });
  std::map<std::string, std::size_t> index;
  for (const SqlRow& row : rows) {
    index[SqlText(row[0])] = scan->machines.size();
    scan->machines.push_back({SqlText(row[0]), SqlText(row[1]), {}});
  }
  rows.clear();
  if (SqlError error = m_db->Execute(
          "SELECT machine, kind, name, level, files, bytes, allocated FROM history_measures WHERE scan_id = ?",
          key, &rows))
    return Named(std::move(error), m_location);
  for (const SqlRow& row : rows) {
    const auto found = index.find(SqlText(row[0]));
    if (found == index.end()) continue;
    scan->machines[found->second].measures.push_back({KindFromName(SqlText(row[1])), SqlText(row[2]),
                                                       SqlInteger(row[3]), SqlInteger(row[4]), SqlInteger(row[5]),
                                                       SqlInteger(row[6])});
  }
  for (HistoryMachine& machine : scan->machines)
    std::sort(machine.measures.begin(), machine.measures.end(), [](const HistoryMeasure& a, const HistoryMeasure& b) {
      return std::tie(a.kind, a.name) < std::tie(b.kind, b.name);
    });
  return {};
}

}  // namespace vn::console
