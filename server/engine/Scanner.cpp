#include "server/engine/Scanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "server/engine/ResultWriter.h"

namespace vn::server {
namespace {

constexpr unsigned kBasicMask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID | STATX_ATIME |
                                STATX_MTIME | STATX_CTIME | STATX_INO | STATX_SIZE | STATX_BLOCKS;
constexpr std::chrono::milliseconds kProgressEvery{400};

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

std::uint64_t Device(const struct statx& st) {
  return (static_cast<std::uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
}

struct InodeKey {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const InodeKey&) const = default;
};
struct InodeHash {
  std::size_t operator()(const InodeKey& k) const { return std::hash<std::uint64_t>()(k.inode * 31 + k.device); }
};

}  // namespace

struct Scanner::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<ScanDir*> stack;  // directories waiting to be read
  std::size_t pending = 0;      // waiting or being read
  bool cancelled = false;

  std::mutex linksMutex;
  std::unordered_set<InodeKey, InodeHash> links;

  std::mutex problemMutex;
  std::mutex progressMutex;
  std::atomic<std::int64_t> lastProgress{0};
};

Scanner::Scanner(const std::vector<ScanObject>& objects, const ScanSettings& settings, ProgressSink& progress)
    : m_objects(objects), m_settings(settings), m_progress(progress), m_shared(std::make_unique<Shared>()) {
  m_workers = WorkerCount(settings.threads);
  m_rootFds.assign(objects.size(), -1);
  m_roots.assign(objects.size(), nullptr);
}

unsigned Scanner::WorkerCount(unsigned threads) {
  return std::min(threads ? threads : std::max(1u, std::thread::hardware_concurrency()), 64u);
}

Scanner::~Scanner() {
  for (int fd : m_rootFds)
    if (fd >= 0) ::close(fd);
}

void Scanner::Problem(const std::string& shown, int err) {
  std::lock_guard lock(m_shared->problemMutex);
  ++m_unreadable;
  if (m_problems.size() < kMaxProblemsNamed)
    m_problems.push_back(shown + ": " + std::system_category().message(err));
}

void Scanner::MaybeProgress(const std::string& where) {
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  std::int64_t last = m_shared->lastProgress.load(std::memory_order_relaxed);
  if (now - last < kProgressEvery.count()) return;
  if (!m_shared->lastProgress.compare_exchange_strong(last, now)) return;
  std::string text = "Scanning " + where + ": " + Grouped(m_files.load()) + " files in " +
                     Grouped(m_dirCount.load()) + " directories";
  std::lock_guard lock(m_shared->progressMutex);
  m_progress.Progress(text);
}

bool Scanner::Run(std::span<ScanVisitor* const> visitors) {
  // Roots first, on this thread: each is visited as an entry of its own.
  std::vector<ScanDir*> roots;
  for (std::size_t i = 0; i < m_objects.size(); ++i) {
    const ScanObject& o = m_objects[i];
    if (!o.error.empty()) continue;
    std::string shown = o.shownRoot;
    while (shown.size() > 1 && shown.back() == '\\') shown.pop_back();
    int fd = ::open(o.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct statx st {};
    if (fd < 0 || ::statx(fd, "", AT_EMPTY_PATH, kBasicMask | m_settings.statxMask, &st) != 0) {
      Problem(shown, errno);
      if (fd >= 0) ::close(fd);
      continue;
    }
    m_rootFds[i] = fd;
    auto root = std::make_unique<ScanDir>();
    root->shown = shown;
    root->shownExact = PathTextIsExact(shown);
    root->object = static_cast<std::uint32_t>(i);
    root->device = Device(st);
    root->inode = st.stx_ino;
    if (m_settings.dirSlots) root->totals = std::make_unique<DirTotals[]>(m_settings.dirSlots);
    ScanEntry e;
    e.self = root.get();
    e.st = &st;
    for (ScanVisitor* v : visitors) v->Entry(e);
    m_roots[i] = root.get();
    roots.push_back(root.get());
    m_dirs.push_back(std::move(root));
    m_dirCount.fetch_add(1);
  }
  {
    std::lock_guard lock(m_shared->mutex);
    m_shared->stack.assign(roots.rbegin(), roots.rend());
    m_shared->pending = roots.size();
  }
  std::vector<std::thread> threads;
  for (unsigned w = 1; w < m_workers; ++w) threads.emplace_back([this, w, visitors] { Work(w, visitors); });
  Work(0, visitors);
  for (std::thread& t : threads) t.join();
  return !m_shared->cancelled;
}

void Scanner::Work(unsigned worker, std::span<ScanVisitor* const> visitors) {
  constexpr std::size_t kBuffer = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kBuffer]);
  std::vector<ScanDir*> found;
  std::vector<std::unique_ptr<ScanDir>> owned;
  Shared& s = *m_shared;
  for (;;) {
    ScanDir* dir = nullptr;
    {
      std::unique_lock lock(s.mutex);
      s.wake.wait(lock, [&] { return s.cancelled || !s.stack.empty() || s.pending == 0; });
      if (s.cancelled || s.stack.empty()) break;
      dir = s.stack.back();
      s.stack.pop_back();
    }
    found.clear();
    ReadDir(*dir, worker, visitors, found, owned, buffer.get(), kBuffer);
    const bool cancel = m_progress.Cancelled();
    bool finished = false;
    {
      std::lock_guard lock(s.mutex);
      if (cancel) s.cancelled = true;
      s.stack.insert(s.stack.end(), found.rbegin(), found.rend());
      s.pending += found.size();
      --s.pending;
      finished = s.pending == 0;
    }
    if (cancel || finished || found.size() > 1) s.wake.notify_all();
    else if (!found.empty()) s.wake.notify_one();
    MaybeProgress(m_objects[dir->object].named);
  }
  std::lock_guard lock(s.mutex);
  for (auto& d : owned) m_dirs.push_back(std::move(d));
}

