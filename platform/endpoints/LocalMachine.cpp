#include "platform/endpoints/LocalMachine.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "platform/accounts/AccountTable.h"
#include "platform/core/AsciiText.h"
#include "platform/core/UniqueFd.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/HostsFile.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

// GetVolumeInformationA's file system flags.
constexpr DWORD FS_CASE_IS_PRESERVED = 0x00000002;
constexpr DWORD FS_UNICODE_STORED_ON_DISK = 0x00000004;
constexpr DWORD FILE_READ_ONLY_VOLUME = 0x00080000;

// The domain of a hosts entry that names none, and of a machine whose configuration names none.
constexpr const char* kDefaultDomain = "WORKGROUP";

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffset = 11644473600ULL;

std::uint64_t FileTimeOf(std::int64_t seconds, std::uint32_t nanoseconds) {
  const std::int64_t since1601 = seconds + static_cast<std::int64_t>(kFileTimeEpochOffset);
  if (since1601 < 0) return 0;
  return static_cast<std::uint64_t>(since1601) * 10'000'000ULL + nanoseconds / 100;
}

// statx relative to `dir` (AT_FDCWD for absolute paths), following links when asked.
bool StatX(int dir, const char* path, bool follow, struct statx* sx) {
  const int flags = (follow ? 0 : AT_SYMLINK_NOFOLLOW) | AT_NO_AUTOMOUNT;
  return ::statx(dir, path, flags, STATX_BASIC_STATS | STATX_BTIME, sx) == 0;
}

