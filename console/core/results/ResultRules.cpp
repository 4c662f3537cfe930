#include "console/core/results/ResultRules.h"

#include <algorithm>

#include "platform/core/AsciiText.h"

namespace vn::console {
namespace {

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

// The last component of a path, at either separator.
std::string_view LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string CsvFileName(std::string_view chosen) {
  std::string name(chosen);
  if (EndsWithNoCase(name, ".csv")) return name;
  return name + (!name.empty() && name.back() == '.' ? "csv" : ".csv");
}

std::string SaveAsFileName(std::string_view chosen, std::string_view extension) {
  std::string name(chosen);
  const std::string_view last = LastComponent(name);
  if (!last.empty() && last.back() == '.') return name + std::string(extension);
  if (last.find('.') != std::string_view::npos) return name;
  return name + "." + std::string(extension);
}

FileColumns FindFileColumns(const std::vector<std::string>& headerCells) {
  FileColumns columns;
  for (std::size_t i = 0; i < headerCells.size(); ++i) {
    const std::string_view cell = headerCells[i];
    const int column = static_cast<int>(i) + 1;
    if (EqualsIgnoringCase(cell, "Directory") || EqualsIgnoringCase(cell, "Path")) columns.directory = column;
    if (EqualsIgnoringCase(cell, "FileName")) columns.fileName = column;
  }
  return columns;
}

std::string RowPath(std::string_view directory, std::string_view fileName) {
  std::string path(directory);
  if (path.empty() || path.back() != '\\') path += '\\';
  path += fileName;
  return path;
}

bool FilesOnly(const FileColumns& columns, bool runResult, const std::vector<SelectedRow>& selection) {
  if (!columns.Found() || !runResult || selection.empty()) return false;
  if (selection.back().kind == "DS") return false;
  return std::any_of(selection.begin(), selection.end(),
                     [](const SelectedRow& r) { return r.row > 0 && !r.deleted; });
}

}  // namespace vn::console
