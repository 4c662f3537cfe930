#pragma once
// What the object tree's items contain, asked of the platform: the local
// drives, the network browse (domains, machines, disk shares), subfolders, the
// Windows NT test for a machine, and the stored preferred machines.
//
// Every call here may reach another machine through its machine service and
// then wait for it (up to the platform's connection time-out for a machine that
// is switched off): call them off the user-interface thread for anything that
// is not local (CObjectTreeLoader does). They are safe from any thread. Failure
// is an empty list, never an error: an unreachable machine or share simply has
// nothing in it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/objects/KSItemType.h"
#include "platform/core/Win32Types.h"

struct NETRESOURCEA;

namespace vn::console {

struct DriveEntry {
  std::string root;          // "C:\"
  KSItemType type;           // fixed, remote or CD-ROM
};

struct FolderEntry {
  std::string name;
  bool hasSubfolder = false;
  bool tested = true;  // hasSubfolder was looked at (else it is false, unknown)
};

// This machine's fixed, remote and CD-ROM drives in the order the system lists
// them; removable drives and others are left out.
std::vector<DriveEntry> ListDrives();

// Domain and machine names as the tree shows them: first letter upper case,
// the rest lower case (ASCII letters).
std::string ShapeName(std::string_view name);

// The network browse. With `collect` clear it searches from `parent` (null =
// the top) for the network, then the domain (when `domain` is given), then the
// server (when `server` is given), and collects below the level the given
// names stop at: domains, machines of `domain` (without backslashes), or the
// shares of `server` (their bare names). Names are added to `list`.
void GetNetResource(const NETRESOURCEA* parent, const std::string* domain, const std::string* server,
                    std::vector<std::string>& list, bool collect);

// The browse list's entries of the kinds in `type` (SV_TYPE_... bits) of
// `domain` (empty: this machine's own), by name, batch by batch until the
// list ends. 0, or the code of the call that failed (names before it were
// given already).
[[nodiscard]] DWORD EnumServerNames(DWORD type, const std::string& domain,
                                    const std::function<void(std::string name)>& each);

// The disk shares of `machine`, including the administrative disk shares
// (C$, ADMIN$), without IPC$, printers and devices, in share order.
void GetNetShare(std::string_view machine, std::vector<std::string>& list);
// Share order: names not ending in "$" first; each group by name without case.
void SortShares(std::vector<std::string>& shares);

// Whether the directory has at least one subdirectory (one level looked at).
bool HasSubfolder(std::string_view path);
// The subdirectories of `path`, sorted by name without case; the first
// `tested` of them with whether they have subdirectories themselves (one
// directory search each), the others untested.
std::vector<FolderEntry> ListSubfolders(std::string_view path, std::size_t tested = SIZE_MAX);
// The subdirectories' names only, in the order the system gives them.
std::vector<std::string> ListSubfolderNames(std::string_view path);

// Non-zero when the machine answers for its server information and is a
// Windows NT machine. A name without leading backslashes gets them.
int IsNTMachine(std::string_view machine);

// The stored preferred machines "ALPHA;;BETA" -> {ALPHA, BETA}, and back
// ({ALPHA, BETA} -> "ALPHA;BETA;").
std::vector<std::string> ParsePreferredMachines(std::string_view stored);
std::string FormatPreferredMachines(const std::vector<std::string>& machines);
// The same in the host's profile: section "VNMgr", value "Preferred Machines".
std::vector<std::string> GetPreferredMachines();
void SavePreferredMachines(const std::vector<std::string>& machines);

}  // namespace vn::console