FileEntry EntryOf(const std::string& name, const struct statx& sx) {
  FileEntry entry;
  entry.name = name;
  DWORD attributes = 0;
  const auto mode = sx.stx_mode;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else if (S_ISREG(mode)) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  else if (!S_ISLNK(mode)) attributes |= FILE_ATTRIBUTE_SYSTEM;
  if (!(mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  entry.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  entry.size = S_ISREG(mode) ? sx.stx_size : 0;
  const auto& created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  entry.creationTime = FileTimeOf(created.tv_sec, created.tv_nsec);
  entry.lastAccessTime = FileTimeOf(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  entry.lastWriteTime = FileTimeOf(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  return entry;
}

// Whether a host name can be used as a Windows name.
bool IsWindowsName(std::string_view name) {
  return std::none_of(name.begin(), name.end(),
                      [](unsigned char c) { return c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr; });
}

bool IsInside(const std::string& path, const fs::path& root) {
  char buffer[PATH_MAX];
  if (!::realpath(root.c_str(), buffer)) return false;
  const std::string real(buffer);
  return real == "/" || path == real || (path.starts_with(real) && path.size() > real.size() && path[real.size()] == '/');
}

std::string FileSystemOfMagic(std::uint64_t magic) {
  switch (magic) {
    case EXT4_SUPER_MAGIC: return "ext4";
    case XFS_SUPER_MAGIC: return "xfs";
    case BTRFS_SUPER_MAGIC: return "btrfs";
    case TMPFS_MAGIC: return "tmpfs";
    case OVERLAYFS_SUPER_MAGIC: return "overlay";
    case NFS_SUPER_MAGIC: return "nfs";
    case MSDOS_SUPER_MAGIC: return "FAT32";
    case ISOFS_SUPER_MAGIC: return "CDFS";
    case F2FS_SUPER_MAGIC: return "f2fs";
    case 0xFF534D42: return "cifs";        // CIFS
    case 0xFE534D42: return "cifs";        // SMB2
    case 0x5346544E: return "NTFS";        // ntfs3
    case 0x2011BAB0: return "exFAT";
    case 0x15013346: return "UDF";
    case 0x2FC12FC1: return "zfs";
    case 0x65735546: return "fuse";
    default: return "unknown";
  }
}

// The file or directory `resolved` names must exist; else the code Windows gives.
LONG MissingCode(const ResolvedPath& resolved) {
  if (resolved.Exists()) return ERROR_SUCCESS;
  return resolved.existing + 1 == resolved.components.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

class LocalFileReader final : public FileReader {
 public:
  LocalFileReader(UniqueFd fd, std::uint64_t size) : m_fd(std::move(fd)), m_size(size) {}
  LocalFileReader(const LocalFileReader&) = delete;
  LocalFileReader& operator=(const LocalFileReader&) = delete;

  LONG Read(std::span<BYTE> buffer, std::size_t* bytesRead) override {
    *bytesRead = 0;
    while (true) {
      const ssize_t n = ::read(m_fd.Get(), buffer.data(), buffer.size());
      if (n >= 0) {
        *bytesRead = static_cast<std::size_t>(n);
        return ERROR_SUCCESS;
      }
      if (errno != EINTR) return errno == EIO ? ERROR_READ_FAULT : Win32FromErrno(errno);
    }
  }
  std::uint64_t Size() const override { return m_size; }

 private:
  UniqueFd m_fd;
  std::uint64_t m_size;
};

class LocalFileWriter final : public FileWriter {
 public:
  LocalFileWriter(UniqueFd fd, fs::path temporary, fs::path target, bool failIfExists)
      : m_fd(std::move(fd)),
        m_temporary(std::move(temporary)),
        m_target(std::move(target)),
        m_failIfExists(failIfExists) {}
  ~LocalFileWriter() override {
    m_fd.Reset();
    if (!m_committed) ::unlink(m_temporary.c_str());
  }
  LocalFileWriter(const LocalFileWriter&) = delete;
  LocalFileWriter& operator=(const LocalFileWriter&) = delete;

  LONG Write(std::span<const BYTE> data) override {
    if (!m_fd) return ERROR_INVALID_HANDLE;
    while (!data.empty()) {
      const ssize_t n = ::write(m_fd.Get(), data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == EIO ? ERROR_WRITE_FAULT : Win32FromErrno(errno);
      }
      data = data.subspan(static_cast<std::size_t>(n));
    }
    return ERROR_SUCCESS;
  }

  LONG Commit(std::uint64_t lastWriteTime) override {
    if (!m_fd) return ERROR_INVALID_HANDLE;
    if (lastWriteTime != 0) {
      const std::uint64_t ticks = lastWriteTime;
      timespec times[2];
      times[0].tv_sec = 0;
      times[0].tv_nsec = UTIME_OMIT;
      const std::int64_t seconds = static_cast<std::int64_t>(ticks / 10'000'000ULL) -
                                   static_cast<std::int64_t>(kFileTimeEpochOffset);
      times[1].tv_sec = static_cast<time_t>(seconds);
      times[1].tv_nsec = static_cast<long>((ticks % 10'000'000ULL) * 100);
      if (::futimens(m_fd.Get(), times) != 0) return Win32FromErrno(errno);
    }
    if (::fsync(m_fd.Get()) != 0 && errno != EINVAL)
      return errno == EIO ? ERROR_WRITE_FAULT : Win32FromErrno(errno);
    // A late write error shows at the close: the data did not all arrive.
    if (const int error = m_fd.Close(); error != 0) return error == EIO ? ERROR_WRITE_FAULT : Win32FromErrno(error);
    if (m_failIfExists) {
      if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) return ERROR_FILE_EXISTS;
        if (errno != EINVAL && errno != ENOSYS) return Win32FromErrno(errno, true);
        // The file system cannot rename without replacing: a link never replaces either.
        if (::link(m_temporary.c_str(), m_target.c_str()) != 0)
          return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno, true);
        ::unlink(m_temporary.c_str());
      }
    } else {
      struct stat st {};
      if (::lstat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        return ERROR_ACCESS_DENIED;
      if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) return Win32FromErrno(errno, true);
    }
    m_committed = true;
    return ERROR_SUCCESS;
  }

 private:
  UniqueFd m_fd;
  fs::path m_temporary;
  fs::path m_target;
  bool m_failIfExists;
  bool m_committed = false;
};

// Creates a new temporary file in `directory`; -1 with errno on failure.
int CreateTemporary(const fs::path& directory, fs::path* path) {
  static std::atomic<std::uint64_t> counter{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[48];
    std::snprintf(name, sizeof name, ".vn%016llx.tmp", static_cast<unsigned long long>(counter.fetch_add(0x9E3779B97F4A7C15ULL)));
    *path = directory / name;
    const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

DWORD ServerTypeOf(MachineRole role, bool domainMember) {
  DWORD type = SV_TYPE_NT | SV_TYPE_WORKSTATION;
  switch (role) {
    case MachineRole::Workstation:
      break;
    case MachineRole::Server:
      type |= SV_TYPE_SERVER | SV_TYPE_SERVER_NT;
      break;
    case MachineRole::PrimaryDomainController:
      type |= SV_TYPE_SERVER | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL;
      break;
    case MachineRole::BackupDomainController:
      type |= SV_TYPE_SERVER | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL;
      break;
  }
  const bool controller =
      role == MachineRole::PrimaryDomainController || role == MachineRole::BackupDomainController;
  if (domainMember && !controller) type |= SV_TYPE_DOMAIN_MEMBER;
  return type;
}

LocalMachine::LocalMachine(std::shared_ptr<const MachineConfig> config, RootAccess roots)
    : m_config(std::move(config)), m_roots(roots) {}

LocalMachine::LocalMachine(MachineConfig config, RootAccess roots)
    : LocalMachine(std::make_shared<const MachineConfig>(std::move(config)), roots) {}

LONG LocalMachine::Resolve(const MachinePath& path, PathKind kind, ResolvedPath* resolved) const {
  return ResolvePath(*m_config, path, m_roots, kind, resolved);
}

namespace {

std::string DomainOf(const HostEntry& entry) { return entry.domain.empty() ? std::string(kDefaultDomain) : entry.domain; }

bool IsController(MachineRole role) {
  return role == MachineRole::PrimaryDomainController || role == MachineRole::BackupDomainController;
}

// A domain is one (and not a workgroup) when it has a controller.
bool DomainHasController(const MachineConfig& config, const HostsFile& hosts, const std::string& domain) {
  if (EqualsIgnoringCase(domain, config.domain) && IsController(config.role)) return true;
  return std::any_of(hosts.Entries().begin(), hosts.Entries().end(),
                     [&](const HostEntry& e) { return IsController(e.role) && EqualsIgnoringCase(DomainOf(e), domain); });
}

ServerInfo SelfInfo(const MachineConfig& config, const HostsFile& hosts) {
  ServerInfo info;
  info.name = config.name;
  info.type = ServerTypeOf(config.role, DomainHasController(config, hosts, config.domain));
  info.comment = config.comment;
  info.domain = config.domain;
  return info;
}

// The machines of the browse list, by the hosts file of `config`, with the
// machine itself described by its configuration.
std::vector<ServerInfo> BrowseList(const MachineConfig& config, const HostsFile& hosts) {
  std::vector<ServerInfo> list;
  for (const auto& entry : hosts.Entries()) {
    if (EqualsIgnoringCase(entry.name, config.name)) {
      list.push_back(SelfInfo(config, hosts));
      continue;
    }
    ServerInfo info;
    info.name = entry.name;
    info.domain = DomainOf(entry);
    info.type = ServerTypeOf(entry.role, DomainHasController(config, hosts, info.domain));
    list.push_back(std::move(info));
  }
  return list;
}

}  // namespace

LONG LocalMachine::GetServerInfo(ServerInfo* info) {
  *info = SelfInfo(*m_config, HostsFile::Load(m_config->hostsFile));
  return ERROR_SUCCESS;
}

LONG LocalMachine::EnumServers(DWORD typeMask, const std::string& domain, std::vector<ServerInfo>* servers) {
  servers->clear();
  const std::vector<ServerInfo> list = BrowseList(*m_config, HostsFile::Load(m_config->hostsFile));
  if (typeMask != SV_TYPE_ALL && (typeMask & SV_TYPE_DOMAIN_ENUM)) {
    std::vector<std::string> domains;
    for (const auto& server : list)
      if (std::none_of(domains.begin(), domains.end(), [&](const std::string& d) { return d == server.domain; }))
        domains.push_back(server.domain);
    if (std::find(domains.begin(), domains.end(), m_config->domain) == domains.end())
      domains.push_back(m_config->domain);
    for (const auto& name : domains) {
      ServerInfo info;
      info.name = name;
      info.type = SV_TYPE_DOMAIN_ENUM;
      info.domain = name;
      servers->push_back(std::move(info));
    }
    return ERROR_SUCCESS;
  }
  for (const auto& server : list)
    if ((server.type & typeMask) != 0 && (domain.empty() || EqualsIgnoringCase(server.domain, domain)))
      servers->push_back(server);
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetDCName(const std::string& domain, std::string* controller) {
  const std::string wanted = domain.empty() ? m_config->domain : ToUpperAscii(domain);
  const HostsFile hosts = HostsFile::Load(m_config->hostsFile);
  std::vector<ServerInfo> candidates = BrowseList(*m_config, hosts);
  if (std::none_of(candidates.begin(), candidates.end(),
                   [&](const ServerInfo& s) { return s.name == m_config->name; }))
    candidates.push_back(SelfInfo(*m_config, hosts));
  for (const DWORD bit : {SV_TYPE_DOMAIN_CTRL, SV_TYPE_DOMAIN_BAKCTRL})
    for (const auto& server : candidates)
      if ((server.type & bit) && EqualsIgnoringCase(server.domain, wanted)) {
        *controller = server.name;
        return ERROR_SUCCESS;
      }
  return static_cast<LONG>(NERR_DCNotFound);
}

LONG LocalMachine::EnumShares(std::vector<ShareInfo>* shares) {
  shares->clear();
  for (const auto& share : m_config->shares) shares->push_back({share.name, share.type, share.remark});
  return ERROR_SUCCESS;
}

LONG LocalMachine::ConnectRegistry(std::shared_ptr<RegistryHive>* hive) {
  LONG error = ERROR_SUCCESS;
  *hive = OpenLocalHive(m_config->home.string(), &error);
  return *hive ? ERROR_SUCCESS : (error ? error : ERROR_CANTOPEN);
}

LONG LocalMachine::GetDrives(std::vector<DriveInfo>* drives) {
  drives->clear();
  for (const auto& drive : m_config->drives) drives->push_back({drive.letter, drive.type});
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetVolumeInfo(const MachinePath& root, VolumeInfo* info) {
  ResolvedPath resolved;
  if (LONG error = Resolve({root.root, {}}, PathKind::Name, &resolved)) return error;
  struct stat st {};
  struct statvfs vfs {};
  struct statfs sfs {};
  if (::stat(resolved.root.c_str(), &st) != 0 || ::statvfs(resolved.root.c_str(), &vfs) != 0 ||
      ::statfs(resolved.root.c_str(), &sfs) != 0)
    return Win32FromErrno(errno, true);
  *info = {};
  info->label = resolved.drive ? resolved.drive->label : std::string();
  info->fileSystem = resolved.drive && !resolved.drive->fileSystem.empty()
                         ? resolved.drive->fileSystem
                         : FileSystemOfMagic(static_cast<std::uint64_t>(sfs.f_type));
  const std::uint64_t device = st.st_dev;
  info->serialNumber = static_cast<DWORD>(device ^ (device >> 32));
  info->maxComponentLength = static_cast<DWORD>(std::min<unsigned long>(vfs.f_namemax, 255));
  info->flags = FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK | ((vfs.f_flag & ST_RDONLY) ? FILE_READ_ONLY_VOLUME : 0);
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetDiskSpace(const MachinePath& path, DiskSpace* space) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (!resolved.Exists()) return ERROR_PATH_NOT_FOUND;
  struct statvfs vfs {};
  if (::statvfs(resolved.host.c_str(), &vfs) != 0) return Win32FromErrno(errno, true);
  const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  *space = {};
  space->totalBytes = vfs.f_blocks * unit;
  space->totalFreeBytes = vfs.f_bfree * unit;
  space->freeBytesToCaller = vfs.f_bavail * unit;
  space->bytesPerSector = 512;
  space->sectorsPerCluster = static_cast<DWORD>(std::max<std::uint64_t>(1, unit / 512));
  return ERROR_SUCCESS;
}

LONG LocalMachine::FindFiles(const MachinePath& pattern, std::vector<FileEntry>* entries) {
  entries->clear();
  ResolvedPath resolved;
  if (LONG error = Resolve(pattern, PathKind::SearchPattern, &resolved)) return error;
  if (!resolved.Exists()) return ERROR_PATH_NOT_FOUND;
  UniqueFd opened(::open(resolved.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened) return Win32FromErrno(errno, true);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(opened.Get()), &::closedir);
  if (!dir) return Win32FromErrno(errno, true);
  const int dirFd = opened.Release();   // the directory stream owns it now
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (IsWindowsName(name) && MatchesWildcard(resolved.pattern, name)) names.push_back(name);
  }
  // Without case first; names that differ only in case in byte order.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return LessIgnoringCase(a, b) || (!LessIgnoringCase(b, a) && a < b);
  });
  if (!resolved.IsRoot())
    for (const char* dots : {"..", "."})
      if (MatchesWildcard(resolved.pattern, dots)) names.insert(names.begin(), dots);
  for (const auto& name : names) {
    struct statx sx {};
    if (!StatX(dirFd, name.c_str(), false, &sx)) continue;  // gone meanwhile
    if (S_ISLNK(sx.stx_mode)) {
      // A link is described by what it leads to, when that lies inside the root.
      char buffer[PATH_MAX];
      struct statx target {};
      if (::realpath((resolved.host / name).c_str(), buffer) && IsInside(buffer, resolved.root) &&
          StatX(dirFd, name.c_str(), true, &target))
        sx = target;
    }
    entries->push_back(EntryOf(name, sx));
  }
  return entries->empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LONG LocalMachine::GetFileInfo(const MachinePath& path, FileEntry* entry) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (LONG error = MissingCode(resolved)) return error;
  struct statx sx {};
  if (!StatX(AT_FDCWD, resolved.host.c_str(), true, &sx) && !StatX(AT_FDCWD, resolved.host.c_str(), false, &sx))
    return Win32FromErrno(errno);
  *entry = EntryOf(resolved.IsRoot() ? std::string() : resolved.components.back(), sx);
  return ERROR_SUCCESS;
}

LONG LocalMachine::CreateDirectory(const MachinePath& path) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.Exists()) return ERROR_ALREADY_EXISTS;
  if (resolved.existing + 1 < resolved.components.size()) return ERROR_PATH_NOT_FOUND;
  if (::mkdir(resolved.host.c_str(), 0777) != 0) return Win32FromErrno(errno, true);
  return ERROR_SUCCESS;
}

LONG LocalMachine::RemoveDirectory(const MachinePath& path) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (LONG error = MissingCode(resolved)) return error;
  if (::rmdir(resolved.host.c_str()) != 0) {
    if (errno == ENOTDIR) return ERROR_DIRECTORY;
    if (errno == EEXIST) return ERROR_DIR_NOT_EMPTY;
    return Win32FromErrno(errno);
  }
  return ERROR_SUCCESS;
}

