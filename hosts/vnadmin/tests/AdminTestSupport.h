#pragma once
// Running vnadmin's verbs in-process as its main() does, and reading the
// tables they print the way a script would.

#include <map>
#include <string>
#include <vector>

namespace vn::admin::testing {

struct AdminRun {
  int status = -1;
  std::string out;
  std::string err;
};

// RunVnAdmin with `args` (the words after the program name).
AdminRun RunAdmin(const std::vector<std::string>& args);

// The rows of a table as column name -> cell, cut at the positions where the
// header's names start (names are two or more spaces apart), cells trimmed.
using TableRow = std::map<std::string, std::string>;
std::vector<TableRow> ParseTable(const std::string& text);

// The row whose `column` is `value`, or an empty row.
TableRow FindRow(const std::vector<TableRow>& rows, const std::string& column, const std::string& value);

}  // namespace vn::admin::testing
