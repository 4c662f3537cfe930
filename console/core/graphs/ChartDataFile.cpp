#include "console/core/graphs/ChartDataFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "console/core/results/FXDataManager.h"

namespace vn::console {
namespace {

constexpr std::string_view kEndOfLine = "\r\n";

// A title contains a key when the key occurs anywhere in it, case-sensitively.
bool Contains(std::string_view text, std::string_view key) { return text.find(key) != std::string_view::npos; }

// A number as the file carries it: the cell's text without its thousands separators.
std::string WithoutCommas(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text)
    if (c != ',') out += c;
  return out;
}

// The number a computation takes from a cell: the leading decimal number of
// its comma-free text, 0 when there is none.
double NumberOf(std::string_view text) { return std::atof(WithoutCommas(text).c_str()); }

std::string WholeNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.f", value);
  return text;
}

// The file's text, built in memory and written in one go.
class CChartText {
 public:
  void Line(std::string_view text) {
    m_text.append(text);
    m_text.append(kEndOfLine);
  }
  // "# " and the items, the first as "item", the others as <separator>"item".
  void List(const std::vector<std::string>& items, char separator) {
    m_text.append("# ");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) m_text += separator;
      m_text += '"';
      m_text.append(items[i]);
      m_text += '"';
    }
    m_text.append(kEndOfLine);
  }
  // The window title and header sections, which every writer writes alike.
  void TitleAndHeader(const ChartResult& result) {
    Line("# Window Title");
    Line("# \"" + result.title + "\"");
    Line("# Header Strings");
    std::vector<std::string> lines;
    const std::string header = result.header.empty() ? std::string() : result.header + std::string(kEndOfLine);
    std::string_view rest = header;
    for (std::size_t cut = rest.find(kEndOfLine); cut != std::string_view::npos; cut = rest.find(kEndOfLine)) {
      lines.emplace_back(rest.substr(0, cut));
      rest.remove_prefix(cut + kEndOfLine.size());
    }
    List(lines, ';');
  }
  // Writes the text to path, emptying whatever the file held; on a failed
  // write the file is left empty rather than half written.
  bool WriteTo(const std::string& path) const {
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const auto size = static_cast<qint64>(m_text.size());
    if (file.write(m_text.data(), size) == size && file.flush()) return true;
    (void)file.resize(0);  // best effort: the caller drops the file anyway
    return false;
  }

 private:
  std::string m_text;
};

std::string Cell(const ChartResult& result, int row, int column) {
  return result.cellText ? result.cellText(row, column) : std::string();
}

// Finds the columns whose titles contain keys[k], scanning from column 1: a
// later match replaces an earlier one until every key has a column, then the
// scan stops. 0 stays for a key that no title contains.
template <std::size_t N>
std::array<int, N> FindColumns(const ChartResult& result, const std::array<std::string_view, N>& keys) {
  std::array<int, N> found{};
  for (int column = 1; column <= result.columnCount; ++column) {
    const std::string title = Cell(result, 0, column);
    for (std::size_t k = 0; k < N; ++k)
      if (Contains(title, keys[k])) found[k] = column;
    bool all = true;
    for (const int f : found) all = all && f != 0;
    if (all) break;
  }
  return found;
}

bool AllFound(std::span<const int> columns) {
  for (const int column : columns)
    if (column == 0) return false;
  return true;
}

}  // namespace

int SaveSummaryDataToFile(const std::string& path, const ChartResult& result) {
  const auto columns = FindColumns<4>(result, {"Used Space", "Free Space", "Drive Name", "Computer Name"});
  if (!AllFound(columns)) return 0;
  const auto [used, free, drive, computer] = columns;
  const int points = std::max(0, result.rowCount);

  CChartText text;
  text.Line("ARRAY 2 " + std::to_string(points));
  text.Line("# X-values");
  std::string line;
  for (int point = 1; point <= points; ++point) {
    if (point > 1) line += ' ';
    line += std::to_string(point);
  }
  text.Line(line);
  int set = 1;
  for (const int column : {used, free}) {
    text.Line("# Y-values set " + std::to_string(set++));
    line.clear();
    for (int row = 1; row <= points; ++row) {
      if (row > 1) line += ' ';
      line += WithoutCommas(Cell(result, row, column));
    }
    text.Line(line);
  }
  text.TitleAndHeader(result);
  text.Line("# Set Labels");
  text.List({Cell(result, 0, used), Cell(result, 0, free)}, ',');
  text.Line("# Point Labels");
  std::vector<std::string> labels;
  labels.reserve(static_cast<std::size_t>(points));
  for (int row = 1; row <= points; ++row) labels.push_back(Cell(result, row, computer) + '\\' + Cell(result, row, drive));
  text.List(labels, ',');
  return text.WriteTo(path) ? 1 : 0;
}