void Scanner::ReadDir(ScanDir& dir, unsigned worker, std::span<ScanVisitor* const> visitors,
                      std::vector<ScanDir*>& found, std::vector<std::unique_ptr<ScanDir>>& owned, char* buffer,
                      std::size_t bufferSize) {
  const int rootFd = m_rootFds[dir.object];
  int fd = dir.rel.empty() ? ::dup(rootFd)
                           : ::openat(rootFd, dir.rel.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Problem(dir.shown, errno);
    return;
  }
  // The directory read must be the one the parent listed: a directory
  // replaced (by a link) between the two is not followed.
  struct stat check {};
  if (::fstat(fd, &check) != 0 || check.st_ino != dir.inode) {
    ::close(fd);
    Problem(dir.shown, ESTALE);
    return;
  }
  const unsigned mask = kBasicMask | m_settings.statxMask;
  std::uint64_t files = 0;
  for (;;) {
    long n = ::syscall(SYS_getdents64, fd, buffer, bufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Problem(dir.shown, errno);
      break;
    }
    if (n == 0) break;
    for (long off = 0; off < n;) {
      auto* d = reinterpret_cast<LinuxDirent64*>(buffer + off);
      off += d->d_reclen;
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (d->d_type != DT_DIR && d->d_type != DT_UNKNOWN &&
          std::none_of(visitors.begin(), visitors.end(),
                       [&](const ScanVisitor* v) { return v->NeedsEntry(dir, name, d->d_type); })) {
        ++files;
        continue;
      }
      struct statx st;
      if (::statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &st) != 0) continue;  // gone meanwhile
      ScanEntry e;
      e.dir = &dir;
      e.name = std::string_view(name);
      e.st = &st;
      e.dirFd = fd;
      e.worker = worker;
      if (S_ISDIR(st.stx_mode)) {
        if (Device(st) != dir.device) continue;  // another file system: not ours to scan
        auto child = std::make_unique<ScanDir>();
        child->parent = &dir;
        child->rel.reserve(dir.rel.size() + 1 + e.name.size());
        child->rel = dir.rel;
        if (!child->rel.empty()) child->rel += '/';
        child->rel += e.name;
        child->shown.reserve(dir.shown.size() + 1 + e.name.size());
        child->shown = dir.shown;
        child->shown += '\\';
        child->shown += e.name;
        child->shownExact = dir.shownExact && NameTextIsExact(e.name);
        child->depth = dir.depth + 1;
        child->object = dir.object;
        child->device = dir.device;
        child->inode = st.stx_ino;
        if (m_settings.dirSlots) child->totals = std::make_unique<DirTotals[]>(m_settings.dirSlots);
        e.self = child.get();
        for (ScanVisitor* v : visitors) v->Entry(e);
        found.push_back(child.get());
        owned.push_back(std::move(child));
        m_dirCount.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      if (st.stx_nlink > 1) {
        std::lock_guard lock(m_shared->linksMutex);
        e.firstLink = m_shared->links.insert({Device(st), st.stx_ino}).second;
      }
      for (ScanVisitor* v : visitors) v->Entry(e);
      ++files;
    }
  }
  m_files.fetch_add(files, std::memory_order_relaxed);
  ::close(fd);
}

}  // namespace vn::server
