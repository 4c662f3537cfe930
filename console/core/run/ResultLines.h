#pragma once
// How a machine's result file joins a run's merged file: lines rebuilt from
// the transfer records they arrive in, which lines of which machine are kept,
// and the sum of the machines' totals lines. A result file is comma-separated
// text, one record per line ending in CR LF, each line starting with its
// quoted two-letter kind ("A1", "B1", "H1", "D1", "DS", "S1", "TF").
//
// Plain functions and a small value class; any thread, no failures.

#include <functional>
#include <string>
#include <string_view>

namespace vn::console {

// Rebuilds lines from the chunks of a result: a line keeps its newline, and a
// piece left at the end of a chunk is completed by the next one, so every line
// reaches the caller once and whole.
class CResultLineReader {
 public:
  using LineHandler = std::function<void(std::string_view line)>;

  // Calls `onLine` for every line that `chunk` completes.
  void Feed(std::string_view chunk, const LineHandler& onLine);
  // Hands over a last line that has no newline (a file cut short), if any.
  void Finish(const LineHandler& onLine);

 private:
  std::string m_pending;
};

// What the merge does with one line of a machine's result.
enum class MergeAction {
  Write,          // append to the merged file
  Drop,           // leave out
  ReplaceTotals,  // becomes the totals line
  AddTotals,      // is added into the totals line
};

// The first machine of a report gives everything (heading, column line,
// rows); the others only their rows ("D1", "DS", "S1"). The "TF" totals line
// is never written here: the first one replaces the totals, later ones are
// added into them, and the sum is written when the report ends.
MergeAction ClassifyResultLine(std::string_view line, bool first);

// Adds the totals line `line` into `*totals`, field by field along `line`:
// a quoted field (a label) is taken from `line`, any other field becomes the
// sum of both lines' fields read as signed 64-bit decimals (a field that
// `*totals` lacks, or that is no number, counts 0). A number after a label
// ending in " (Max)", " (Min)", " (Average)" or " (Store)" (a custom
// report's final totals) is instead the larger, the smaller, the average
// weighted by each line's "Files" count (to the nearest whole), or the new
// line's; where `*totals` lacks it, the new line's. The result ends with
// CR LF. Commas inside a quoted field do not split it.
void AddTotalsLine(std::string* totals, std::string_view line);

}  // namespace vn::console
