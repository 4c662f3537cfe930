// A custom report's stored definition, as a server or the designer reads it
// from a registry key someone may have edited by hand: one "name=text" value
// per line. What decodes must encode and decode to the same definition, and
// its queries must parse and run on a file without fault.

#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "reportdef/Query.h"
#include "reportdef/ReportDefinition.h"

namespace vn::fuzz {

int FuzzCustomDefinition(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<reportdef::NamedValue> values;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) values.push_back({std::string(line.substr(0, eq)), std::string(line.substr(eq + 1))});
    start = end + 1;
  }
  // The whole input as one query too: the parser sees any bytes.
  reportdef::QueryError error;
  if (auto q = reportdef::Query::Parse(text, error)) {
    reportdef::FileFacts facts;
    facts.name = "a.log";
    (void)q->Matches(facts);
  } else if (error.position > text.size()) {
    __builtin_trap();
  }
  reportdef::ReportDefinition d;
  std::string message;
  if (!d.Decode(values, message)) return 0;
  reportdef::ReportDefinition again;
  if (!again.Decode(d.Encode(), message) || !again.SameContent(d)) __builtin_trap();
  DWORD position = 0;
  if (d.ValidateQuery(position) == 0) {
    auto q = reportdef::Query::Parse(d.QueryText(), error);
    reportdef::FileFacts facts;
    facts.name = "b.txt";
    facts.directory = "C:\\x";
    if (!q) __builtin_trap();
    (void)q->Matches(facts);
  }
  (void)d.UsedFields();
  return 0;
}

}  // namespace vn::fuzz
