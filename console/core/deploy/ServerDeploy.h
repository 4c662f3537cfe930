#pragma once
// Putting the reporting server on other machines of the network and taking it
// off again, from the console machine, through the platform's remote calls:
// each machine's registry through its service, its files through its drive's
// administrative share ("\\SRV1\S$", redirected to a letter of this
// process), its service "RODuduro" through its service control manager.
//
// Push install (PushInstall): the console machine must itself be a
// management station and server (its product key has "ServerInstalled" 1 and
// "Vornal_DIR"); its distribution folder "<Vornal_DIR>\VNDist" is what goes
// to each machine. Per machine: the bin directory below
// "<drive>:\Program Files\Pemberlyn\4.0" on the drive of its Windows
// directory (an update keeps the machine's own "Vornal_DIR"), every file of
// VNDist copied there ("pbuninst.exe" into the Windows directory instead),
// the product key's values ("Vornal_DIR", "ServerLogging", "ReleaseBuild",
// "CurrentVersion", then "ServerInstalled" 1, so a machine whose copy broke
// off never says it is installed), the console's mail settings, the
// event-log source "Vornal", the uninstall entry "Pemberlyn 4.0", and the
// service created and started (a server that will not start is reported).
//
// Deinstall (DeinstallServer): stops and deletes the service, deletes the
// server's files and removes its directories when empty, and removes the
// registry entries — all of "Software\Halvard\Vornal" when no console is
// installed there, else only the server's values; the uninstall entry stays
// while the sibling product's server is installed.
//
// Both take a list of machine names separated by ";" and work through it in
// order. A failure on one machine is reported once, through the front's
// ShowMessage, with the machine and the system's text of the code, and the
// work goes on with the next machine; nothing done on a machine before its
// failure is undone, and a second run completes what the first left.
// They run on the calling thread (the user-interface thread) and block it.

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::console {

inline constexpr const char* kProductKey = "Software\\Halvard\\Vornal\\4.0";
inline constexpr const char* kProductRootKey = "Software\\Halvard\\Vornal";
inline constexpr const char* kSuiteKey = "Software\\Halvard\\Pemberlyn\\4.0";
inline constexpr const char* kSiblingKey = "Software\\Halvard\\Lunaret\\4.0";
inline constexpr const char* kMailKey = "Software\\Halvard\\Mail";
inline constexpr const char* kWindowsVersionKey = "SOFTWARE\\MicroSoft\\Windows NT\\CurrentVersion";
inline constexpr const char* kEventSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vornal";
inline constexpr const char* kUninstallKey = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL";
inline constexpr const char* kUninstallEntry = "Pemberlyn 4.0";
inline constexpr const char* kReleaseBuild = "434";

// Whether and in which build the server is installed on a machine.
enum ServerInstallState : int {
  kInstallStateUnknown = 0,  // registry not reachable, or the product key refused (5)
  kNotInstalled = 1,         // no product key, or "ServerInstalled" missing or not 1
  kOlderBuild = 2,           // its "ReleaseBuild" is lower than the console's
  kSameBuild = 3,
  kNewerBuild = 4,           // higher, or a build that cannot be compared
};

// A "ReleaseBuild" text as a number: its leading decimal digits (none: 0).
int ParseReleaseBuild(std::string_view text);

// The install state of `machine` (empty or this computer's name: this
// machine), read from its registry and the console's own "ReleaseBuild".
ServerInstallState GetServerInstallState(std::string_view machine);

// The machine names of a list "SRV1;SRV2" (a missing final ";" is supplied;
// empty names between two ";" are kept out).
std::vector<std::string> SplitMachineList(std::string_view list);

// What the procedures need of their windows: the wizard, message boxes, the
// progress window, the wait cursor. The widgets implement it; so do tests.
class CDeployFront {
 public:
  virtual ~CDeployFront() = default;
  // Shows the wizard; true when it ended with Finish.
  virtual bool RunWizard() = 0;
  // A message box with `text`.
  virtual void ShowMessage(const std::string& text) = 0;
  // Work begins (wait cursor, main window repainted) / ends (cursor restored).
  virtual void BeginWork() {}
  virtual void EndWork() {}
  // The progress window of one machine: opened with its title, a status line
  // per step (each advances the bar), Complete with the last line (bar to
  // the end, a pause for the reader), closed when the machine's work ends,
  // also after a failure.
  virtual void OpenProgress(const std::string& title) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void Complete(const std::string& text) = 0;
  virtual void CloseProgress() = 0;
};

// The two procedures described above. The front's wizard comes first; Cancel
// there changes nothing anywhere.
void PushInstall(std::string_view machineList, CDeployFront& front);
void DeinstallServer(std::string_view machineList, CDeployFront& front);

}  // namespace vn::console
