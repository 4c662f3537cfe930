#include "platform/machine/OpenBeneath.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>

namespace vn {
namespace {

// Links followed on one path before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// openat2 answers EAGAIN when a rename elsewhere raced with a ".." it took;
// it is safe to try again, a bounded number of times.
constexpr int kMaxRetries = 64;

enum class Walker { Unknown, Kernel, Descriptors };
std::atomic<Walker> g_walker{Walker::Unknown};
std::atomic<bool> g_forceDescriptors{false};

std::vector<std::string> SplitLinkTarget(const std::string& target) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= target.size()) {
    auto end = target.find('/', start);
    if (end == std::string::npos) end = target.size();
    if (end > start) parts.push_back(target.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The target of the link `name` in `dir`; false with errno.
bool ReadLink(int dir, const char* name, std::string* target) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlinkat(dir, name, buffer, sizeof buffer);
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) >= sizeof buffer) {
    errno = ENAMETOOLONG;
    return false;
  }
  target->assign(buffer, static_cast<std::size_t>(n));
  return true;
}

// Links of the process file system that lead to whatever a descriptor holds
// (/proc/self/fd/N, /proc/self/cwd: absolute or "socket:[...]" targets) are
// never followed, as the kernel's RESOLVE_NO_MAGICLINKS refuses them; its
// plain relative links (/proc/self -> "1234") are. `at` is the directory or
// the link itself.
bool IsMagicLink(int at, const std::string& target) {
  struct statfs sfs {};
  if (::fstatfs(at, &sfs) != 0) return true;
  return sfs.f_type == PROC_SUPER_MAGIC && (target.starts_with('/') || target.find(":[") != std::string::npos);
}

int KernelOpen(int root, const std::vector<std::string>& components, int flags, LinkScope scope) {
  std::string path;
  for (const auto& component : components) {
    if (!path.empty()) path += '/';
    path += component;
  }
  if (path.empty()) path = ".";
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_DIRECTORY | O_CLOEXEC);
  how.resolve = RESOLVE_NO_MAGICLINKS | (scope == LinkScope::WholeTree ? RESOLVE_IN_ROOT : RESOLVE_BENEATH);
  for (int attempt = 0;; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno != EAGAIN || attempt >= kMaxRetries) return -1;
  }
}

// The same walk in user space: one component at a time, each opened with
// O_NOFOLLOW relative to a directory descriptor held, links read and their
// targets walked in turn. Descriptors of the directories walked are kept, so
// ".." goes back to the one walked through, never to whatever is now the
// parent on disk.
int DescriptorOpen(int root, const std::vector<std::string>& components, int flags, LinkScope scope) {
  std::vector<UniqueFd> walked;   // below the root, innermost last
  std::deque<std::string> pending(components.begin(), components.end());
  int links = 0;
  auto current = [&] { return walked.empty() ? root : walked.back().Get(); };
  while (!pending.empty()) {
    const std::string name = std::move(pending.front());
    pending.pop_front();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!walked.empty()) {
        walked.pop_back();
      } else if (scope == LinkScope::Beneath) {
        errno = EXDEV;
        return -1;
      }
      continue;
    }
    UniqueFd next(::openat(current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return -1;
    struct stat st {};
    if (::fstat(next.Get(), &st) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      std::string target;
      if (++links > kMaxLinks) {
        errno = ELOOP;
        return -1;
      }
      if (!ReadLink(next.Get(), "", &target)) return -1;
      if (IsMagicLink(next.Get(), target)) {
        errno = ELOOP;
        return -1;
      }
      if (target.starts_with('/')) {
        if (scope == LinkScope::Beneath) {
          errno = EXDEV;
          return -1;
        }
        walked.clear();
      }
      const auto parts = SplitLinkTarget(target);
      pending.insert(pending.begin(), parts.begin(), parts.end());
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return -1;
    }
    walked.push_back(std::move(next));
  }
  return ::openat(current(), ".", flags | O_DIRECTORY | O_CLOEXEC);
}

bool UseKernel() {
  if (g_forceDescriptors.load(std::memory_order_relaxed)) return false;
  return g_walker.load(std::memory_order_relaxed) != Walker::Descriptors;
}

}  // namespace

LinkScope ScopeOfRoot(const std::string& rootPath) {
  return rootPath == "/" ? LinkScope::WholeTree : LinkScope::Beneath;
}

int OpenDirectoryBeneath(int root, const std::vector<std::string>& components, int flags, LinkScope scope) {
  if (UseKernel()) {
    const int fd = KernelOpen(root, components, flags, scope);
    if (fd >= 0 || errno != ENOSYS) {
      if (fd >= 0) g_walker.store(Walker::Kernel, std::memory_order_relaxed);
      return fd;
    }
    // Only a kernel without openat2 says ENOSYS: walk ourselves from now on.
    g_walker.store(Walker::Descriptors, std::memory_order_relaxed);
  }
  return DescriptorOpen(root, components, flags, scope);
}

int LocateBeneath(int root, std::vector<std::string> components, bool followLast, LinkScope scope, UniqueFd* parent,
                  std::string* name) {
  for (int links = 0;; ++links) {
    if (components.empty()) return EINVAL;
    std::string last = std::move(components.back());
    components.pop_back();
    if (last == "." || last == "..") {
      // The object is a directory reached by dots (a link's target): it is
      // its own "parent", named ".".
      if (last == "..") components.push_back(last);
      UniqueFd dir(OpenDirectoryBeneath(root, components, O_PATH, scope));
      if (!dir) return errno;
      *parent = std::move(dir);
      *name = ".";
      return 0;
    }
    UniqueFd dir(OpenDirectoryBeneath(root, components, O_PATH, scope));
    if (!dir) return errno;
    struct stat st {};
    if (!followLast || ::fstatat(dir.Get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
      *parent = std::move(dir);
      *name = std::move(last);
      return 0;
    }
    if (links >= kMaxLinks) return ELOOP;
    std::string target;
    if (!ReadLink(dir.Get(), last.c_str(), &target)) return errno;
    if (IsMagicLink(dir.Get(), target)) return ELOOP;
    if (target.starts_with('/')) {
      if (scope == LinkScope::Beneath) return EXDEV;
      components.clear();
    }
    const auto parts = SplitLinkTarget(target);
    if (parts.empty()) {
      components.push_back(".");  // a link to "/" itself
    } else {
      components.insert(components.end(), parts.begin(), parts.end());
    }
  }
}

void UseDescriptorWalkForTesting(bool on) { g_forceDescriptors.store(on, std::memory_order_relaxed); }

}  // namespace vn
