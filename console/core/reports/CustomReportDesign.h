#pragma once
// The custom report designer's rules without its widgets: the definition
// and options being edited, the rows of each page's target list, which
// fields each source list offers, the enabling rules of OK and of the
// Report Break and Summary Total tabs, the query pages' Verify, and the
// order in which OK stores the pages.
//
// Pages and what their rows are:
//   Detail        fields shown as columns            (source: detail fields)
//   Sort          sort keys with their order         (source: all fields)
//   Report Break  breaks, written to the definition at once on add and
//                 remove                             (source: the sort keys)
//   Final Total   totals of the whole report         (source: all fields)
//   Summary Sort  the summary pass's sort keys       (source: all fields)
//   Summary Total its totals with their reset field  (source: summary fields)
// A field already among a page's rows is not added again. A new sort row is
// Ascending; a new total row takes the field's default action
// (DefaultTotalAction). Removing sort rows removes the breaks at the same
// positions, so breaks stay aligned with their sort keys.
//
// The definition's Put and Clear results are not looked at (a list the
// pages build stays within the library's bounds); the first failing Get
// ends the reading of a list. User-interface thread only.

#include <string>
#include <string_view>
#include <vector>

#include "console/core/reports/ReportGeneratorDll.h"
#include "console/core/reports/ReportSet.h"

namespace vn::console {

enum class DesignPage { Detail, Sort, ReportBreak, FinalTotal, SummarySort, SummaryTotal };

struct DesignRow {
  int field = 0;
  DWORD order = 0;   // sort rows: 0 "Ascending", 1 "Descending"
  DWORD action = 0;  // total rows: 0 "Sum" .. 4 "Store"
  int reset = -1;    // total rows with a reset: the reset field, -1 none
};

// The first field number 0..59 whose name equals `name` exactly, or -1.
int FieldIndexFromName(const ReportGeneratorDll& definition, std::string_view name);
// Store (4) for types 2, 3, 6 and 9; Average (3) for 7 and 8; else, and for
// a number that is no field, Sum (0).
DWORD DefaultTotalAction(const ReportGeneratorDll& definition, int field);
// A field's name ("" for a number that is no field).
std::string FieldName(const ReportGeneratorDll& definition, int field);
const char* ActionName(DWORD action);  // "Sum", "Max", "Min", "Average", "Store"
const char* OrderName(DWORD order);    // "Ascending", "Descending"

class CCustomReportDesign {
 public:
  // An empty `reportName` makes a new report.
  CCustomReportDesign(std::string machine, std::string reportName);

  // For an existing report: loads the definition and the options. The
  // definition's code (0, a registry code, or ERROR_INVALID_DATA for a
  // damaged one with LoadMessage()); the options' failure is not reported.
  LONG Load();
  const std::string& LoadMessage() const { return m_definition.LoadMessage(); }
  // Fills every page's rows from the definition (after Load, or at once for
  // a new report).
  void MakePages();

  bool IsNew() const { return m_isNew; }
  const std::string& Machine() const { return m_machine; }
  const std::string& Name() const { return m_name; }
  // The name edit of a new report; OK waits for it to change.
  void SetName(std::string name);
  bool OkEnabled() const { return !m_isNew || m_nameChanged; }

  // Field numbers a page's source list offers, in field order.
  std::vector<int> SourceFields(DesignPage page) const;
  // The "Field Name:" combo of the query pages.
  std::vector<std::string> QueryFieldNames() const;
  static std::vector<std::string> Relations();
  static std::vector<std::string> LogicalOperators();

  const std::vector<DesignRow>& Rows(DesignPage page) const;
  // Appends the fields not yet among the rows; true when any was added.
  bool AddFields(DesignPage page, const std::vector<int>& fields);
  // Removes the rows at these positions (any order).
  void RemoveRows(DesignPage page, std::vector<int> positions);
  // Drag and drop: the row moves to `to`, keeping its data (not on the
  // Report Break page, whose rows stand at their sort keys' positions).
  void MoveRow(DesignPage page, int from, int to);
  bool RemoveEnabled(DesignPage page) const { return !Rows(page).empty(); }
  void SetOrder(DesignPage page, int row, DWORD order);
  void SetAction(DesignPage page, int row, DWORD action);
  // The reset combo's choice by name; an unknown name leaves the reset.
  void SetReset(DesignPage page, int row, std::string_view fieldName);
  // The names the reset combo of a page's rows lists: the sort keys for
  // breaks, the summary sort keys for summary totals.
  std::vector<std::string> ResetChoices(DesignPage page) const;

  // A row's texts: item, and order or action, and reset.
  std::vector<std::string> RowTexts(DesignPage page, int row) const;

  // Tabs: leaving Sort / Summary Sort writes their rows to the definition;
  // entering Report Break reloads its rows from the definition.
  void LeavePage(DesignPage page);
  void EnterPage(DesignPage page);
  bool ReportBreakEnabled() const { return !m_rows[Index(DesignPage::Sort)].empty(); }
  bool SummaryTotalEnabled() const { return !m_rows[Index(DesignPage::SummarySort)].empty(); }

  // The "Break" dialog of the break at `position`: its totals, and OK's
  // rewrite of the break with them.
  std::vector<DesignRow> BreakTotals(int position) const;
  DesignRow NewBreakTotal(int field) const;
  void SetBreakTotals(int position, const std::vector<DesignRow>& totals);

  // "Summarized Field:": the summary sort keys' names and the one chosen
  // (-1 none).
  std::vector<std::string> SummarizedChoices() const;
  int SummarizedChoice() const { return m_summarizedChoice; }
  void SetSummarizedChoice(int index) { m_summarizedChoice = index; }

  // The query edits' texts at start ("" when the library has none).
  std::string QueryText(bool summary) const;
  struct Verified {
    std::string status;   // "Correct", the library's text, or "Syntax Error"
    bool selectError = false;
    int selectionStart = 0;  // the character to select, when selectError
  };
  // "Verify": the first 99 characters are put and validated.
  Verified Verify(bool summary, std::string_view text);

  // OK: every page stored into the definition in the order Detail, Sort,
  // Final Total, Summary Sort, Summary Total (and the summarized field),
  // Query, Summary Query (each its first 99 characters); the options are
  // the caller's pages'.
  void Store(std::string_view query, std::string_view summaryQuery);

  ReportGeneratorDll& Definition() { return m_definition; }
  const ReportGeneratorDll& Definition() const { return m_definition; }
  ReportOptions& Options() { return m_options; }

 private:
  static std::size_t Index(DesignPage page) { return static_cast<std::size_t>(page); }
  std::vector<DesignRow>& RowsOf(DesignPage page) { return m_rows[Index(page)]; }
  void WriteSortRows(bool summary);
  void ReadBreaks();

  std::string m_machine;
  std::string m_name;
  bool m_isNew;
  bool m_nameChanged = false;
  ReportGeneratorDll m_definition;
  ReportOptions m_options;
  std::vector<DesignRow> m_rows[6];
  int m_summarizedChoice = -1;
};

}  // namespace vn::console
