#include "console/core/reports/CustomReportDesign.h"

#include <algorithm>

#include "console/core/reports/ReportSetStore.h"

namespace vn::console {
namespace {

constexpr int kFields = 60;
// The query edits hand the library at most this many characters.
constexpr std::size_t kQueryEditLength = 99;

bool HasField(const std::vector<DesignRow>& rows, int field) {
  return std::any_of(rows.begin(), rows.end(), [field](const DesignRow& r) { return r.field == field; });
}

}  // namespace

int FieldIndexFromName(const ReportGeneratorDll& definition, std::string_view name) {
  for (int i = 0; i < kFields; ++i) {
    std::string n;
    DWORD type = 0;
    BYTE d = 0, s = 0, q = 0;
    if (definition.GetFieldName(i, n, type, d, s, q) == 0 && n == name) return i;
  }
  return -1;
}

DWORD DefaultTotalAction(const ReportGeneratorDll& definition, int field) {
  std::string n;
  DWORD type = 0;
  BYTE d = 0, s = 0, q = 0;
  if (definition.GetFieldName(field, n, type, d, s, q) != 0) return 0;
  if (type == 2 || type == 3 || type == 6 || type == 9) return 4;
  if (type == 7 || type == 8) return 3;
  return 0;
}

std::string FieldName(const ReportGeneratorDll& definition, int field) {
  std::string n;
  DWORD type = 0;
  BYTE d = 0, s = 0, q = 0;
  return definition.GetFieldName(field, n, type, d, s, q) == 0 ? n : std::string();
}

const char* ActionName(DWORD action) {
  static const char* const kNames[] = {"Sum", "Max", "Min", "Average", "Store"};
  return action < 5 ? kNames[action] : "Sum";
}

const char* OrderName(DWORD order) { return order == 1 ? "Descending" : "Ascending"; }

CCustomReportDesign::CCustomReportDesign(std::string machine, std::string reportName)
    : m_machine(std::move(machine)), m_name(std::move(reportName)), m_isNew(m_name.empty()) {
  m_options.Report = kReportCustom;
}

LONG CCustomReportDesign::Load() {
  if (m_isNew) return 0;
  const LONG rc = m_definition.LoadReportDefinition(m_machine, m_name);
  (void)LoadCustomReportOptions(m_machine, m_name, m_options);  // missing values keep the defaults
  m_options.Report = kReportCustom;
  return rc;
}

void CCustomReportDesign::MakePages() {
  for (auto& rows : m_rows) rows.clear();
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetDetailField(i, r.field) != 0) break;
    RowsOf(DesignPage::Detail).push_back(r);
  }
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetSortField(i, r.field, r.order) != 0) break;
    RowsOf(DesignPage::Sort).push_back(r);
  }
  ReadBreaks();
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetFinalTotalField(i, r.field, r.action) != 0) break;
    RowsOf(DesignPage::FinalTotal).push_back(r);
  }
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetSummarySortField(i, r.field, r.order) != 0) break;
    RowsOf(DesignPage::SummarySort).push_back(r);
  }
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetSummaryTotalField(i, r.field, r.action, r.reset) != 0) break;
    RowsOf(DesignPage::SummaryTotal).push_back(r);
  }
  int summarized = -1;
  m_summarizedChoice = -1;
  if (m_definition.GetSummarySortField(summarized) == 0) {
    const auto& keys = Rows(DesignPage::SummarySort);
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i].field == summarized) m_summarizedChoice = static_cast<int>(i);
  }
}

void CCustomReportDesign::ReadBreaks() {
  auto& rows = RowsOf(DesignPage::ReportBreak);
  rows.clear();
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetSummaryBreakField(i, r.field) != 0) break;
    rows.push_back(r);
  }
}

void CCustomReportDesign::SetName(std::string name) {
  if (!m_isNew) return;
  m_name = std::move(name);
  m_nameChanged = true;
}

std::vector<int> CCustomReportDesign::SourceFields(DesignPage page) const {
  std::vector<int> fields;
  if (page == DesignPage::ReportBreak) {
    for (int i = 0;; ++i) {
      int field = 0;
      DWORD order = 0;
      if (m_definition.GetSortField(i, field, order) != 0) break;
      fields.push_back(field);
    }
    return fields;
  }
  for (int i = 0; i < kFields; ++i) {
    std::string n;
    DWORD type = 0;
    BYTE detail = 0, summary = 0, query = 0;
    if (m_definition.GetFieldName(i, n, type, detail, summary, query) != 0) continue;
    if ((page == DesignPage::Detail && !detail) || (page == DesignPage::SummaryTotal && !summary)) continue;
    fields.push_back(i);
  }
  return fields;
}

std::vector<std::string> CCustomReportDesign::QueryFieldNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < kFields; ++i) {
    std::string n;
    DWORD type = 0;
    BYTE detail = 0, summary = 0, query = 0;
    if (m_definition.GetFieldName(i, n, type, detail, summary, query) == 0 && query) names.push_back(n);
  }
  return names;
}

