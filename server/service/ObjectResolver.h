#pragma once
// Turns the object list of a report request ("C:\Data;\\SRV1\Share\Dir;SRV1")
// into the directories the engine scans, and says how each is to be written
// in the result.
//
// Accepted objects, each only of this machine:
//   "X:" or "X:\Dir..."        a drive of the machine, or a folder on it
//   "\\THIS\Share[\Dir...]"    a disk share of the machine (C$ and the like
//                              included), or a folder in it
//   "THIS" or "\\THIS"         the whole machine: every fixed drive
// Paths go through the machine's path map, so they never leave their drive or
// share. Whatever cannot be resolved becomes an object with `error` set (the
// engine names it in the progress and the result heading and goes on).
//
// How results name paths (`shownRoot`): a share object as its share path
// ("\\SRV1\Data\Dir"); a drive object or whole-machine drive through the
// drive's administrative share ("\\SRV1\C$\Dir"), except when the console
// runs on this very machine, which may see local drive paths ("C:\Dir"). A
// drive root is shown without a trailing backslash ("C:", "\\SRV1\C$"), so
// the engine's Directory + "\" + FileName is always a path the console
// reaches. A drive without an administrative share cannot be shown to another
// machine: it is an error object.
//
// Plain functions over a configuration the caller owns; any thread.

#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/MachineConfig.h"
#include "server/engine/ReportEngine.h"

namespace vn::vnsrv {

// Whether the progress pipe `pipeName` ("\\MACHINE\pipe\NAME") is on this
// machine, i.e. whether the console that runs the report is this machine.
// An empty or malformed name is taken as another machine.
bool ConsoleIsLocal(std::string_view pipeName);

std::vector<server::ScanObject> ResolveObjects(const MachineConfig& config, std::string_view objects,
                                               bool consoleIsLocal);

}  // namespace vn::vnsrv
