#pragma once
// The verbs of vnadmin, the administrator's command line. Each takes the
// arguments after its name, writes its result to `out` and its complaints to
// `err`, and returns the process's exit status (AdminOutput.h: kExitSuccess,
// kExitFailure, kExitUsage, kExitNotRunning). They use only the platform's
// calls, so each works the same for this machine and for any other the
// machine directory can reach. Call them from one thread at a time: the Win32
// calls report their failures through the thread's last error.
//
// The formats they print are described in docs/vnadmin.md.

#include <iosfwd>
#include <string>
#include <vector>

namespace vn::admin {

using Arguments = std::vector<std::string>;

// NetVerbs.cpp: the machines of a domain, the domains, a machine's shares.
[[nodiscard]] int ViewVerb(const Arguments& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int SharesVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// FileVerbs.cpp: directory listings, copies and deletes on any machine.
[[nodiscard]] int DirVerb(const Arguments& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int CopyVerb(const Arguments& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int DelVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// RegVerb.cpp: query, add and delete registry keys and values.
[[nodiscard]] int RegVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// ScVerb.cpp: a machine's services.
[[nodiscard]] int ScVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// AtVerb.cpp: a machine's scheduled jobs.
[[nodiscard]] int AtVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// MachineVerbs.cpp: this machine's own service.
[[nodiscard]] int StatusVerb(const Arguments& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int StopVerb(const Arguments& args, std::ostream& out, std::ostream& err);
// A machine's event log (this machine's by default).
[[nodiscard]] int EventLogVerb(const Arguments& args, std::ostream& out, std::ostream& err);

// HistoryVerbs.cpp: the scan history the runs record, and the growth
// report between two of its scans.
[[nodiscard]] int HistoryVerb(const Arguments& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int GrowthVerb(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace vn::admin