std::vector<std::string> CCustomReportDesign::Relations() { return {">", ">=", "<", "<=", "=", "<>"}; }
std::vector<std::string> CCustomReportDesign::LogicalOperators() { return {"NOT", "AND", "OR"}; }

const std::vector<DesignRow>& CCustomReportDesign::Rows(DesignPage page) const { return m_rows[Index(page)]; }

bool CCustomReportDesign::AddFields(DesignPage page, const std::vector<int>& fields) {
  auto& rows = RowsOf(page);
  bool added = false;
  for (int field : fields) {
    if (HasField(rows, field)) continue;
    DesignRow r;
    r.field = field;
    if (page == DesignPage::FinalTotal || page == DesignPage::SummaryTotal)
      r.action = DefaultTotalAction(m_definition, field);
    rows.push_back(r);
    added = true;
    if (page == DesignPage::ReportBreak)
      (void)m_definition.PutSummaryBreakField(static_cast<int>(rows.size() - 1), field);  // written at once
  }
  return added;
}

void CCustomReportDesign::RemoveRows(DesignPage page, std::vector<int> positions) {
  auto& rows = RowsOf(page);
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
    const int at = *it;
    if (at < 0 || static_cast<std::size_t>(at) >= rows.size()) continue;
    rows.erase(rows.begin() + at);
    // A break goes at once, and so does the break of a removed sort key.
    if (page == DesignPage::ReportBreak || page == DesignPage::Sort) (void)m_definition.DeleteSummaryBreakField(at);
  }
  if (page == DesignPage::Sort) ReadBreaks();
}

void CCustomReportDesign::MoveRow(DesignPage page, int from, int to) {
  // Breaks follow their sort keys' positions: they are not dragged.
  if (page == DesignPage::ReportBreak) return;
  auto& rows = RowsOf(page);
  const int n = static_cast<int>(rows.size());
  if (from < 0 || from >= n || to < 0 || from == to) return;
  to = std::min(to, n - 1);
  const DesignRow moved = rows[static_cast<std::size_t>(from)];
  rows.erase(rows.begin() + from);
  rows.insert(rows.begin() + to, moved);
}

void CCustomReportDesign::SetOrder(DesignPage page, int row, DWORD order) {
  auto& rows = RowsOf(page);
  if (row >= 0 && static_cast<std::size_t>(row) < rows.size() && order <= 1) rows[static_cast<std::size_t>(row)].order = order;
}

void CCustomReportDesign::SetAction(DesignPage page, int row, DWORD action) {
  auto& rows = RowsOf(page);
  if (row >= 0 && static_cast<std::size_t>(row) < rows.size() && action <= 4)
    rows[static_cast<std::size_t>(row)].action = action;
}

void CCustomReportDesign::SetReset(DesignPage page, int row, std::string_view fieldName) {
  auto& rows = RowsOf(page);
  const int field = FieldIndexFromName(m_definition, fieldName);
  if (row >= 0 && static_cast<std::size_t>(row) < rows.size() && field >= 0)
    rows[static_cast<std::size_t>(row)].reset = field;
}

std::vector<std::string> CCustomReportDesign::ResetChoices(DesignPage page) const {
  std::vector<std::string> names;
  if (page == DesignPage::SummaryTotal) {
    for (const DesignRow& r : Rows(DesignPage::SummarySort)) names.push_back(FieldName(m_definition, r.field));
  } else {
    for (int field : SourceFields(DesignPage::ReportBreak)) names.push_back(FieldName(m_definition, field));
  }
  return names;
}

std::vector<std::string> CCustomReportDesign::RowTexts(DesignPage page, int row) const {
  const DesignRow& r = Rows(page)[static_cast<std::size_t>(row)];
  std::vector<std::string> texts{FieldName(m_definition, r.field)};
  if (page == DesignPage::Sort || page == DesignPage::SummarySort) texts.emplace_back(OrderName(r.order));
  if (page == DesignPage::FinalTotal || page == DesignPage::SummaryTotal) texts.emplace_back(ActionName(r.action));
  if (page == DesignPage::SummaryTotal) texts.push_back(r.reset >= 0 ? FieldName(m_definition, r.reset) : "");
  return texts;
}

void CCustomReportDesign::WriteSortRows(bool summary) {
  const auto& rows = Rows(summary ? DesignPage::SummarySort : DesignPage::Sort);
  if (summary) {
    (void)m_definition.ClearAllSummarySortFields();
  } else {
    (void)m_definition.ClearAllSortFields();
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (summary) {
      (void)m_definition.PutSummarySortField(static_cast<int>(i), rows[i].field, rows[i].order);
    } else {
      (void)m_definition.PutSortField(static_cast<int>(i), rows[i].field, rows[i].order);
    }
  }
}

