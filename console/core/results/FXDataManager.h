#pragma once
// Read-only access to one result file of any size (the format is described
// in docs/reports.md): the file is mapped into memory, the header records are
// read into texts, the start of every following line is indexed, and lines
// and fields are served on demand straight from the mapping. The manager
// also sorts the rows by a column and remembers which rows' files were
// deleted.
//
// Nothing of the data is copied: the index (one pointer per line) is the only
// per-line cost that stays; a sort holds one compact record per row while it
// runs and then rewrites only the index. The file is never written, and
// must not be cut shorter by anyone while it is open (its mapped pages would
// be gone). Views returned by Line, and the fields split from them, point
// into the mapping and stay valid until Close (or the destructor).
//
// Rows: index 0 is the column header line, 1 .. GetRecordCount() are the
// rows shown, and a totals line, when there is one, stays last. Columns count
// from 1 (column 1 is the record kind); field n - 1 belongs to column n.
//
// Lines end at a carriage return (the line feed after it is stepped over);
// a last line may lack both. Lines of any length are served whole by Line;
// GetLine cuts them at the size of the caller's buffer. NUL bytes are
// ordinary bytes of a line. Texts are UTF-8: a multibyte character never
// contains a byte below 0x80, so separators, quotes and carriage returns are
// found byte by byte, and ASCII letter case is the only case folded.
//
// One manager per open result document, used on one thread (the
// user-interface thread). Indexing takes a lock shared by every manager of
// the process, one block of lines at a time; a large sort lends half its
// work to a thread of its own and returns when both halves are done.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/results/BlockAllocator.h"

class QFile;

namespace vn::console {

class CFXDataManager {
 public:
  // Lines indexed per step under the shared lock.
  static constexpr std::uint32_t kBlockSize = 500;
  // Most fields SplitFields takes from one line.
  static constexpr int kMaxFields = 61;
  // Report kinds of the summaries that can be charted (the server codes).
  static constexpr int kKindPartitionSummary = 4;
  static constexpr int kKindSpaceByUser = 11;
  static constexpr int kKindGroupUsage = 7;
  static constexpr int kKindSpaceByQuota = 8;
  static constexpr int kKindDetailedSummary = 15;

  // Receives the status texts of ReadAll ("Vornal: reading data...\n" and
  // "Vornal: reading data complete\n") for the main window's status line.
  using StatusCallback = std::function<void(const char*)>;

  // An empty manager for the file at `path` (bytes as the file system takes
  // them); nothing is opened yet.
  explicit CFXDataManager(std::string path);
  ~CFXDataManager();
  CFXDataManager(const CFXDataManager&) = delete;
  CFXDataManager& operator=(const CFXDataManager&) = delete;

  // Opens the file for reading and maps all of it. False when it cannot be
  // opened or mapped (a directory, a missing or unreadable file), with
  // nothing left open. An empty file opens and holds no lines.
  [[nodiscard]] bool Open();
  // Unmaps and closes, and forgets everything read from the file.
  void Close();
  bool IsOpen() const { return m_open; }

  // Reads the "A1" and "B1" records at the start of the file: column count,
  // heading, report name and kind, the custom flag, and where the data
  // starts (the first other line, the column header line). Without an "A1"
  // record the column count is the column header line's field count.
  void ReadHeader();
  // Indexes every line from the data start in blocks of kBlockSize, then
  // reads the totals line. `status` may be empty. False, with no lines
  // indexed, when the index does not fit in memory or the file cannot be
  // read to its end (it shrank since Open).
  [[nodiscard]] bool ReadAll(const StatusCallback& status = {});

  // Lines indexed: the column header line, the rows and the totals line.
  std::uint32_t GetLineCount() const { return static_cast<std::uint32_t>(m_lineIndex.size()); }
  // Rows shown: the lines without the column header line and the totals.
  std::uint32_t GetRecordCount() const;

  // Line `row` of the index up to its carriage return, as it is in the file;
  // empty for a row beyond the index.
  std::string_view Line(std::uint32_t row) const;
  // Copies Line(row) into `buffer` and ends it with a zero; a line longer
  // than the buffer is cut to fit. False (buffer set to "" when it has room)
  // for a row beyond the index or an empty buffer.
  bool GetLine(std::uint32_t row, std::span<char> buffer) const;

