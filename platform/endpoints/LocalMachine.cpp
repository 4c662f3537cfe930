#include "platform/endpoints/LocalMachine.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/core/AsciiText.h"
#include "platform/core/FlushBehind.h"
#include "platform/core/UniqueFd.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/AccountTable.h"
#include "platform/machine/HostsFile.h"
#include "platform/machine/OpenBeneath.h"
#include "platform/machine/PartialCopies.h"

namespace vn {
namespace {

// ".exe", ".com", ".bat" and ".cmd", without case.
bool IsProgramFileName(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot);
  for (const char* program : {".exe", ".com", ".bat", ".cmd"})
    if (EqualsIgnoringCase(extension, program)) return true;
  return false;
}

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
bool StatX(int dir, const char* path, bool follow, struct statx* sx, int extraFlags = 0) {
  const int flags = (follow ? 0 : AT_SYMLINK_NOFOLLOW) | AT_NO_AUTOMOUNT | extraFlags;
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

// Writes a temporary file beside the target, in the directory it holds open,
// and renames it into place on Commit: both names are taken relative to that
// directory, so a swapped path cannot move the file anywhere else.
//
// The commit waits until the data is on the disk. So that it does not then
// wait for the whole file, each few MiB written are flushed behind the writer
// (FlushBehind): a file arriving over the network is on the disk almost as
// soon as its last bytes arrive, instead of after a second wait about as
// long as the transfer.
class LocalFileWriter final : public FileWriter {
 public:
  LocalFileWriter(UniqueFd fd, UniqueFd directory, std::string temporary, std::string target, bool failIfExists,
                  PartialCopyRecord record, std::shared_ptr<FlushBehind> flusher)
      : m_flusher(std::move(flusher)),
        m_fd(std::move(fd)),
        m_directory(std::move(directory)),
        m_temporary(std::move(temporary)),
        m_target(std::move(target)),
        m_failIfExists(failIfExists),
        m_record(std::move(record)) {}
  ~LocalFileWriter() override {
    m_fd.Reset();
    if (!m_committed) ::unlinkat(m_directory.Get(), m_temporary.c_str(), 0);
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
      m_written += static_cast<std::uint64_t>(n);
    }
    if (m_written - m_flushed >= kFlushBehindBytes) {
      m_flusher->Post(UniqueFd(::fcntl(m_fd.Get(), F_DUPFD_CLOEXEC, 0)));
      m_flushed = m_written;
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
    const int dir = m_directory.Get();
    const char* temporary = m_temporary.c_str();
    const char* target = m_target.c_str();
    if (m_failIfExists) {
      if (::renameat2(dir, temporary, dir, target, RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) return ERROR_FILE_EXISTS;
        if (errno != EINVAL && errno != ENOSYS) return Win32FromErrno(errno, true);
        // The file system cannot rename without replacing: a link never replaces either.
        if (::linkat(dir, temporary, dir, target, 0) != 0)
          return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno, true);
        ::unlinkat(dir, temporary, 0);
      }
    } else {
      struct stat st {};
      if (::fstatat(dir, target, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        return ERROR_ACCESS_DENIED;
      if (::renameat(dir, temporary, dir, target) != 0) return Win32FromErrno(errno, true);
    }
    m_committed = true;
    m_record = PartialCopyRecord();
    return ERROR_SUCCESS;
  }

 private:
  static constexpr std::uint64_t kFlushBehindBytes = 8 * 1024 * 1024;
  std::shared_ptr<FlushBehind> m_flusher;
  UniqueFd m_fd;
  std::uint64_t m_written = 0;
  std::uint64_t m_flushed = 0;
  UniqueFd m_directory;
  std::string m_temporary;
  std::string m_target;
  bool m_failIfExists;
  bool m_committed = false;
  PartialCopyRecord m_record;   // removed after the temporary file (members go in reverse order)
};

// The code for an errno of a guarded lookup: leaving the root is a refusal.
LONG BeneathError(int error, bool missingIsPath) {
  return error == EXDEV ? ERROR_ACCESS_DENIED : Win32FromErrno(error, missingIsPath);
}

dev_t DeviceOf(const struct statx& sx) { return makedev(sx.stx_dev_major, sx.stx_dev_minor); }

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
    : m_config(std::move(config)),
      m_roots(roots),
      m_protected(roots == RootAccess::SharesOnly ? ProtectedPaths::ForNetwork(*m_config) : ProtectedPaths()) {}

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

// An object of a resolved path, held open: the root, the directory holding
// the object and its name there (none for a root), and the object itself
// (O_PATH, when asked for and it exists).
struct LocalMachine::Target {
  UniqueFd root;
  LinkScope scope = LinkScope::Beneath;
  UniqueFd parent;
  std::string name;
  UniqueFd object;
  // The directory to do *at calls in, and the name to give them.
  int Dir() const { return parent ? parent.Get() : root.Get(); }
  const char* Name() const { return parent ? name.c_str() : "."; }
};

LONG LocalMachine::Open(const ResolvedPath& resolved, bool followLast, bool needObject, Target* target) const {
  target->root.Reset(::open(resolved.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!target->root) return resolved.drive ? ERROR_NOT_READY : ERROR_BAD_NET_NAME;
  target->scope = ScopeOfRoot(resolved.root.string());
  if (resolved.IsRoot()) {
    if (m_protected.HidesDirectory(target->root.Get())) return ERROR_ACCESS_DENIED;
    if (needObject) target->object.Reset(::fcntl(target->root.Get(), F_DUPFD_CLOEXEC, 0));
    return target->object || !needObject ? ERROR_SUCCESS : Win32FromErrno(errno);
  }
  if (const int error = LocateBeneath(target->root.Get(), resolved.components, followLast, target->scope,
                                      &target->parent, &target->name))
    return BeneathError(error, true);
  if (m_protected.HidesDirectory(target->parent.Get())) return ERROR_ACCESS_DENIED;
  if (!needObject) return ERROR_SUCCESS;
  target->object.Reset(::openat(target->parent.Get(), target->name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!target->object) return Win32FromErrno(errno);
  if (m_protected.HidesObject(target->object.Get())) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetVolumeInfo(const MachinePath& root, VolumeInfo* info) {
  ResolvedPath resolved;
  if (LONG error = Resolve({root.root, {}}, PathKind::Name, &resolved)) return error;
  Target target;
  if (LONG error = Open(resolved, true, true, &target)) return error;
  const int fd = target.object.Get();
  struct stat st {};
  struct statvfs vfs {};
  struct statfs sfs {};
  if (::fstat(fd, &st) != 0 || ::fstatvfs(fd, &vfs) != 0 || ::fstatfs(fd, &sfs) != 0)
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
  Target target;
  if (LONG error = Open(resolved, true, true, &target)) return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
  struct statvfs vfs {};
  if (::fstatvfs(target.object.Get(), &vfs) != 0) return Win32FromErrno(errno, true);
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
  UniqueFd root(::open(resolved.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) return resolved.drive ? ERROR_NOT_READY : ERROR_BAD_NET_NAME;
  const LinkScope scope = ScopeOfRoot(resolved.root.string());
  UniqueFd opened(OpenDirectoryBeneath(root.Get(), resolved.components, O_RDONLY, scope));
  if (!opened) return BeneathError(errno, true);
  if (m_protected.HidesDirectory(opened.Get())) return ERROR_ACCESS_DENIED;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(opened.Get()), &::closedir);
  if (!dir) return Win32FromErrno(errno, true);
  const int dirFd = opened.Release();   // the directory stream owns it now
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name(entry->d_name);
    if (name == "." || name == ".." || IsPartialCopyName(name)) continue;
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
    if (!m_protected.Empty() && m_protected.IsPlace(DeviceOf(sx), static_cast<ino_t>(sx.stx_ino))) continue;
    if (S_ISLNK(sx.stx_mode)) {
      // A link is described by what it leads to, when that lies inside the root.
      std::vector<std::string> components = resolved.components;
      components.push_back(name);
      UniqueFd parent;
      std::string last;
      struct statx target {};
      if (LocateBeneath(root.Get(), std::move(components), true, scope, &parent, &last) == 0 &&
          !m_protected.HidesDirectory(parent.Get()) && StatX(parent.Get(), last.c_str(), false, &target) &&
          !S_ISLNK(target.stx_mode) &&
          !(!m_protected.Empty() && m_protected.IsPlace(DeviceOf(target), static_cast<ino_t>(target.stx_ino))))
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
  // What a link leads to, when that lies inside the root; else the link itself.
  Target target;
  LONG error = Open(resolved, true, true, &target);
  if (error != ERROR_SUCCESS && error != ERROR_NOT_READY && error != ERROR_BAD_NET_NAME) {
    target = Target();
    const LONG itself = Open(resolved, false, true, &target);
    if (itself == ERROR_SUCCESS) {
      struct stat st {};
      // Only a link that leads nowhere it may go is described as itself.
      if (::fstat(target.object.Get(), &st) == 0 && S_ISLNK(st.st_mode)) error = ERROR_SUCCESS;
    } else {
      error = itself;
    }
  }
  if (error != ERROR_SUCCESS) return error;
  struct statx sx {};
  if (!StatX(target.object.Get(), "", false, &sx, AT_EMPTY_PATH)) return Win32FromErrno(errno);
  *entry = EntryOf(resolved.IsRoot() ? std::string() : resolved.components.back(), sx);
  return ERROR_SUCCESS;
}

LONG LocalMachine::CreateDirectory(const MachinePath& path) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.Exists()) return ERROR_ALREADY_EXISTS;
  if (resolved.existing + 1 < resolved.components.size()) return ERROR_PATH_NOT_FOUND;
  Target target;
  if (LONG error = Open(resolved, false, false, &target)) return error;
  if (::mkdirat(target.Dir(), target.Name(), 0777) != 0) return Win32FromErrno(errno, true);
  return ERROR_SUCCESS;
}

LONG LocalMachine::RemoveDirectory(const MachinePath& path) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (LONG error = MissingCode(resolved)) return error;
  Target target;
  if (LONG error = Open(resolved, false, true, &target)) return error;
  if (::unlinkat(target.Dir(), target.Name(), AT_REMOVEDIR) != 0) {
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
  Target target;
  if (LONG error = Open(resolved, false, true, &target)) return error;
  struct stat st {};
  if (::fstat(target.object.Get(), &st) != 0) return Win32FromErrno(errno);
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) return ERROR_ACCESS_DENIED;
  if (::unlinkat(target.Dir(), target.Name(), 0) != 0) return errno == EISDIR ? ERROR_ACCESS_DENIED : Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

LONG LocalMachine::OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) {
  ResolvedPath resolved;
  if (LONG error = Resolve(path, PathKind::Name, &resolved)) return error;
  if (resolved.IsRoot()) return ERROR_ACCESS_DENIED;
  if (LONG error = MissingCode(resolved)) return error;
  Target target;
  if (LONG error = Open(resolved, true, false, &target)) return error;
  // O_NOFOLLOW: a link swapped in since the lookup is refused, not followed.
  UniqueFd fd(::openat(target.Dir(), target.Name(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd) return errno == ELOOP ? ERROR_ACCESS_DENIED : Win32FromErrno(errno);
  if (m_protected.HidesObject(fd.Get())) return ERROR_ACCESS_DENIED;
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
  Target target;
  if (LONG error = Open(resolved, false, false, &target)) return error;
  if (target.name == ".") return ERROR_ACCESS_DENIED;
  struct stat st {};
  if (::fstatat(target.parent.Get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (m_protected.IsPlace(st)) return ERROR_ACCESS_DENIED;
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;
  } else if (errno != ENOENT) {
    return Win32FromErrno(errno, true);
  }
  // The record names the temporary file before it exists, so a process killed
  // at any point leaves nothing that the next start of the service misses.
  std::string temporary;
  UniqueFd fd;
  PartialCopyRecord record;
  // Windows runs a program by its name's extension, and has no mode bits to
  // carry over: a file written under such a name can be run (the umask aside).
  const mode_t mode = IsProgramFileName(target.name) ? 0777 : 0666;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temporary = NewPartialCopyName();
    std::vector<std::string> components(resolved.components.begin(), resolved.components.end() - 1);
    components.push_back(temporary);
    record = PartialCopyRecord(m_config->home, resolved.root, components);
    fd.Reset(::openat(target.parent.Get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      mode));
    if (!fd && errno != EEXIST) return Win32FromErrno(errno, true);
  }
  if (!fd) return Win32FromErrno(EEXIST, true);
  *writer = std::make_unique<LocalFileWriter>(std::move(fd), std::move(target.parent), std::move(temporary),
                                              std::move(target.name), failIfExists, std::move(record), m_flusher);
  return ERROR_SUCCESS;
}

LONG LocalMachine::GetAccounts(AccountTable* table) { return ReadMachineAccounts(*m_config, table); }

}  // namespace vn
