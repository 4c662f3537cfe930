#pragma once
// One custom report's definition: its detail columns, sort keys, breaks with
// their subtotals, final totals, the summary pass (its sort keys, summarized
// field and totals) and two queries, kept as ordered lists and edited by
// position. Every call answers a Win32 code, 0 for success; a Get past the
// end of a list answers ERROR_NO_MORE_ITEMS, which is where readers stop.
//
// Puts: position == the list's length appends, a smaller position replaces
// the entry there (for breaks: inserts a break without totals before it), a
// larger one fails. So after a Clear, Puts come in position order from 0,
// and deleting a break, putting it again at the same position and putting
// its totals from position 0 leaves exactly those totals. Fields must be in
// the catalogue (FieldCatalogue.h), orders 0 Ascending / 1 Descending,
// actions 0 Sum, 1 Max, 2 Min, 3 Average, 4 Store; a reset field is a field
// number or -1 (none). Each list holds at most kFieldSlots entries.
//
// Stored form: Encode() gives named text values (all under the name prefix
// "Def."), each short enough for one registry value that a copy of the
// custom report's key carries (at most 1000 characters); Decode() reads them
// back and names the first value that is damaged.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Win32Types.h"
#include "reportdef/FieldCatalogue.h"
#include "reportdef/Query.h"

namespace vn::reportdef {

enum TotalAction : DWORD { kSum = 0, kMax = 1, kMin = 2, kAverage = 3, kStore = 4 };
enum SortOrder : DWORD { kAscending = 0, kDescending = 1 };

struct SortKey {
  int field = 0;
  DWORD order = kAscending;
  bool operator==(const SortKey&) const = default;
};
struct Total {
  int field = 0;
  DWORD action = kSum;
  int reset = -1;
  bool operator==(const Total&) const = default;
};
struct Break {
  int field = 0;
  std::vector<Total> totals;
  bool operator==(const Break&) const = default;
};

struct NamedValue {
  std::string name;
  std::string text;
};

class ReportDefinition {
 public:
  ReportDefinition() = default;
  ReportDefinition(const ReportDefinition& other);
  ReportDefinition& operator=(const ReportDefinition& other);
  virtual ~ReportDefinition();

  [[nodiscard]] DWORD GetFieldName(int index, std::string& name, DWORD& type, BYTE& detail, BYTE& summary,
                                   BYTE& query) const;

  [[nodiscard]] DWORD GetDetailField(int position, int& field) const;
  DWORD PutDetailField(int position, int field);
  DWORD ClearAllDetailFields();

  [[nodiscard]] DWORD GetSortField(int position, int& field, DWORD& order) const;
  DWORD PutSortField(int position, int field, DWORD order);
  DWORD ClearAllSortFields();

  [[nodiscard]] DWORD GetSummaryBreakField(int position, int& field) const;
  DWORD PutSummaryBreakField(int position, int field);
  DWORD DeleteSummaryBreakField(int position);

  [[nodiscard]] DWORD GetTotalField(int breakPosition, int position, int& field, DWORD& action, int& reset) const;
  DWORD PutTotalField(int breakPosition, int position, int field, DWORD action, int reset);

  [[nodiscard]] DWORD GetFinalTotalField(int position, int& field, DWORD& action) const;
  DWORD PutFinalTotalField(int position, int field, DWORD action);
  DWORD ClearAllFinalTotalFields();

  [[nodiscard]] DWORD GetSummarySortField(int position, int& field, DWORD& order) const;
  DWORD PutSummarySortField(int position, int field, DWORD order);
  DWORD ClearAllSummarySortFields();
  // The summarized field: the field whose values make the summary's groups.
  [[nodiscard]] DWORD GetSummarySortField(int& field) const;
  DWORD PutSummarySortField(int field);

  [[nodiscard]] DWORD GetSummaryTotalField(int position, int& field, DWORD& action, int& reset) const;
  DWORD PutSummaryTotalField(int position, int field, DWORD action, int reset);
  DWORD ClearAllSummaryTotalFields();

  [[nodiscard]] DWORD GetQuery(std::string& text) const;
  DWORD PutQuery(std::string_view text);
  [[nodiscard]] DWORD GetSummaryQuery(std::string& text) const;
  DWORD PutSummaryQuery(std::string_view text);

  // Check the query last put. 0, or ERROR_INVALID_DATA with `position` (from
  // 0) and ErrorText() set; ErrorText() is null after a success.
  DWORD ValidateQuery(DWORD& position);
  DWORD ValidateSummaryQuery(DWORD& position);
  const char* ErrorText() const { return m_errorText ? m_errorText->c_str() : nullptr; }

  // The whole lists, for the report's evaluation.
  const std::vector<int>& DetailFields() const { return m_detail; }
  const std::vector<SortKey>& SortKeys() const { return m_sort; }
  const std::vector<Break>& Breaks() const { return m_breaks; }
  const std::vector<Total>& FinalTotals() const { return m_final; }
  const std::vector<SortKey>& SummarySortKeys() const { return m_summarySort; }
  int SummarizedField() const { return m_summarized; }
  const std::vector<Total>& SummaryTotals() const { return m_summaryTotals; }
  const std::string& QueryText() const { return m_query; }
  const std::string& SummaryQueryText() const { return m_summaryQuery; }
  // Every field the definition names anywhere (bit i = field i); fields of
  // queries that do not parse are not counted.
  std::uint64_t UsedFields() const;

  std::vector<NamedValue> Encode() const;
  // Replaces this definition by the stored one. False with `message` naming
  // the damaged value; the definition is then unchanged.
  bool Decode(const std::vector<NamedValue>& values, std::string& message);

  bool SameContent(const ReportDefinition& other) const;

 private:
  DWORD Validate(const std::string& text, DWORD& position);

  std::vector<int> m_detail;
  std::vector<SortKey> m_sort;
  std::vector<Break> m_breaks;
  std::vector<Total> m_final;
  std::vector<SortKey> m_summarySort;
  int m_summarized = -1;
  std::vector<Total> m_summaryTotals;
  std::string m_query;
  std::string m_summaryQuery;
  // After a failed validation: its text; null otherwise.
  std::unique_ptr<std::string> m_errorText;
};

// Name prefix of every stored value of a definition.
inline constexpr std::string_view kValuePrefix = "Def.";

}  // namespace vn::reportdef
