#pragma once
// Chart data files: the small text file that carries a summary result from
// the result window to a graph window (the format is described in
// docs/charts.md). The writers read the result as the result window shows
// it (row 0 the column titles, rows 1 .. N the result rows, columns from 1)
// and write the numeric section, which the chart component reads, and the
// labelled sections (window title, header strings, point and set labels),
// which ReadChartLabels reads back for the graph view.
//
// Lines end in carriage return and line feed on disk. Writers return 1 once
// the whole file is written, 0 when a column or row they need is missing
// (the file is then not opened) or when the file cannot be written (what was
// written is emptied again). Items are written as they are: a text holding a
// double quote breaks its list, as it would in any reader of the format.
//
// Free functions without state; any thread, one file per call.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vn::console {

// What a writer reads of the open result.
struct ChartResult {
  int rowCount = 0;     // N: rows 1 .. N are result rows
  int columnCount = 0;  // columns 1 .. columnCount
  // The text a cell shows (row 0 holds the column titles); empty out of range.
  std::function<std::string(int row, int column)> cellText;
  int reportKind = 0;   // CFXDataManager::kKind...
  std::string title;    // the report's title (the first "B1" record's name)
  std::string header;   // the heading: one line per "B1" record, joined by "\r\n"
};

// Kind 4: used and free space over one point per drive.
[[nodiscard]] int SaveSummaryDataToFile(const std::string& path, const ChartResult& result);
// Kinds 7 (groupForm 1) and 11 (groupForm 0): one set per group or user.
[[nodiscard]] int SaveUserGroupDataToFile(const std::string& path, const ChartResult& result, int groupForm);
// Kind 15: one set per file-type category, then "Others" and "Free".
[[nodiscard]] int SaveDetailedDataToFile(const std::string& path, const ChartResult& result);
// Dispatches on result.reportKind; 0 for a kind that cannot be charted.
[[nodiscard]] int SaveGraphDataToFile(const std::string& path, const ChartResult& result);
// Whether a result of this kind can be charted (4, 7, 11, 15).
bool CanGraphReportKind(int reportKind);

// Why reading stopped early. What was read before stays in the result.
enum class ChartFileError {
  None,
  CannotOpen,  // missing, unreadable or a directory
  TooLarge,    // larger than kMaxChartFileSize
  Truncated,   // the file ends where a section's line should follow
  BadList,     // a list line whose quoted item has no closing quote
  BadTitle,    // a window title line that is not # "title"
  TooManyItems,  // a list of more than kMaxListItems items (the rest is dropped)
};

inline constexpr long long kMaxChartFileSize = 256LL * 1024 * 1024;
inline constexpr std::size_t kMaxListItems = 1'000'000;

// The labelled sections of a chart data file, read as the graph view reads
// them: lines that do not begin with "#" are skipped, a section heading takes
// the line after it, other "#" lines are ignored.
struct ChartLabels {
  bool hasTitle = false;
  std::string title;  // the window title's text, without # " and the closing quote
  std::vector<std::string> headers;
  std::vector<std::string> pointLabels;
  std::vector<std::string> setLabels;
  ChartFileError error = ChartFileError::None;
  int errorLine = 0;  // the line (from 1) where reading found the damage
};

ChartLabels ReadChartLabels(const std::string& path);
// The same over the file's contents (lines may end in "\r\n" or "\n").
ChartLabels ParseChartLabels(std::string_view contents);
// The items of a list line after its "# " (see docs/charts.md); false when a
// quoted item lacks its closing quote (the items before it are kept).
bool ParseChartList(std::string_view list, std::vector<std::string>& items);
// A short English sentence for the error, for logs and tests.
const char* ChartFileErrorText(ChartFileError error);

}  // namespace vn::console
