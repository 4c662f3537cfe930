#pragma once
// Sets the local machine up as a management station and reporting server,
// the way a push install leaves a machine, and changes nothing when it
// already is one:
// - the product directory "X:\Program Files\Pemberlyn\4.0" on the machine's
//   system drive X, with bin\ (the server "VNSrv.exe" and its companion
//   files) and "VNDist" (what a push install copies to other machines), and
//   the uninstaller "pbuninst.exe" in the Windows directory;
// - the product key "Software\Halvard\Vornal\4.0": "Vornal_DIR",
//   "ServerInstalled" 1, "ClientInstalled" 1, "ReleaseBuild" "434",
//   "CurrentVersion" "4.0", and "ServerLogging" "Disabled" when it has none
//   (an administrator's choice is kept); the suite key's "PBRoot";
// - the service "RODuduro" (automatic start) running that VNSrv.exe; created
//   when missing, started when stopped, restarted when its program was
//   replaced by a newer build;
// - three report sets ready to run ("Daily Space Check", "Cleanup
//   Candidates", "Security Audit"), each written only when the machine has
//   no set of that name.
// Files are written only when their content differs, through a temporary
// name and a rename, so a running server's program is never half-written.
// The machine's own service must run (it runs the services): it is started
// as the console starts it when it does not answer.
//
// Returns 0, or the Win32 code of the first step that failed, with a line
// saying what on `err`. Each change is one line on `out`.

#include <filesystem>
#include <ostream>

#include "platform/core/Win32Types.h"

namespace vn::vnsetup {

struct SetupOptions {
  std::filesystem::path serverProgram;  // the VNSrv program of this build
};

[[nodiscard]] LONG SetUpThisMachine(const SetupOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vn::vnsetup