namespace {

// A chart of one point with a value per set: the user, group and detailed
// summaries. `values` is the y-value line, `pointLabel` the value's title.
int WriteOnePointChart(const std::string& path, const ChartResult& result, const std::string& values,
                       const std::string& pointLabel, const std::vector<std::string>& setLabels) {
  CChartText text;
  text.Line("ARRAY " + std::to_string(setLabels.size()) + " 1");
  text.Line("# X-values");
  text.Line("1");
  text.Line("# Y-values set 1");
  text.Line(values);
  text.TitleAndHeader(result);
  text.Line("# Point Labels");
  text.List({pointLabel}, ';');
  text.Line("# Set Labels");
  text.List(setLabels, ';');
  return text.WriteTo(path) ? 1 : 0;
}

}  // namespace

int SaveUserGroupDataToFile(const std::string& path, const ChartResult& result, int groupForm) {
  const std::string_view nameKey = groupForm ? "Group" : "User";
  const std::string_view valueKey = result.reportKind == CFXDataManager::kKindSpaceByUser ? "Total" : "Used";
  const auto columns = FindColumns<2>(result, {nameKey, valueKey});
  if (!AllFound(columns)) return 0;
  const auto [name, value] = columns;

  // The totals row is named in column 3, whatever the report's columns are.
  int totalsRow = 0;
  for (int row = 1; row <= result.rowCount && totalsRow == 0; ++row)
    if (Contains(Cell(result, row, 3), "Totals")) totalsRow = row;

  std::string values;
  std::vector<std::string> names;
  for (int row = 1; row <= result.rowCount; ++row) {
    if (row == totalsRow) continue;
    if (!names.empty()) values += ' ';
    values += WithoutCommas(Cell(result, row, value));
    names.push_back(Cell(result, row, name));
  }

  return WriteOnePointChart(path, result, values, Cell(result, 0, value), names);
}

int SaveDetailedDataToFile(const std::string& path, const ChartResult& result) {
  const auto columns = FindColumns<2>(result, {"Category", "Size Used"});
  if (!AllFound(columns)) return 0;
  const auto [category, size] = columns;

  int usedRow = 0, freeRow = 0;
  std::vector<int> listed;  // rows of file-type categories (".txt", ...)
  for (int row = 1; row <= result.rowCount; ++row) {
    const std::string text = Cell(result, row, category);
    if (Contains(text, "Used")) usedRow = row;
    if (Contains(text, "Free")) freeRow = row;
    if (!text.empty() && text.front() == '.') listed.push_back(row);
  }
  if (usedRow == 0 || freeRow == 0) return 0;
  const double usedTotal = NumberOf(Cell(result, usedRow, size));
  const double freeTotal = NumberOf(Cell(result, freeRow, size));

  std::string values;
  std::vector<std::string> labels;
  double listedSum = 0;
  for (const int row : listed) {
    const std::string cell = Cell(result, row, size);
    if (!labels.empty()) values += ' ';
    values += WithoutCommas(cell);
    listedSum += NumberOf(cell);
    labels.push_back(Cell(result, row, category));
  }
  // Others and Free follow the listed values after one blank each (so the
  // line starts with a blank when no category is listed).
  values += ' ' + WholeNumber(usedTotal - listedSum) + ' ' + WholeNumber(freeTotal);
  labels.emplace_back("Others");
  labels.emplace_back("Free");

  return WriteOnePointChart(path, result, values, Cell(result, 0, size), labels);
}

int SaveGraphDataToFile(const std::string& path, const ChartResult& result) {
  switch (result.reportKind) {
    case CFXDataManager::kKindPartitionSummary:
      return SaveSummaryDataToFile(path, result);
    case CFXDataManager::kKindGroupUsage:
      return SaveUserGroupDataToFile(path, result, 1);
    case CFXDataManager::kKindSpaceByUser:
      return SaveUserGroupDataToFile(path, result, 0);
    case CFXDataManager::kKindDetailedSummary:
      return SaveDetailedDataToFile(path, result);
    default:
      return 0;
  }
}

