#include "console/core/run/ResultLines.h"

#include <algorithm>
#include <cmath>

#include <charconv>
#include <cstdint>
#include <vector>

namespace vn::console {

namespace {

// The line without its line end.
std::string_view Content(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// Cuts a line at its commas, a quoted field running to its closing quote.
std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  if (line.empty()) return fields;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ',' && !quoted) {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  fields.push_back(line.substr(start));
  return fields;
}

std::int64_t ToNumber(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  if (!field.empty() && field.front() == '+') field.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

}  // namespace

void CResultLineReader::Feed(std::string_view chunk, const LineHandler& onLine) {
  while (!chunk.empty()) {
    const std::size_t newline = chunk.find('\n');
    if (newline == std::string_view::npos) {
      m_pending.append(chunk);
      return;
    }
    const std::string_view piece = chunk.substr(0, newline + 1);
    chunk.remove_prefix(newline + 1);
    if (m_pending.empty()) {
      onLine(piece);
    } else {
      m_pending.append(piece);
      onLine(m_pending);
      m_pending.clear();
    }
  }
}

void CResultLineReader::Finish(const LineHandler& onLine) {
  if (m_pending.empty()) return;
  onLine(m_pending);
  m_pending.clear();
}

MergeAction ClassifyResultLine(std::string_view line, bool first) {
  const std::string_view kind = line.substr(0, 4);
  if (kind == "\"TF\"") return first ? MergeAction::ReplaceTotals : MergeAction::AddTotals;
  if (first) return MergeAction::Write;
  if (kind == "\"D1\"" || kind == "\"DS\"" || kind == "\"S1\"") return MergeAction::Write;
  return MergeAction::Drop;
}

namespace {

// How a totals field combines across machines, told by the label before it:
// a custom report's final totals name their action in brackets.
enum class Combine { Sum, Max, Min, Average, Last };

Combine CombineAfter(std::string_view label) {
  if (label.size() < 2 || label.front() != '"') return Combine::Sum;
  label = label.substr(1, label.size() - 2);
  if (label.ends_with(" (Max)")) return Combine::Max;
  if (label.ends_with(" (Min)")) return Combine::Min;
  if (label.ends_with(" (Average)")) return Combine::Average;
  if (label.ends_with(" (Store)")) return Combine::Last;
  return Combine::Sum;
}

// The number after the "Files" label: the files a line's totals are of.
std::int64_t FilesOf(const std::vector<std::string_view>& fields) {
  for (std::size_t i = 0; i + 1 < fields.size(); ++i)
    if (fields[i] == "\"Files\"") return ToNumber(fields[i + 1]);
  return 0;
}

bool IsNumberField(const std::vector<std::string_view>& fields, std::size_t i) {
  return i < fields.size() && !fields[i].empty() && fields[i].front() != '"';
}

}  // namespace

void AddTotalsLine(std::string* totals, std::string_view line) {
  const std::vector<std::string_view> added = SplitFields(Content(line));
  const std::string stored(Content(*totals));
  const std::vector<std::string_view> kept = SplitFields(stored);
  const std::int64_t addedFiles = FilesOf(added), keptFiles = FilesOf(kept);
  std::string sum;
  for (std::size_t i = 0; i < added.size(); ++i) {
    if (i > 0) sum += ',';
    const std::string_view field = added[i];
    if (!field.empty() && field.front() == '"') {
      sum.append(field);
      continue;
    }
    const std::int64_t a = ToNumber(field);
    const bool hasKept = IsNumberField(kept, i);
    const std::int64_t b = hasKept ? ToNumber(kept[i]) : 0;
    std::int64_t value = 0;
    switch (i > 0 && hasKept ? CombineAfter(added[i - 1]) : Combine::Sum) {
      case Combine::Max: value = std::max(a, b); break;
      case Combine::Min: value = std::min(a, b); break;
      case Combine::Last: value = a; break;
      case Combine::Average: {
        // Each machine's average weighted by the files it is of.
        // (In long double: the products do not fit 64 bits.)
        const long double files = static_cast<long double>(addedFiles) + static_cast<long double>(keptFiles);
        value = files > 0 ? std::llround((static_cast<long double>(a) * addedFiles +
                                          static_cast<long double>(b) * keptFiles) / files)
                          : a;
        break;
      }
      case Combine::Sum:
        // Summed as unsigned so that an overflow wraps instead of being undefined.
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
        break;
    }
    sum += std::to_string(value);
  }
  sum += "\r\n";
  *totals = std::move(sum);
}

}  // namespace vn::console
