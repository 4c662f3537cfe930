#include "console/core/reports/ReportSet.h"

namespace vn::console {

ReportSet::ReportSet() {
  for (int index = 0; index < kReportCount; ++index) {
    (*this)[index].Options.Report = ServerCodeFromIndex(index);
  }
}

}  // namespace vn::console
