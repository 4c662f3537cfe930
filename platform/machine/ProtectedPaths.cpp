#include "platform/machine/ProtectedPaths.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/core/UniqueFd.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

// Deeper than any real tree; a walk that goes on longer is refused.
constexpr int kMaxDepth = 4096;
// Accounts whose homes are looked at (a directory service may list many more).
constexpr int kMaxAccounts = 10'000;

constexpr const char* kSystemPlaces[] = {
    "/proc",           "/sys",          "/dev",           "/run",          "/etc/shadow",
    "/etc/shadow-",    "/etc/gshadow",  "/etc/gshadow-",  "/etc/sudoers",  "/etc/sudoers.d",
    "/etc/ssh",        "/etc/ssl/private", "/var/lib/vornal",
};

// Below every user's home: their own machine home and their keys.
constexpr const char* kUserPlaces[] = {".local/share/Vornal", ".ssh", ".gnupg"};

bool IsKernelFileSystem(int fd) {
  struct statfs sfs {};
  if (::fstatfs(fd, &sfs) != 0) return true;   // cannot tell: refuse
  switch (static_cast<unsigned long>(sfs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case SECURITYFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case EFIVARFS_MAGIC:
    case PSTOREFS_MAGIC:
    case 0x62656570:   // configfs
    case 0x19800202:   // mqueue
    case BINFMTFS_MAGIC:
      return true;
    default:
      return false;
  }
}

bool IsStrictlyInside(const fs::path& path, const fs::path& directory) {
  const std::string p = path.string(), d = directory.string();
  return p.size() > d.size() && p.starts_with(d) && (d.ends_with('/') || p[d.size()] == '/');
}

}  // namespace

void ProtectedPaths::Add(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) m_places.insert({st.st_dev, st.st_ino});
}

ProtectedPaths ProtectedPaths::ForNetwork(const MachineConfig& config) {
  ProtectedPaths paths;
  paths.Add(config.home);
  for (const char* place : kSystemPlaces) paths.Add(place);
  // Every account's home directory, as the host's account database lists them.
  std::vector<fs::path> homes{"/root"};
  ::setpwent();
  for (int count = 0; count < kMaxAccounts; ++count) {
    const passwd* entry = ::getpwent();
    if (!entry) break;
    if (entry->pw_dir && entry->pw_dir[0] == '/' && std::string_view(entry->pw_dir) != "/")
      homes.emplace_back(entry->pw_dir);
  }
  ::endpwent();
  std::sort(homes.begin(), homes.end());
  homes.erase(std::unique(homes.begin(), homes.end()), homes.end());
  for (const auto& home : homes)
    for (const char* place : kUserPlaces) paths.Add(home / place);

  // Drives and shares inside the home stay reachable below their roots.
  std::error_code ec;
  const fs::path home = fs::weakly_canonical(config.home, ec);
  std::vector<fs::path> roots;
  for (const auto& drive : config.drives) roots.push_back(drive.root);
  for (const auto& share : config.shares)
    if (!share.root.empty()) roots.push_back(share.root);
  for (const auto& root : roots) {
    const fs::path real = fs::weakly_canonical(root, ec);
    struct stat st {};
    if (!ec && !home.empty() && IsStrictlyInside(real, home) && ::stat(real.c_str(), &st) == 0)
      paths.m_openings.insert({st.st_dev, st.st_ino});
  }
  return paths;
}

bool ProtectedPaths::IsPlace(const struct stat& st) const { return IsPlace(st.st_dev, st.st_ino); }

bool ProtectedPaths::HidesObject(int fd) const {
  if (m_places.empty()) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return true;
  return IsPlace(st) || IsKernelFileSystem(fd);
}

bool ProtectedPaths::HidesDirectory(int dir) const {
  if (m_places.empty()) return false;
  if (IsKernelFileSystem(dir)) return true;
  struct stat st {};
  if (::fstat(dir, &st) != 0) return true;
  UniqueFd held;
  int current = dir;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const Id id{st.st_dev, st.st_ino};
    if (m_openings.contains(id)) return false;
    if (m_places.contains(id)) return true;
    UniqueFd up(::openat(current, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat above {};
    if (!up || ::fstat(up.Get(), &above) != 0) return true;
    if (above.st_dev == st.st_dev && above.st_ino == st.st_ino) return false;   // the top of the tree
    held = std::move(up);
    current = held.Get();
    st = above;
  }
  return true;
}

}  // namespace vn
