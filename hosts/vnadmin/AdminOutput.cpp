#include "hosts/vnadmin/AdminOutput.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "hosts/vnadmin/AdminCommand.h"
#include "platform/core/Messages.h"

namespace vn::admin {

Table::Table(std::vector<std::string> header) : m_header(std::move(header)) {}

void Table::Add(std::vector<std::string> row) {
  row.resize(m_header.size());
  for (auto& cell : row) cell = Printable(cell);
  m_rows.push_back(std::move(row));
}

void Table::Print(std::ostream& out) const {
  std::vector<std::size_t> widths(m_header.size());
  for (std::size_t column = 0; column < m_header.size(); ++column) {
    widths[column] = m_header[column].size();
    for (const auto& row : m_rows) widths[column] = std::max(widths[column], row[column].size());
  }
  const auto printLine = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column) {
      line += cells[column];
      if (column + 1 < cells.size()) line.append(widths[column] + 2 - cells[column].size(), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  printLine(m_header);
  for (const auto& row : m_rows) printLine(row);
}

std::string SystemText(std::uint32_t code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result.empty() ? "Error " + std::to_string(code) + "." : result;
}

int Fail(std::ostream& err, std::string_view what, std::uint32_t code) {
  err << "vnadmin: " << what << ": " << SystemText(code) << " (error " << code << ")\n";
  return kExitFailure;
}

int BadUsage(std::ostream& err, std::string_view verb, std::string_view why) {
  err << "vnadmin " << verb << ": " << why << "\n" << VerbUsage(verb);
  return kExitUsage;
}

std::string Printable(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      result += c;
    } else if (c == '\n') {
      result += "\\n";
    } else if (c == '\r') {
      result += "\\r";
    } else if (c == '\t') {
      result += "\\t";
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      result += "\\x";
      result += kHex[byte >> 4];
      result += kHex[byte & 0xF];
    }
  }
  return result;
}

bool IsMachineArgument(std::string_view arg) { return arg.size() > 2 && arg.starts_with("\\\\"); }

}  // namespace vn::admin
