#pragma once
// The endpoint of a machine on this host, served from its configuration and
// its file systems with POSIX calls: what the local machine's own Win32 calls
// use, and what the machine service serves to other machines.
//
// Construct one over a MachineConfig (LoadMachineConfig); it keeps no other
// state, so it is safe from any thread and any number may exist at once (one
// per machine of a test network in one process, say).
//
// Roots: RootAccess::SharesAndDrives lets callers name drives ("C:") as well as
// shares; the service answers other machines through an endpoint made with
// RootAccess::SharesOnly, so that a drive root from the network is
// ERROR_BAD_NET_NAME and only shares are reachable. Every path goes through
// PathMap.h's rules, and is then opened below its root's directory without a
// gap between check and use (OpenBeneath.h: links that lead outside the root
// give ERROR_ACCESS_DENIED, also when swapped in during a call). A SharesOnly
// endpoint also refuses the places ProtectedPaths.h lists (the machine's home
// and secrets, the system's credentials, /proc, /sys, /dev, /run) with
// ERROR_ACCESS_DENIED, and leaves them out of directory listings.
//
// The browse list (EnumServers, GetDCName) comes from the machine's hosts file,
// read anew on each call. A hosts entry without #DOM belongs to WORKGROUP, the
// domain of a machine that names none. A workstation or server is a domain
// member (SV_TYPE_DOMAIN_MEMBER) when its domain has a controller in the hosts
// file (or is one); the machine itself is described by its own configuration.
//
// Files:
// - Attributes: DIRECTORY for directories; READONLY when the owner has no
//   write permission; HIDDEN for names starting with "." (not "." and "..");
//   ARCHIVE for regular files; SYSTEM for devices, pipes and sockets; NORMAL
//   only when no other bit is set. Links are described by what they lead to,
//   except links that lead outside the root, which are described as themselves.
// - Times are FILETIME ticks: creation = birth time where the file system
//   keeps one, else the status change time; access = atime; write = mtime.
// - FindFiles lists "." and ".." first (when the pattern matches them and the
//   directory is not a root), then the other names in case-insensitive order.
//   Host names that cannot be Windows names (holding \ : * ? " < > | or control
//   characters) are left out: they could never be opened by name.
// - DeleteFile refuses directories and read-only files (ERROR_ACCESS_DENIED);
//   RemoveDirectory refuses files (ERROR_DIRECTORY) and non-empty directories
//   (ERROR_DIR_NOT_EMPTY); CreateDirectory gives ERROR_ALREADY_EXISTS for any
//   existing name and ERROR_PATH_NOT_FOUND when the parent is missing. Roots
//   cannot be created, removed or written (ERROR_ACCESS_DENIED).
// - OpenWrite writes a temporary file (".vnpart-*.tmp", PartialCopies.h) in the
//   target directory, which it holds open; Commit sets the write time, flushes
//   and renames it into place relative to that directory (with
//   failIfExists, atomically without ever replacing a file that appeared
//   meanwhile). The temporary file is removed when the writer is destroyed
//   uncommitted, and by the next start of the machine service when the writing
//   process was killed. Listings never show temporary files. A writer used
//   after Commit gives ERROR_INVALID_HANDLE.
// - OpenRead streams from an open descriptor; the reader keeps reading the
//   file it opened even when the name is replaced meanwhile.

#include <memory>

#include "platform/core/FlushBehind.h"
#include "platform/endpoints/MachineEndpoint.h"
#include "platform/machine/PathMap.h"
#include "platform/machine/ProtectedPaths.h"

namespace vn {

class LocalMachine final : public MachineEndpoint {
 public:
  explicit LocalMachine(std::shared_ptr<const MachineConfig> config,
                        RootAccess roots = RootAccess::SharesAndDrives);
  explicit LocalMachine(MachineConfig config, RootAccess roots = RootAccess::SharesAndDrives);

  const MachineConfig& Config() const { return *m_config; }

  [[nodiscard]] LONG GetServerInfo(ServerInfo* info) override;
  [[nodiscard]] LONG EnumServers(DWORD typeMask, const std::string& domain, std::vector<ServerInfo>* servers) override;
  [[nodiscard]] LONG GetDCName(const std::string& domain, std::string* controller) override;
  [[nodiscard]] LONG EnumShares(std::vector<ShareInfo>* shares) override;
  [[nodiscard]] LONG ConnectRegistry(std::shared_ptr<RegistryHive>* hive) override;

  [[nodiscard]] LONG GetDrives(std::vector<DriveInfo>* drives) override;
  [[nodiscard]] LONG GetVolumeInfo(const MachinePath& root, VolumeInfo* info) override;
  [[nodiscard]] LONG GetDiskSpace(const MachinePath& path, DiskSpace* space) override;
  [[nodiscard]] LONG FindFiles(const MachinePath& pattern, std::vector<FileEntry>* entries) override;
  [[nodiscard]] LONG GetFileInfo(const MachinePath& path, FileEntry* entry) override;
  [[nodiscard]] LONG CreateDirectory(const MachinePath& path) override;
  [[nodiscard]] LONG RemoveDirectory(const MachinePath& path) override;
  [[nodiscard]] LONG DeleteFile(const MachinePath& path) override;
  [[nodiscard]] LONG OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) override;
  [[nodiscard]] LONG OpenWrite(const MachinePath& path, bool failIfExists,
                               std::unique_ptr<FileWriter>* writer) override;
  // Built from the configuration and the host's accounts (Accounts.h).
  [[nodiscard]] LONG GetAccounts(AccountTable* table) override;

 private:
  struct Target;
  [[nodiscard]] LONG Resolve(const MachinePath& path, PathKind kind, ResolvedPath* resolved) const;
  // Opens what `resolved` names below its root (OpenBeneath.h), refusing
  // protected places: ERROR_ACCESS_DENIED.
  [[nodiscard]] LONG Open(const ResolvedPath& resolved, bool followLast, bool needObject, Target* target) const;

  std::shared_ptr<const MachineConfig> m_config;
  RootAccess m_roots;
  ProtectedPaths m_protected;   // empty for the local machine's own callers
  // Flushes files being written behind their writers (shared with them: a
  // writer may outlive the machine object).
  std::shared_ptr<FlushBehind> m_flusher = std::make_shared<FlushBehind>();
};

// The server type bits of a machine in `role`; `domainMember` adds
// SV_TYPE_DOMAIN_MEMBER to workstations and servers.
DWORD ServerTypeOf(MachineRole role, bool domainMember);

}  // namespace vn
