#pragma once
// The numbers of a chart: S data sets of P points each, with P x-values, read
// from the numeric section of a chart data file (docs/charts.md):
//
//   ARRAY S P          the first line that is not a comment
//   x1 ... xP          then P x-values and S * P y-values, set after set,
//   y11 ... y1P ...    any number per line, separated by blanks or tabs
//
// Lines whose first non-blank character is "#" are comments, empty lines are
// skipped, and reading stops once every value is read (the labelled sections
// after the numbers are comments to it). Anything else is refused with a
// message naming the line: a missing or malformed ARRAY line, counts out of
// bounds, a token that is not a number, a file that ends early or is larger
// than kMaxFileSize. Refused files give no data.
//
// A plain value type; any thread.

#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vn::chart {

class VNChartData {
 public:
  static constexpr int kMaxSets = 1'000'000;
  static constexpr int kMaxPoints = 1'000'000;
  static constexpr long long kMaxValues = 16'000'000;
  static constexpr long long kMaxFileSize = 256LL * 1024 * 1024;

  // Reads the file at path; null with *error set (when error is given) when
  // the file cannot be read or is refused.
  static std::unique_ptr<VNChartData> CreateFromFile(const QString& path, QString* error = nullptr);
  // The same over a file's contents.
  static std::unique_ptr<VNChartData> CreateFromText(std::string_view text, QString* error = nullptr);
  // Sets of the given values; y[set][point], every set as long as x.
  VNChartData(std::vector<double> x, std::vector<std::vector<double>> y);

  int SetCount() const { return static_cast<int>(m_y.size()); }
  int PointCount() const { return static_cast<int>(m_x.size()); }
  // The highest valid set and point (-1 when there is none).
  int LastSet() const { return SetCount() - 1; }
  int LastPoint(int set) const { return set >= 0 && set < SetCount() ? PointCount() - 1 : -1; }
  // 0 outside the data.
  double YElement(int set, int point) const;
  double XElement(int point) const;
  // The sum of a set's points.
  double SetTotal(int set) const;

  // Keeps the maxSets - 1 largest sets (by their total, in their first
  // order) and adds one set that is the sum of all others, when there are
  // more than maxSets sets. Returns the place of every former set: its new
  // index, or the index of the summed set. Nothing changes (and every set
  // keeps its place) when there are at most maxSets sets.
  std::vector<int> GroupSmallSets(int maxSets);

 private:
  std::vector<double> m_x;
  std::vector<std::vector<double>> m_y;
};

}  // namespace vn::chart
