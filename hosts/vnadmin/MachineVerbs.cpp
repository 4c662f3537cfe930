// status and stop: this machine's own service (vnmachined), found through the
// pid file in its home; eventlog: what a machine's service did with its
// services, and what programs there reported.
#include "hosts/vnadmin/AdminVerbs.h"

#include <chrono>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/AsciiText.h"
#include "platform/endpoints/MachineServiceStarter.h"
#include "platform/services/EventLog.h"

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

int EventLogVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  std::string machine, source;
  std::size_t next = 0;
  if (next < args.size() && IsMachineArgument(args[next])) machine = args[next++];
  if (next + 1 < args.size() && args[next] == "/source") {
    source = args[next + 1];
    next += 2;
  }
  if (next != args.size()) return BadUsage(err, "eventlog", "unexpected argument " + args[next]);
  std::vector<EventRecord> events;
  if (const LONG error = ReadEventLog(machine, &events))
    return Fail(err, "the event log of " + (machine.empty() ? std::string("this machine") : machine),
                static_cast<DWORD>(error));
  Table table({"Time", "Type", "Source", "Event", "Text"});
  for (const auto& event : events)
    if (source.empty() || EqualsIgnoringCase(event.source, source))
      table.Add({event.time, event.type, event.source, std::to_string(event.id), Printable(event.text)});
  table.Print(out);
  return kExitSuccess;
}

}  // namespace vn::admin
