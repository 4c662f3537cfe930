// status and stop: this machine's own service (vnmachined), found through the
// pid file in its home.
#include "hosts/vnadmin/AdminVerbs.h"

#include <chrono>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/endpoints/MachineServiceStarter.h"

namespace vn::admin {
namespace {

// Long enough for the service to stop its services (each gets 10 s before it
// is killed) and close its connections.
constexpr std::chrono::seconds kStopTimeout{30};

}  // namespace

int StatusVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) return BadUsage(err, "status", "status takes no arguments");
  const LocalMachineServiceState state = QueryLocalMachineService();
  // Running but not answering: started and not listening yet, or stuck.
  const std::string shown = !state.running ? "stopped" : state.answers ? "running" : "not answering";
  Table table({"Machine", "Domain", "State", "Pid", "Address"});
  table.Add({state.name, state.domain, shown, state.running ? std::to_string(state.pid) : "-", state.address});
  table.Print(out);
  return state.running ? kExitSuccess : kExitNotRunning;
}

int StopVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) return BadUsage(err, "stop", "stop takes no arguments");
  int pid = 0;
  if (const LONG error = StopLocalMachineService(kStopTimeout, &pid); error != ERROR_SUCCESS)
    return Fail(err, pid ? "the machine service (pid " + std::to_string(pid) + ")" : "the machine service",
                static_cast<DWORD>(error));
  out << "Stopped the machine service (pid " << pid << ")\n";
  return kExitSuccess;
}

}  // namespace vn::admin