void CCustomReportDesign::LeavePage(DesignPage page) {
  if (page == DesignPage::Sort) WriteSortRows(false);
  if (page == DesignPage::SummarySort) WriteSortRows(true);
}

void CCustomReportDesign::EnterPage(DesignPage page) {
  if (page == DesignPage::ReportBreak) ReadBreaks();
  if (page == DesignPage::SummaryTotal) {
    // The combo follows the summary sort keys; its choice stays on the
    // same field where that field is still a key.
    int summarized = -1;
    if (m_summarizedChoice < 0 && m_definition.GetSummarySortField(summarized) == 0) {
      const auto& keys = Rows(DesignPage::SummarySort);
      for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i].field == summarized) m_summarizedChoice = static_cast<int>(i);
    }
    if (m_summarizedChoice >= static_cast<int>(Rows(DesignPage::SummarySort).size())) m_summarizedChoice = -1;
  }
}

std::vector<DesignRow> CCustomReportDesign::BreakTotals(int position) const {
  std::vector<DesignRow> totals;
  for (int i = 0;; ++i) {
    DesignRow r;
    if (m_definition.GetTotalField(position, i, r.field, r.action, r.reset) != 0) break;
    totals.push_back(r);
  }
  return totals;
}

DesignRow CCustomReportDesign::NewBreakTotal(int field) const {
  DesignRow r;
  r.field = field;
  r.action = DefaultTotalAction(m_definition, field);
  int major = -1;
  DWORD order = 0;
  if (m_definition.GetSortField(0, major, order) == 0) r.reset = major;
  return r;
}

void CCustomReportDesign::SetBreakTotals(int position, const std::vector<DesignRow>& totals) {
  int field = 0;
  if (m_definition.GetSummaryBreakField(position, field) != 0) return;
  (void)m_definition.DeleteSummaryBreakField(position);
  (void)m_definition.PutSummaryBreakField(position, field);
  for (std::size_t i = 0; i < totals.size(); ++i)
    (void)m_definition.PutTotalField(position, static_cast<int>(i), totals[i].field, totals[i].action, totals[i].reset);
}

std::vector<std::string> CCustomReportDesign::SummarizedChoices() const { return ResetChoices(DesignPage::SummaryTotal); }

std::string CCustomReportDesign::QueryText(bool summary) const {
  std::string text;
  const DWORD rc = summary ? m_definition.GetSummaryQuery(text) : m_definition.GetQuery(text);
  return rc == 0 ? text : std::string();
}

CCustomReportDesign::Verified CCustomReportDesign::Verify(bool summary, std::string_view text) {
  const std::string_view put = text.substr(0, std::min(text.size(), kQueryEditLength));
  DWORD position = 0;
  DWORD rc = 0;
  if (summary) {
    (void)m_definition.PutSummaryQuery(put);
    rc = m_definition.ValidateSummaryQuery(position);
  } else {
    (void)m_definition.PutQuery(put);
    rc = m_definition.ValidateQuery(position);
  }
  Verified v;
  if (rc == 0) {
    v.status = "Correct";
    return v;
  }
  const char* error = m_definition.ErrorText();
  v.status = error ? error : "Syntax Error";
  v.selectError = error != nullptr;
  v.selectionStart = static_cast<int>(position);
  return v;
}

void CCustomReportDesign::Store(std::string_view query, std::string_view summaryQuery) {
  (void)m_definition.ClearAllDetailFields();
  const auto& detail = Rows(DesignPage::Detail);
  for (std::size_t i = 0; i < detail.size(); ++i) (void)m_definition.PutDetailField(static_cast<int>(i), detail[i].field);
  WriteSortRows(false);
  (void)m_definition.ClearAllFinalTotalFields();
  const auto& finals = Rows(DesignPage::FinalTotal);
  for (std::size_t i = 0; i < finals.size(); ++i)
    (void)m_definition.PutFinalTotalField(static_cast<int>(i), finals[i].field, finals[i].action);
  WriteSortRows(true);
  (void)m_definition.ClearAllSummaryTotalFields();
  const auto& totals = Rows(DesignPage::SummaryTotal);
  for (std::size_t i = 0; i < totals.size(); ++i)
    (void)m_definition.PutSummaryTotalField(static_cast<int>(i), totals[i].field, totals[i].action, totals[i].reset);
  const auto& keys = Rows(DesignPage::SummarySort);
  if (m_summarizedChoice >= 0 && static_cast<std::size_t>(m_summarizedChoice) < keys.size())
    (void)m_definition.PutSummarySortField(keys[static_cast<std::size_t>(m_summarizedChoice)].field);
  (void)m_definition.PutQuery(query.substr(0, std::min(query.size(), kQueryEditLength)));
  (void)m_definition.PutSummaryQuery(summaryQuery.substr(0, std::min(summaryQuery.size(), kQueryEditLength)));
}

}  // namespace vn::console
