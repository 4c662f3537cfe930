#include "chart/VNChartData.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <numeric>

namespace vn::chart {
namespace {

// Splits text into lines without their "\r\n" or "\n"; counts them from 1.
class CLines {
 public:
  explicit CLines(std::string_view text) : m_rest(text) {}
  bool Next(std::string_view& line) {
    if (m_rest.empty()) return false;
    const std::size_t end = m_rest.find('\n');
    line = m_rest.substr(0, end);
    m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++m_number;
    return true;
  }
  int Number() const { return m_number; }

 private:
  std::string_view m_rest;
  int m_number = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  return line;
}

// The next blank-separated token of rest, or empty at its end.
std::string_view NextToken(std::string_view& rest) {
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  std::size_t end = 0;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  const std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end);
  return token;
}

bool ParseNumber(std::string_view token, double& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  return ec == std::errc() && end == token.data() + token.size();
}

bool ParseCount(std::string_view token, long long limit, long long& count) {
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), count);
  return ec == std::errc() && end == token.data() + token.size() && count >= 0 && count <= limit;
}

void SetError(QString* error, int line, const char* text) {
  if (error) *error = QStringLiteral("Line %1: %2").arg(line).arg(QString::fromLatin1(text));
}

}  // namespace

VNChartData::VNChartData(std::vector<double> x, std::vector<std::vector<double>> y) : m_x(std::move(x)), m_y(std::move(y)) {
  for (std::vector<double>& set : m_y) set.resize(m_x.size());
}

std::unique_ptr<VNChartData> VNChartData::CreateFromFile(const QString& path, QString* error) {
  QFile file(path);
  if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("The file cannot be opened.");
    return nullptr;
  }
  if (file.size() > kMaxFileSize) {
    if (error) *error = QStringLiteral("The file is too large.");
    return nullptr;
  }
  const QByteArray text = file.readAll();
  return CreateFromText(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), error);
}

std::unique_ptr<VNChartData> VNChartData::CreateFromText(std::string_view text, QString* error) {
  CLines lines(text);
  std::string_view line;
  // The ARRAY line: the first line that is neither empty nor a comment.
  long long sets = -1, points = -1;
  while (lines.Next(line)) {
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    std::string_view rest = line;
    if (NextToken(rest) != "ARRAY") {
      SetError(error, lines.Number(), "the data do not start with ARRAY sets points.");
      return nullptr;
    }
    if (!ParseCount(NextToken(rest), kMaxSets, sets) || !ParseCount(NextToken(rest), kMaxPoints, points) ||
        !Trimmed(rest).empty()) {
      SetError(error, lines.Number(), "the set and point counts are not two numbers within bounds.");
      return nullptr;
    }
    if (sets * points > kMaxValues) {
      SetError(error, lines.Number(), "the chart has more values than can be drawn.");
      return nullptr;
    }
    break;
  }
  if (sets < 0) {
    SetError(error, lines.Number(), "the file holds no ARRAY line.");
    return nullptr;
  }

  const auto wanted = static_cast<std::size_t>(points + sets * points);
  std::vector<double> values;
  values.reserve(wanted);
  while (values.size() < wanted && lines.Next(line)) {
    std::string_view rest = Trimmed(line);
    if (rest.empty() || rest.front() == '#') continue;
    for (std::string_view token = NextToken(rest); !token.empty(); token = NextToken(rest)) {
      double value = 0;
      if (!ParseNumber(token, value)) {
        SetError(error, lines.Number(), "a value is not a number.");
        return nullptr;
      }
      if (values.size() == wanted) {
        SetError(error, lines.Number(), "the line holds more values than the ARRAY line announced.");
        return nullptr;
      }
      values.push_back(value);
    }
  }
  if (values.size() < wanted) {
    SetError(error, lines.Number(), "the file ends before all values of the ARRAY line were read.");
    return nullptr;
  }

  const auto p = static_cast<std::ptrdiff_t>(points);
  std::vector<double> x(values.begin(), values.begin() + p);
  std::vector<std::vector<double>> y(static_cast<std::size_t>(sets));
  for (std::size_t s = 0; s < y.size(); ++s) {
    const auto from = values.begin() + p + static_cast<std::ptrdiff_t>(s) * p;
    y[s].assign(from, from + p);
  }
  return std::make_unique<VNChartData>(std::move(x), std::move(y));
}

double VNChartData::YElement(int set, int point) const {
  if (set < 0 || set >= SetCount() || point < 0 || point >= PointCount()) return 0;
  return m_y[static_cast<std::size_t>(set)][static_cast<std::size_t>(point)];
}

double VNChartData::XElement(int point) const {
  return point >= 0 && point < PointCount() ? m_x[static_cast<std::size_t>(point)] : 0;
}

double VNChartData::SetTotal(int set) const {
  if (set < 0 || set >= SetCount()) return 0;
  const std::vector<double>& values = m_y[static_cast<std::size_t>(set)];
  return std::accumulate(values.begin(), values.end(), 0.0);
}

std::vector<int> VNChartData::GroupSmallSets(int maxSets) {
  std::vector<int> place(static_cast<std::size_t>(SetCount()));
  std::iota(place.begin(), place.end(), 0);
  if (maxSets < 1 || SetCount() <= maxSets) return place;

  std::vector<int> bySize(place);
  std::stable_sort(bySize.begin(), bySize.end(), [this](int a, int b) { return SetTotal(a) > SetTotal(b); });
  std::vector<bool> kept(place.size(), false);
  for (int i = 0; i < maxSets - 1; ++i) kept[static_cast<std::size_t>(bySize[static_cast<std::size_t>(i)])] = true;

  std::vector<std::vector<double>> grouped;
  std::vector<double> rest(m_x.size(), 0.0);
  for (std::size_t s = 0; s < m_y.size(); ++s) {
    if (kept[s]) {
      place[s] = static_cast<int>(grouped.size());
      grouped.push_back(std::move(m_y[s]));
    } else {
      place[s] = maxSets - 1;
      for (std::size_t p = 0; p < rest.size(); ++p) rest[p] += m_y[s][p];
    }
  }
  grouped.push_back(std::move(rest));
  m_y = std::move(grouped);
  return place;
}

}  // namespace vn::chart