  // Splits `line` into at most `count` fields (never more than kMaxFields)
  // into `fields`, and returns how many were taken; the slots after them are
  // set empty. A field that starts with a double quote runs to the next
  // double quote and keeps both quotes (a comma inside is part of it, and a
  // missing closing quote ends the split without that field); any other
  // field ends before the next comma. The comma after a field is skipped.
  static int SplitFields(std::string_view line, int count, std::span<std::string_view> fields);
  // The same into the manager's own slots, read with Field.
  int SplitFields(std::string_view line, int count);
  // Slot `index` of the last SplitFields; empty beyond what was taken.
  std::string_view Field(int index) const;

  // Sorts rows 1 .. GetRecordCount() by `column` (from 1); the column header
  // line and the totals line keep their places. A column is numeric when the
  // first row, in the current order, whose field there is not empty holds an
  // unquoted value; numeric columns compare as signed 64-bit numbers, others
  // as text without regard to ASCII case. A column other than the last
  // sorted one sorts ascending; the same column again reverses the order.
  // Rows with equal keys keep file order (ascending) or its reverse, so
  // sorting twice gives exactly the reverse. Fewer than 2 rows or column 0:
  // nothing. False, with the order unchanged, when memory ran out.
  [[nodiscard]] bool SortByColumn(std::uint32_t column);
  // 0 when no column was sorted yet.
  std::uint32_t GetLastSortedColumn() const { return m_lastSortedColumn; }
  bool IsSortedDescending() const { return m_sortDescending; }
  // The longest field of a sorted column plus one; 0xFFFFFFFF until the
  // column was sorted, 0 for a column beyond the column count.
  std::uint32_t GetColumnWidth(std::uint32_t column) const;

  // Marks the row whose file was deleted; the mark follows the row through
  // sorts. Rows outside 1 .. GetRecordCount() are never marked.
  void MarkDeleted(std::uint32_t row);
  bool IsDeleted(std::uint32_t row) const;

  const std::string& GetPath() const { return m_path; }
  // Heading texts, each followed by one blank; one line per "B1" record,
  // lines separated by carriage return and line feed.
  const std::string& GetHeading() const { return m_heading; }
  // The first text of the first "B1" record.
  const std::string& GetReportName() const { return m_reportName; }
  // kKind... for a summary named in a "B1" record (the last such record
  // counts), else 0.
  int GetReportKind() const { return m_reportKind; }
  int GetColumnCount() const { return m_columnCount; }
  bool HasTotals() const { return m_hasTotals; }
  // The totals line for display: "Files   12 Size   3,456".
  const std::string& GetTotalsText() const { return m_totalsText; }
  bool IsCustomReport() const { return m_customReport; }

  // An unquoted number for display: groups of three digits separated by
  // ",", negative as "- 1,234". Anything but an optional minus and digits
  // comes back unchanged.
  static std::string FormatNumber(std::string_view value);
  // A field as a cell shows it: a quoted text without its quotes, anything
  // else through FormatNumber; empty stays empty.
  static std::string DisplayValue(std::string_view field);

 private:
  void Reset();
  struct Window;
  // Indexes up to kBlockSize lines from m_scan on, under the process-wide
  // lock, reading through `window`; false when the data ended.
  bool IndexBlock(Window& window);
  void ReadTotals();
  // The field of `column` in the line starting at `line` (which ends at its
  // carriage return or `end`): empty when the line has fewer fields.
  static std::string_view ColumnField(const char* line, const char* end, std::uint32_t column);

  std::string m_path;
  std::unique_ptr<QFile> m_file;
  bool m_open = false;
  const char* m_view = nullptr;  // the mapping; null for an empty file
  const char* m_end = nullptr;
  const char* m_dataStart = nullptr;
  const char* m_scan = nullptr;  // where indexing goes on
  bool m_hasTotals = false;
  bool m_customReport = false;
  // Committed in one go when large (BlockAllocator.h): filling fresh pages
  // one fault at a time would cost more than reading the file.
  std::vector<const char*, CBlockAllocator<const char*>> m_lineIndex;
  std::vector<std::uint32_t> m_columnWidths;
  std::uint32_t m_lastSortedColumn = 0;
  bool m_sortDescending = false;
  std::string m_reportName;
  std::string m_heading;
  int m_columnCount = 0;
  std::string m_totalsText;
  std::map<const char*, std::uint32_t> m_deletedRows;  // line start -> its current row
  int m_reportKind = 0;
  std::string_view m_fields[kMaxFields];
};

}  // namespace vn::console