bool CanGraphReportKind(int reportKind) {
  return reportKind == CFXDataManager::kKindPartitionSummary || reportKind == CFXDataManager::kKindGroupUsage ||
         reportKind == CFXDataManager::kKindSpaceByUser || reportKind == CFXDataManager::kKindDetailedSummary;
}

bool ParseChartList(std::string_view rest, std::vector<std::string>& items) {
  while (!rest.empty()) {
    if (items.size() >= kMaxListItems) return true;  // the caller reports the cut
    if (rest.front() == '"') {
      if (rest.size() == 1) return false;
      const std::size_t close = rest.find('"', 1);
      if (close == std::string_view::npos) return false;
      items.emplace_back(rest.substr(1, close - 1));
      rest.remove_prefix(std::min(rest.size(), close + 2));  // the item, its quote and the separator
    } else {
      const std::size_t comma = rest.find(',');
      items.emplace_back(rest.substr(0, comma));
      rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
    }
  }
  return true;
}

ChartLabels ParseChartLabels(std::string_view contents) {
  ChartLabels labels;
  int lineNumber = 0;
  auto nextLine = [&contents, &lineNumber](std::string_view& line) {
    if (contents.empty()) return false;
    const std::size_t end = contents.find('\n');
    line = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++lineNumber;
    return true;
  };
  auto fail = [&labels, &lineNumber](ChartFileError error) {
    if (labels.error != ChartFileError::None) return;  // the first damage is the one reported
    labels.error = error;
    labels.errorLine = lineNumber;
  };

  std::string_view line;
  while (nextLine(line)) {
    if (line.empty() || line.front() != '#') continue;
    std::vector<std::string>* list = nullptr;
    if (line.starts_with("# Header Strings"))
      list = &labels.headers;
    else if (line.starts_with("# Point Labels"))
      list = &labels.pointLabels;
    else if (line.starts_with("# Set Labels"))
      list = &labels.setLabels;
    if (list) {
      if (!nextLine(line)) {
        fail(ChartFileError::Truncated);
        break;
      }
      // A section given twice relabels item by item, as it would on the chart.
      std::vector<std::string> items;
      if (!ParseChartList(line.substr(std::min<std::size_t>(2, line.size())), items)) fail(ChartFileError::BadList);
      if (items.size() >= kMaxListItems) fail(ChartFileError::TooManyItems);
      if (list->size() < items.size()) list->resize(items.size());
      std::move(items.begin(), items.end(), list->begin());
      continue;
    }
    if (line.starts_with("# Window Title")) {
      if (!nextLine(line)) {
        fail(ChartFileError::Truncated);
        break;
      }
      if (line.size() < 4 || !line.starts_with("# \"") || line.back() != '"') {
        fail(ChartFileError::BadTitle);
        continue;
      }
      labels.hasTitle = true;
      labels.title.assign(line.substr(3, line.size() - 4));
    }
  }
  return labels;
}

ChartLabels ReadChartLabels(const std::string& path) {
  ChartLabels labels;
  QFile file(QFile::decodeName(path.c_str()));
  if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly)) {
    labels.error = ChartFileError::CannotOpen;
    return labels;
  }
  if (file.size() > kMaxChartFileSize) {
    labels.error = ChartFileError::TooLarge;
    return labels;
  }
  const QByteArray contents = file.readAll();
  return ParseChartLabels(std::string_view(contents.constData(), static_cast<std::size_t>(contents.size())));
}

const char* ChartFileErrorText(ChartFileError error) {
  switch (error) {
    case ChartFileError::None:
      return "The chart data file was read.";
    case ChartFileError::CannotOpen:
      return "The chart data file cannot be opened.";
    case ChartFileError::TooLarge:
      return "The chart data file is too large.";
    case ChartFileError::Truncated:
      return "The chart data file ends inside a section.";
    case ChartFileError::BadList:
      return "A list of the chart data file has an item without its closing quote.";
    case ChartFileError::BadTitle:
      return "The window title of the chart data file is not a quoted text.";
    case ChartFileError::TooManyItems:
      return "A list of the chart data file has too many items.";
  }
  return "";
}

}  // namespace vn::console
