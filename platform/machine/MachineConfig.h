#pragma once
// A machine's configuration: what it is called, which domain it belongs to and
// in which role, where its service listens, its drives and its shares. Read
// from machine.ini in the machine home (docs/machine-configuration.md); every
// setting has a default, so an empty or missing file describes the host itself
// as a workstation of domain WORKGROUP with the host's file systems as drives.
//
// The identities that let this machine reach the machines of its domain (and
// of the other domains it manages) are kept apart, in identity/ beside it
// (DomainIdentity.h): never in the registry, which other machines can read.
//
// Plain data; loading is the only operation that can fail.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn {

// The well-known port of the machine service.
inline constexpr std::uint16_t kMachineServicePort = 7139;

enum class MachineRole { Workstation, Server, PrimaryDomainController, BackupDomainController };

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

// An account the configuration adds to the host's ([Accounts] of machine.ini):
// a user or global group of the machine's domain, or a local group of the
// machine (Accounts.h).
enum class AccountKind { User, Group, LocalGroup };

struct AccountDefinition {
  std::string name;                  // case kept; unique without case
  AccountKind kind = AccountKind::User;
  std::string fullName;              // users only, may be empty
  std::string comment;               // may be empty
};

// What the machine service holds open for its callers ([Limits] of
// machine.ini): file streams (ReadFile, FindFiles, WriteFile) and relayed
// pipes, per caller and in total, and how long one may stay idle.
struct ServiceLimits {
  unsigned streamsPerClient = 16;
  unsigned streamsTotal = 256;
  unsigned pipesPerClient = 16;
  unsigned pipesTotal = 256;
  unsigned streamIdleSeconds = 120;
  unsigned pipeIdleSeconds = 900;
};

struct MachineConfig {
  std::filesystem::path home;
  std::string name;                  // computer name, upper case, at most 15 characters
  std::string domain = "WORKGROUP";  // upper case
  MachineRole role = MachineRole::Workstation;
  std::string comment;               // server comment (NetServerGetInfo), may be empty
  // IPv4 address, IPv6 address in brackets ("[::1]") or host name: the
  // service listens on listenAddress + ":" + port.
  std::string listenAddress = "127.0.0.1";
  std::uint16_t port = kMachineServicePort;
  std::filesystem::path hostsFile;   // LMHOSTS-style name table (HostsFile.h); default <home>/hosts
  // Whether a name the hosts file does not hold is asked of the host's
  // resolver (DNS); when not, such a name is unknown at once.
  bool hostResolver = true;
  // Drives in letter order. Always holds C: and the system drive.
  std::vector<DriveMapping> drives;
  // The system drive letter and the Windows directory on it ("S:\WINNT"): inside
  // the home, so installing and removing the server never writes outside it.
  char systemDrive = 'S';
  std::string windowsDirectory;      // as a Windows path, e.g. "S:\\WINNT"
  // Configured disk shares, then C$, D$... for each fixed drive and ADMIN$ for
  // the Windows directory (STYPE_SPECIAL), then IPC$ (STYPE_IPC).
  std::vector<ShareDefinition> shares;
  // Accounts of [Accounts], in file order.
  std::vector<AccountDefinition> accounts;
  ServiceLimits limits;
};

// Reads the configuration of the machine whose home is `home` (machine.ini;
// docs/machine-configuration.md). Fails (with a message naming
// the file, line and problem in *error) on a malformed file: an unknown role or
// setting, a bad port or address, a drive letter out of A-Z, a drive directory
// that is not absolute, a share whose directory is not absolute or names no
// drive. Never half-fills *config. Does
// not touch the disk beyond reading (InitialiseMachine creates directories).
[[nodiscard]] bool LoadMachineConfig(const std::filesystem::path& home, MachineConfig* config, std::string* error);

// A computer name as Windows keeps it: cut at the first dot (a host name such
// as "build-07.example.org" becomes "BUILD-07"), at most 15 characters, upper case.
std::string NormaliseComputerName(std::string_view name);

// The computer name of the machine whose home is `home`: [Machine] Name of its
// machine.ini, else the host name, normalised. Reads the file the way
// LoadMachineConfig does but never fails: a malformed file only loses its name.
std::string ConfiguredComputerName(const std::filesystem::path& home);

// The drives a machine has by default: C: = "/", then the host's other real
// local file systems as fixed drives, network file systems as remote drives,
// iso9660/udf as CD-ROM drives (D:, E:... in mount order); pseudo file systems
// are left out, and so are mount points that are files (a container's
// /etc/hosts). The letter `systemDrive` is skipped. Read from
// /proc/self/mountinfo, or from `mountinfo` when given (tests).
std::vector<DriveMapping> DefaultDrives(const std::optional<std::filesystem::path>& mountinfo = std::nullopt,
                                        char systemDrive = 'S');

}  // namespace vn
