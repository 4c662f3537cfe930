#include "console/core/history/HistoryRecorder.h"

#include <charconv>

namespace vn::console {

namespace {

struct Summary {
  std::string_view title;
  MeasureKind kind;
  std::string_view name, bytes;  // the columns' titles without their unit
};
constexpr Summary kSummaries[] = {
    {"Space By Directory", MeasureKind::Directory, "Directory", "Size"},
    {"Space By User", MeasureKind::Owner, "User Name", "Total Size"},
    {"Group Usage Report", MeasureKind::Group, "Group Name", "Used Space"},
    {"Detailed Summary", MeasureKind::FileType, "Category", "Size Used"},
};

// "Size (KB)" is "Size" in units of 1024 bytes.
std::string_view Unitless(std::string_view title, long long* unit) {
  *unit = 1;
  if (title.ends_with(" (KB)")) *unit = 1024;
  if (title.ends_with(" (MB)")) *unit = 1024 * 1024;
  if (*unit != 1) title.remove_suffix(5);
  if (title.ends_with(" (Bytes)")) title.remove_suffix(8);
  return title;
}

long long Number(const std::vector<std::string>& fields, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields.size()) return 0;
  long long value = 0;
  const std::string& text = fields[static_cast<std::size_t>(index)];
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

std::vector<std::string> SplitResultFields(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.push_back(std::move(field));
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(std::move(field));
  return fields;
}

void CHistoryRecorder::BeginMachine(const std::string& machine) {
  m_machines.push_back({machine, {}, {}});
  m_heading = false;
  m_columns = {};
}

void CHistoryRecorder::Feed(std::string_view line) {
  if (m_machines.empty() || line.size() < 4) return;
  const std::string_view kind = line.substr(0, 4);
  if (kind != "\"B1\"" && kind != "\"H1\"" && kind != "\"D1\"") return;
  const std::vector<std::string> fields = SplitResultFields(line);
  if (fields.size() < 2) return;
  HistoryMachine& machine = m_machines.back();
  if (kind == "\"B1\"") {
    if (!m_heading) {
      m_heading = true;
      if (m_report.empty()) {
        m_report = fields[1];
        for (const Summary& summary : kSummaries)
          if (summary.title == m_report) {
            m_summary = true;
            m_kind = summary.kind;
          }
      }
    } else if (fields[1].starts_with("Objects: ")) {
      machine.objects = fields[1].substr(9);
    }
    return;
  }
  if (!m_summary) return;
  const Summary* summary = nullptr;
  for (const Summary& candidate : kSummaries)
    if (candidate.kind == m_kind) summary = &candidate;
  if (kind == "\"H1\"") {
    for (std::size_t i = 1; i < fields.size(); ++i) {
      long long unit = 1;
      const std::string_view title = Unitless(fields[i], &unit);
      const int column = static_cast<int>(i);
      if (title == summary->name) m_columns.name = column;
      if (title == "Level") m_columns.level = column;
      if (title == "Files") m_columns.files = column;
      if (title == summary->bytes) {
        m_columns.bytes = column;
        m_columns.bytesUnit = unit;
      }
      if (title == "Allocated") {
        m_columns.allocated = column;
        m_columns.allocatedUnit = unit;
      }
    }
    return;
  }
  // A row.
  if (m_columns.name < 0 || static_cast<std::size_t>(m_columns.name) >= fields.size()) return;
  HistoryMeasure measure;
  measure.kind = m_kind;
  measure.name = fields[static_cast<std::size_t>(m_columns.name)];
  measure.level = Number(fields, m_columns.level);
  measure.files = Number(fields, m_columns.files);
  measure.bytes = Number(fields, m_columns.bytes) * m_columns.bytesUnit;
  measure.allocated = Number(fields, m_columns.allocated) * m_columns.allocatedUnit;
  // The file-type summary ends with the objects' whole use and free space,
  // which are no file types.
  if (m_kind == MeasureKind::FileType && (measure.name == "Used Space" || measure.name == "Free Space")) return;
  if (m_kind == MeasureKind::Directory && m_depth > 0 && measure.level > m_depth) return;
  machine.measures.push_back(std::move(measure));
}

bool CHistoryRecorder::Take(HistoryScan* scan) {
  const bool kept = m_summary && !m_machines.empty();
  if (kept) {
    scan->report = m_report;
    scan->machines = std::move(m_machines);
  }
  Clear();
  return kept;
}

void CHistoryRecorder::Clear() {
  m_report.clear();
  m_summary = false;
  m_machines.clear();
  m_heading = false;
  m_columns = {};
}

}  // namespace vn::console
