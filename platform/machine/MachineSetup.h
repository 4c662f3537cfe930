#pragma once
// First start of a machine: the directories of its home and the registry
// values every Windows NT 4.0 machine holds and the console reads.
//
// InitialiseMachine creates the system drive's directory (<home>/system) and
// the Windows directory on it (<home>/system/WINNT, "S:\WINNT"), and fills the
// registry of the home:
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion
//       PathName            REG_SZ  the Windows directory ("S:\WINNT")
//       CurrentVersion      REG_SZ  "4.0"
//       CurrentBuildNumber  REG_SZ  "1381"
//   SYSTEM\CurrentControlSet\Control\Session Manager\Environment
//       PROCESSOR_ARCHITECTURE  REG_SZ  of the host's processor
//   SYSTEM\CurrentControlSet\Services  (the key), with
//     EventLog\Application  (the key of the event log's sources)
//   SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall  (the key)
// Values already present are left as they are, so it runs at every start and
// an administrator's changes stay. It writes nothing outside the home.
//
// The machine service calls it at start; tests call it directly. Safe to call
// from several processes at once (each value is written in one transaction).
// Returns a Win32 code: ERROR_CANTWRITE when a directory cannot be created, or
// the hive's code.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

namespace vn {

[[nodiscard]] LONG InitialiseMachine(const MachineConfig& config);

// The host directory of the Windows directory of `config`.
std::filesystem::path WindowsDirectoryPath(const MachineConfig& config);

// PROCESSOR_ARCHITECTURE for a processor as uname names it: "x86" for the x86
// family (i386...i686, x86_64), "ARM64" for aarch64, else the name in upper case.
std::string ProcessorArchitectureOf(std::string_view machine);

}  // namespace vn
