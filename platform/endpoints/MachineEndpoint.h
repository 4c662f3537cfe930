#pragma once
// What one machine offers the others: its server information, browse list,
// shares, registry, files and accounts. LocalMachine serves the machine this process
// runs on straight from its configuration and file systems; RemoteMachine
// reaches another machine through that machine's service, which serves its
// LocalMachine. The Win32-shaped calls (Net.h, WNet.h, Files.h, Registry.h)
// find the endpoint of the machine a name or path names (MachineDirectory.h)
// and then call it, so local and remote calls give the same results and the
// same Win32 / network error codes.
//
// Files are named by a MachinePath: a root and a path below it. The root is a
// share name ("Data", "C$", "ADMIN$") or, on the local machine only, a drive
// ("C:"). Path translation (PathMap.h) keeps every path inside its root.
//
// Endpoints are safe to call from any thread. Results are Win32 or network
// error codes (0 = success).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/hive/RegistryHive.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/PathMap.h"

namespace vn {

struct AccountTable;

struct ServerInfo {
  std::string name;            // upper case, no backslashes
  DWORD platformId = PLATFORM_ID_NT;
  DWORD versionMajor = 4;
  DWORD versionMinor = 0;
  DWORD type = SV_TYPE_NT;     // SV_TYPE_* bits by role
  std::string comment;
  std::string domain;          // upper case
};

struct ShareInfo {
  std::string name;
  DWORD type = STYPE_DISKTREE;
  std::string remark;
};

// One directory entry as a search finds it. Times are FILETIME ticks (100 ns
// since 1601, UTC).
struct FileEntry {
  std::string name;
  std::string alternateName;   // 8.3 name when the long name is not one, else empty
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  std::uint64_t size = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t lastAccessTime = 0;
  std::uint64_t lastWriteTime = 0;
};

struct VolumeInfo {
  std::string label;
  DWORD serialNumber = 0;
  DWORD maxComponentLength = 255;
  DWORD flags = 0;
  std::string fileSystem;
};

struct DiskSpace {
  std::uint64_t freeBytesToCaller = 0;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalFreeBytes = 0;
  DWORD bytesPerSector = 512;
  DWORD sectorsPerCluster = 8;
};

struct DriveInfo {
  char letter = 'C';
  UINT type = DRIVE_FIXED;
};

// Reads a file from its start; Read returns 0 bytes at the end. Owned by the caller.
class FileReader {
 public:
  virtual ~FileReader() = default;
  [[nodiscard]] virtual LONG Read(std::span<BYTE> buffer, std::size_t* bytesRead) = 0;
  virtual std::uint64_t Size() const = 0;
};

// Writes a new file. Nothing is visible under the file's name until Commit
// succeeds; a writer destroyed without Commit leaves nothing behind.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  [[nodiscard]] virtual LONG Write(std::span<const BYTE> data) = 0;
  // Puts the file in place: fails with ERROR_FILE_EXISTS when it was opened
  // with failIfExists and the name has appeared meanwhile.
  [[nodiscard]] virtual LONG Commit(std::uint64_t lastWriteTime) = 0;
};

class MachineEndpoint {
 public:
  virtual ~MachineEndpoint() = default;

  // NetServerGetInfo level 101; the only call that needs no identity in the domain.
  [[nodiscard]] virtual LONG GetServerInfo(ServerInfo* info) = 0;
  // The servers this machine's browse list knows (its hosts file) whose type has
  // any of `typeMask`'s bits, in `domain` when not empty; with SV_TYPE_DOMAIN_ENUM
  // the domains instead (name = domain, type = SV_TYPE_DOMAIN_ENUM).
  [[nodiscard]] virtual LONG EnumServers(DWORD typeMask, const std::string& domain,
                                         std::vector<ServerInfo>* servers) = 0;
  // The domain controller of `domain` (empty = this machine's domain) as this
  // machine knows it: its name, upper case. NERR_DCNotFound (2453) when none.
  [[nodiscard]] virtual LONG GetDCName(const std::string& domain, std::string* controller) = 0;
  [[nodiscard]] virtual LONG EnumShares(std::vector<ShareInfo>* shares) = 0;
  [[nodiscard]] virtual LONG ConnectRegistry(std::shared_ptr<RegistryHive>* hive) = 0;

  [[nodiscard]] virtual LONG GetDrives(std::vector<DriveInfo>* drives) = 0;
  [[nodiscard]] virtual LONG GetVolumeInfo(const MachinePath& root, VolumeInfo* info) = 0;
  [[nodiscard]] virtual LONG GetDiskSpace(const MachinePath& path, DiskSpace* space) = 0;
  // The entries of the directory `pattern` lies in whose names match its last
  // component (Windows wildcards: "*", "?", "*.*" matches every name), "." and
  // ".." included for a directory that is not a root, as Windows gives them.
  // ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND when the
  // directory does not exist.
  [[nodiscard]] virtual LONG FindFiles(const MachinePath& pattern, std::vector<FileEntry>* entries) = 0;
  [[nodiscard]] virtual LONG GetFileInfo(const MachinePath& path, FileEntry* entry) = 0;
  [[nodiscard]] virtual LONG CreateDirectory(const MachinePath& path) = 0;
  [[nodiscard]] virtual LONG RemoveDirectory(const MachinePath& path) = 0;
  [[nodiscard]] virtual LONG DeleteFile(const MachinePath& path) = 0;
  [[nodiscard]] virtual LONG OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) = 0;
  // ERROR_FILE_EXISTS at once when failIfExists and the file exists; an existing
  // file is replaced on Commit otherwise (a read-only one: ERROR_ACCESS_DENIED).
  [[nodiscard]] virtual LONG OpenWrite(const MachinePath& path, bool failIfExists,
                                       std::unique_ptr<FileWriter>* writer) = 0;

  // The machine's accounts (AccountTable.h), read afresh.
  [[nodiscard]] virtual LONG GetAccounts(AccountTable* table) = 0;
};

}  // namespace vn
