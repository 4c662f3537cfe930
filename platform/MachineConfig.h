#pragma once
// A machine's configuration: what it is called, which domain it belongs to and
// in which role, where its service listens, its drives and its shares. Read
// from machine.ini in the machine home (docs/machine-configuration.md); every
// setting has a default, so an empty or missing file describes the host itself
// as a workstation of domain WORKGROUP with the host's file systems as drives.
//
// The secrets of the domains this machine may manage are kept apart, in
// secrets.ini (mode 0600) beside it: never in the registry, which other
// machines can read.
//
// Plain data; loading is the only operation that can fail.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace vn {

// The well-known port of the machine service.
inline constexpr std::uint16_t kMachineServicePort = 7139;

enum class MachineRole { Workstation, Server, PrimaryDomainController, BackupDomainController };

// GetDriveTypeA's values.
inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

// Share types (SHARE_INFO_1::shi1_type).
inline constexpr DWORD STYPE_DISKTREE = 0;
inline constexpr DWORD STYPE_PRINTQ = 1;
inline constexpr DWORD STYPE_DEVICE = 2;
inline constexpr DWORD STYPE_IPC = 3;
inline constexpr DWORD STYPE_SPECIAL = 0x80000000;

struct DriveMapping {
  char letter = 'C';                 // upper case
  std::filesystem::path root;        // the directory the drive's "X:\" is
  UINT type = DRIVE_FIXED;
  std::string fileSystem;            // as GetVolumeInformationA names it ("NTFS", "ext4"...)
  std::string label;                 // volume label, may be empty
};

struct ShareDefinition {
  std::string name;                  // case kept; looked up without case
  std::filesystem::path root;        // the directory the share is
  DWORD type = STYPE_DISKTREE;       // STYPE_DISKTREE, or STYPE_SPECIAL | STYPE_DISKTREE for C$, ADMIN$
  std::string remark;
};

struct MachineConfig {
  std::filesystem::path home;
  std::string name;                  // computer name, upper case, at most 15 characters
  std::string domain = "WORKGROUP";  // upper case
  MachineRole role = MachineRole::Workstation;
  std::string listenAddress = "127.0.0.1";
  std::uint16_t port = kMachineServicePort;
  std::filesystem::path hostsFile;   // LMHOSTS-style name table (HostsFile.h); default <home>/hosts
  // Drives in letter order. Always holds C: and the system drive.
  std::vector<DriveMapping> drives;
  // The system drive letter and the Windows directory on it ("S:\WINNT"): inside
  // the home, so installing and removing the server never writes outside it.
  char systemDrive = 'S';
  std::string windowsDirectory;      // as a Windows path, e.g. "S:\\WINNT"
  // Configured disk shares, then C$, D$... for each fixed drive and ADMIN$ for
  // the Windows directory (STYPE_SPECIAL), then IPC$ (STYPE_IPC).
  std::vector<ShareDefinition> shares;
  // Domain name (upper case) -> shared secret, from secrets.ini.
  std::map<std::string, std::string> secrets;
};

// Reads the configuration of the machine whose home is `home`. Fails (with a
// message naming the file, line and problem in *error) on a malformed file: an
// unknown role, a bad port or address, a drive letter out of A-Z, a share whose
// directory is not absolute or names no drive. Never half-fills *config.
bool LoadMachineConfig(const std::filesystem::path& home, MachineConfig* config, std::string* error);

// The drives a machine has by default: C: = "/", then the host's other real
// local file systems as fixed drives, network file systems as remote drives,
// iso9660/udf as CD-ROM drives (D:, E:... in mount order); pseudo file systems
// are left out. Read from /proc/self/mountinfo, or from `mountinfo` when given
// (tests).
std::vector<DriveMapping> DefaultDrives(const std::optional<std::filesystem::path>& mountinfo = std::nullopt);

}  // namespace vn
