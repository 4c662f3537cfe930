#pragma once
// Turns the results a run fetches into a scan of the history: the merge
// feeds every line of every machine's result (heading included, before the
// merge drops the later machines' headings), and at the end of the report
// takes the scan. Only the summary reports are kept (Space By Directory,
// Space By User, Group Usage Report, Detailed Summary); for any other
// report Take gives nothing. Sizes are kept in bytes whatever unit the
// result shows them in.
//
// One object per merge, used on the merge's thread.

#include <string>
#include <string_view>
#include <vector>

#include "console/core/history/HistoryStore.h"

namespace vn::console {

// A result line's fields: quoted texts without their quotes, numbers as
// written; the record kind is the first field. A result's texts hold no
// double quote, so a quote always opens or closes one.
std::vector<std::string> SplitResultFields(std::string_view line);

class CHistoryRecorder {
 public:
  // `depth`: directory levels below each object that are kept (0: all).
  explicit CHistoryRecorder(int depth) : m_depth(depth) {}

  // The lines fed from here on are `machine`'s result.
  void BeginMachine(const std::string& machine);
  void Feed(std::string_view line);
  // The report fed since the last Take (or Clear), when it was a summary
  // with at least one machine; the recorder is empty afterwards either way.
  [[nodiscard]] bool Take(HistoryScan* scan);
  void Clear();

 private:
  struct Columns {
    int name = -1, level = -1, files = -1, bytes = -1, allocated = -1;
    long long bytesUnit = 1, allocatedUnit = 1;
  };

  int m_depth;
  std::string m_report;        // the first machine's report title
  bool m_summary = false;      // m_report is one that is kept
  MeasureKind m_kind = MeasureKind::Directory;
  std::vector<HistoryMachine> m_machines;
  bool m_heading = false;      // the current machine's title was read
  Columns m_columns;
};

}  // namespace vn::console