LONG LocalMachine::DeleteFile(const MachinePath& path) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (LONG error = MissingCode(resolved)) return error;
  struct stat st {};
  if (::lstat(resolved.host.c_str(), &st) != 0) return Win32FromErrno(errno);
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) return ERROR_ACCESS_DENIED;
  if (::unlink(resolved.host.c_str()) != 0) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

LONG LocalMachine::OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (LONG error = MissingCode(resolved)) return error;
  UniqueFd fd(::open(resolved.host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return Win32FromErrno(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  // Regular files never block; the flag only kept a FIFO swapped in from stalling open.
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  *reader = std::make_unique<LocalFileReader>(std::move(fd), static_cast<std::uint64_t>(st.st_size));
  return ERROR_SUCCESS;
}

LONG LocalMachine::OpenWrite(const MachinePath& path, bool failIfExists, std::unique_ptr<FileWriter>* writer) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (resolved.existing + 1 < resolved.components.size()) return ERROR_PATH_NOT_FOUND;
  if (resolved.Exists()) {
    struct stat st {};
    if (::stat(resolved.host.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
      if (failIfExists) return ERROR_FILE_EXISTS;
      if (!(st.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;
    } else if (failIfExists) {
      return ERROR_FILE_EXISTS;  // a dangling link still holds the name
    }
  }
  fs::path temporary;
  UniqueFd fd(CreateTemporary(resolved.host.parent_path(), &temporary));
  if (!fd) return Win32FromErrno(errno, true);
  *writer = std::make_unique<LocalFileWriter>(std::move(fd), std::move(temporary), resolved.host, failIfExists);
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetAccounts(AccountTable* table) { return ReadMachineAccounts(*m_config, table); }

}  // namespace vn
