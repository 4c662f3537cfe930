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

void ProtectedPaths::Add(const fs::path& path, std::vector<fs::path>* added) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  m_places.insert({st.st_dev, st.st_ino});
  std::error_code ec;
  if (const fs::path real = fs::weakly_canonical(path, ec); !ec) added->push_back(real);
}

void ProtectedPaths::Open(const fs::path& root, const std::vector<fs::path>& around) {
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(root, ec);
  struct stat st {};
  if (ec || ::stat(real.c_str(), &st) != 0) return;
  if (std::any_of(around.begin(), around.end(), [&](const fs::path& place) { return IsStrictlyInside(real, place); }))
    m_openings.insert({st.st_dev, st.st_ino});
}

ProtectedPaths ProtectedPaths::ForNetwork(const MachineConfig& config) {
  ProtectedPaths paths;
  std::vector<fs::path> home, system;
  paths.Add(config.home, &home);
  for (const char* place : kSystemPlaces) paths.Add(place, &system);
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
  for (const auto& userHome : homes)
    for (const char* place : kUserPlaces) paths.Add(userHome / place, &system);

  // What the configuration puts inside a protected place stays reachable
  // below its root: drives inside the machine's home (the system drive, a
  // test machine's drives) or inside another place, and shares inside a
  // place other than the home. A share of a directory inside the home that
  // is on no drive there stays hidden: the home's own files are never shared.
  std::vector<fs::path> all = home;
  all.insert(all.end(), system.begin(), system.end());
  for (const auto& drive : config.drives) paths.Open(drive.root, all);
  for (const auto& share : config.shares)
    if (!share.root.empty()) paths.Open(share.root, system);
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
