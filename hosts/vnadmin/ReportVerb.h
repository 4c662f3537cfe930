#pragma once
// `vnadmin report`: runs one standard report on one machine's reporting
// server through KSCli, exactly as the console does, and writes the fetched
// result to a file.
//
//   vnadmin report MACHINE "REPORT NAME" OBJECTS [options] -o FILE
//
// OBJECTS are the machine's paths joined by ";" ("C:\Data", "\\SRV1\Share",
// or the machine's name for all its fixed drives). Options fill the report
// record (criteria of the current slot, chosen with --slot):
//   --slot 0-3            the criterion slot the next criteria options set
//   --scope between|larger|smaller|all      --measure mb|kb|bytes|date|days|months|years|percent
//   --value1 TEXT  --value2 TEXT
//   --readonly|--archive|--compress|--hidden|--system|--temp set|clear|any
//   --compare             compare contents (duplicate files)
//   --filter PATTERNS     --owner NAMES       --fields MASK (decimal or 0x...)
//   --rptlen N            --units bytes|kb|mb --options MASK
//   --quiet               no progress on the error stream
// Progress texts from the server are shown on `err` as they arrive, through
// a progress pipe of this machine (reached by the server through this
// machine's service). Ctrl+C answers the server's next text with "CANCEL";
// a second Ctrl+C ends the program at once.
//
// Returns 0 when the result was written; 1 when the report failed or was
// cancelled (with the server's message, or the system text of the code, on
// `err`); 2 for a command line it does not accept. FILE is written whole or
// not at all. Call from the program's main thread: SIGINT is taken while the
// report runs and given back afterwards.

#include <ostream>
#include <string>
#include <vector>

namespace vn::admin {

// `args`: what follows the verb.
[[nodiscard]] int ReportVerb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vn::admin
