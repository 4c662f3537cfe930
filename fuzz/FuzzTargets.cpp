#include "fuzz/FuzzTargets.h"

#include <array>

namespace vn::fuzz {

std::span<const Target> Targets() {
  static constexpr std::array<Target, 10> kTargets = {{
      {"result_file", FuzzResultFile},
      {"chart_file", FuzzChartFile},
      {"report_record", FuzzReportRecord},
      {"server_message", FuzzServerMessage},
      {"vn_command", FuzzVNCommand},
      {"machine_ini", FuzzMachineIni},
      {"hosts_file", FuzzHostsFile},
      {"credentials", FuzzCredentials},
      {"report_clip", FuzzReportClip},
      {"custom_definition", FuzzCustomDefinition},
  }};
  return kTargets;
}

}  // namespace vn::fuzz
