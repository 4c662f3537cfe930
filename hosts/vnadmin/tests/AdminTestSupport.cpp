#include "hosts/vnadmin/tests/AdminTestSupport.h"

#include <sstream>
#include <utility>

#include "hosts/vnadmin/AdminCommand.h"

namespace vn::admin::testing {

AdminRun RunAdmin(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  AdminRun run;
  run.status = RunVnAdmin(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

namespace {

std::string Trim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

}  // namespace

std::vector<TableRow> ParseTable(const std::string& text) {
  std::istringstream lines(text);
  std::string header;
  if (!std::getline(lines, header)) return {};
  struct Column {
    std::string name;
    std::size_t start;
  };
  std::vector<Column> columns;
  for (std::size_t at = 0; at < header.size();) {
    const std::size_t gap = header.find("  ", at);
    const std::size_t end = gap == std::string::npos ? header.size() : gap;
    columns.push_back({header.substr(at, end - at), at});
    at = header.find_first_not_of(' ', end);
    if (at == std::string::npos) break;
  }
  std::vector<TableRow> rows;
  for (std::string line; std::getline(lines, line);) {
    TableRow row;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const std::size_t start = columns[i].start;
      const std::size_t end = i + 1 < columns.size() ? columns[i + 1].start : std::string::npos;
      row[columns[i].name] = start < line.size() ? Trim(line.substr(start, end == std::string::npos ? end : end - start)) : "";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

TableRow FindRow(const std::vector<TableRow>& rows, const std::string& column, const std::string& value) {
  for (const auto& row : rows) {
    const auto it = row.find(column);
    if (it != row.end() && it->second == value) return row;
  }
  return {};
}

}  // namespace vn::admin::testing
