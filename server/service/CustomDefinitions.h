#pragma once
// The definition of a custom report, read where the report's record says it
// is stored: CustomReport "\\MACHINE\Name" is the key
// "Software\Halvard\Vornal\4.0\Custom Reports\Name" of MACHINE's registry
// (this machine's own hive when MACHINE is this machine, else through that
// machine's service). Its values named "Def." ... are the definition
// (reportdef/ReportDefinition.h); the others are the report's options, which
// came in the record itself.
//
// Failures carry a Win32 code and a message for the console's user: the
// machine unreachable, the report gone, or a definition that is damaged
// (edited by hand, cut short), which names the value at fault. Nothing here
// throws; any thread.

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn::reportdef {
class ReportDefinition;
}

namespace vn::vnsrv {

struct LoadedDefinition {
  LONG error = ERROR_SUCCESS;
  std::string message;
  std::shared_ptr<const reportdef::ReportDefinition> definition;
};

LoadedDefinition LoadCustomDefinition(std::string_view customReport);

}  // namespace vn::vnsrv
