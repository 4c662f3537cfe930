#pragma once
// The result window's rules that need no window: the names Save and Save As
// write to, which columns of a result name files, and when the file commands
// (Delete, Copy to, Move to) may run. The view asks these; tests check them
// without a display.
//
// Plain functions; safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vn::console {

// Save writes comma-delimited files: a name ending in ".csv" (any case) is
// kept, "report." becomes "report.csv", any other name gets ".csv".
std::string CsvFileName(std::string_view chosen);

// The types Save As offers, in the order of its filter.
struct SaveAsType {
  const char* extension;   // without the dot
  std::uint32_t options;   // the output format bit of a report's options word
};
inline constexpr SaveAsType kSaveAsTypes[] = {
    {"txt", 0x40},  // Text File
    {"csv", 0x08},  // Comma Delimited
    {"htm", 0x10},  // HTM file
    {"dbf", 0x20},  // DBF
};
inline constexpr char kSaveFilter[] = "Comma Delimited (*.csv)|*.csv||";
inline constexpr char kSaveAsFilter[] =
    "Text File (*.txt)|*.txt|Comma Delimited (*.csv)|*.csv|HTM file (*.htm)|*.htm|DBF (*.dbf)|*.dbf||\n";

// Save As: a name without an extension gets `extension` ("report" ->
// "report.txt", "report." -> "report.txt"); a name with one is kept.
std::string SaveAsFileName(std::string_view chosen, std::string_view extension);

// The columns (counted from 1, 0 = none) whose header cells name a row's file:
// the last one titled "Directory" or "Path", and the last one titled
// "FileName", both without case. `headerCells` holds column 1 first.
struct FileColumns {
  int directory = 0;
  int fileName = 0;
  bool Found() const { return directory > 0 && fileName > 0; }
};
FileColumns FindFileColumns(const std::vector<std::string>& headerCells);

// The path a row names: its directory, a backslash unless the directory ends
// with one, its file name. An empty file name names the directory itself.
std::string RowPath(std::string_view directory, std::string_view fileName);

// One selected row as the file commands see it.
struct SelectedRow {
  int row = 0;             // 0 = the column header line
  std::string kind;        // column 1, the record kind ("D1", "DS"...)
  bool deleted = false;    // its file was deleted
};

// Whether Delete, Copy to and Move to may run: the result names files
// (`columns` found), it is a run's result (`runResult`: results opened from
// disk never allow them), rows are selected, the last one selected is not a
// "DS" summary row, and some selected row other than the header line is
// still there. `selection` is in selection order.
bool FilesOnly(const FileColumns& columns, bool runResult, const std::vector<SelectedRow>& selection);

}  // namespace vn::console
