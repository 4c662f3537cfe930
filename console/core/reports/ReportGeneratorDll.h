#pragma once
// One custom report's definition as the console edits and stores it: the
// definition library's lists and queries (reportdef/ReportDefinition.h) and
// their load and save by machine and report name.
//
// The definition is stored as the "Def." values of the custom report's key
// "Software\Halvard\Vornal\4.0\Custom Reports\<name>", beside the option
// values SaveCustomReportOptions writes, so copying or deleting the key
// (CopyStoredReport, DeleteCustomReport) carries the definition with it.
// Each value is a text of at most 1000 characters, within what
// CopyRegistryValues moves.

#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"
#include "reportdef/ReportDefinition.h"

namespace vn::console {

class ReportGeneratorDll : public reportdef::ReportDefinition {
 public:
  // Replaces the definition by the stored one. A registry failure answers its
  // code; a key without any definition value ERROR_FILE_NOT_FOUND; a damaged
  // definition ERROR_INVALID_DATA with LoadMessage() saying which value is at
  // fault. On any failure the
  // definition is left as it was.
  LONG LoadReportDefinition(std::string_view machine, std::string_view reportName);
  // Writes every value of the definition (creating the key if needed) and
  // removes "Def." values an earlier, longer definition left. The registry
  // code of the first failing call, 0 for success.
  LONG SaveReportDefinition(std::string_view machine, std::string_view reportName) const;

  const std::string& LoadMessage() const { return m_loadMessage; }

 private:
  std::string m_loadMessage;
};

}  // namespace vn::console
