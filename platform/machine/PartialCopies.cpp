#include "platform/machine/PartialCopies.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <random>

#include "platform/core/UniqueFd.h"
#include "platform/machine/OpenBeneath.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = ".vnpart-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kHexDigits = 16;
// A record is two paths; anything longer is not one of ours.
constexpr std::size_t kMaxRecordSize = 2 * 4096 + 2;

std::string NextHex() {
  static std::atomic<std::uint64_t> counter{std::random_device{}() * 0x9E3779B97F4A7C15ULL ^ std::random_device{}()};
  char hex[kHexDigits + 1];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(counter.fetch_add(0x9E3779B97F4A7C15ULL, std::memory_order_relaxed)));
  return hex;
}

fs::path RecordsOf(const fs::path& home) { return home / "partial"; }

bool ProcessGone(pid_t pid) { return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH; }

// Reads a record: the root, and the temporary file's components below it.
bool ReadRecord(int dir, const char* name, std::string* root, std::vector<std::string>* components) {
  UniqueFd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return false;
  std::string text(kMaxRecordSize + 1, '\0');
  std::size_t size = 0;
  while (size < text.size()) {
    const ssize_t n = ::read(fd.Get(), text.data() + size, text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  if (size > kMaxRecordSize) return false;
  text.resize(size);
  const auto newline = text.find('\n');
  if (newline == std::string::npos || !text.ends_with('\n')) return false;
  *root = text.substr(0, newline);
  const std::string relative = text.substr(newline + 1, text.size() - newline - 2);
  components->clear();
  std::size_t start = 0;
  while (start <= relative.size()) {
    auto end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    components->push_back(part);
    start = end + 1;
  }
  return !root->empty() && (*root)[0] == '/' && !components->empty() && IsPartialCopyName(components->back());
}

// Removes the temporary file a record names; true when one was removed.
bool RemoveRecorded(const std::string& root, const std::vector<std::string>& components) {
  UniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd) return false;
  UniqueFd parent;
  std::string name;
  if (LocateBeneath(rootFd.Get(), components, false, ScopeOfRoot(root), &parent, &name) != 0) return false;
  struct stat st {};
  if (!IsPartialCopyName(name) || ::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode))
    return false;
  return ::unlinkat(parent.Get(), name.c_str(), 0) == 0;
}

}  // namespace

bool IsPartialCopyName(std::string_view name) {
  if (name.size() != kPrefix.size() + kHexDigits + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix))
    return false;
  const auto hex = name.substr(kPrefix.size(), kHexDigits);
  return hex.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string NewPartialCopyName() { return std::string(kPrefix) + NextHex() + std::string(kSuffix); }

PartialCopyRecord::PartialCopyRecord(const fs::path& home, const fs::path& root,
                                     const std::vector<std::string>& relative) {
  const fs::path records = RecordsOf(home);
  if (::mkdir(records.c_str(), 0700) != 0 && errno != EEXIST) return;
  std::string text = root.string() + "\n";
  for (std::size_t i = 0; i < relative.size(); ++i) text += (i ? "/" : "") + relative[i];
  text += "\n";
  if (text.size() > kMaxRecordSize) return;
  const fs::path path = records / (std::to_string(::getpid()) + "-" + NextHex());
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return;
  if (::write(fd.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::unlink(path.c_str());
    return;
  }
  m_path = path;
}

PartialCopyRecord::~PartialCopyRecord() {
  if (!m_path.empty()) ::unlink(m_path.c_str());
}

PartialCopyRecord::PartialCopyRecord(PartialCopyRecord&& other) noexcept : m_path(std::move(other.m_path)) {
  other.m_path.clear();
}

PartialCopyRecord& PartialCopyRecord::operator=(PartialCopyRecord&& other) noexcept {
  if (this != &other) {
    if (!m_path.empty()) ::unlink(m_path.c_str());
    m_path = std::move(other.m_path);
    other.m_path.clear();
  }
  return *this;
}

std::size_t RemovePartialCopies(const MachineConfig& config) {
  const fs::path records = RecordsOf(config.home);
  UniqueFd dirFd(::open(records.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dirFd) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(::dup(dirFd.Get())), &::closedir);
  if (!dir) return 0;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    pid_t pid = 0;
    const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (parsed != std::errc() || pid <= 0 || end == name.data() + name.size() || *end != '-') continue;
    if (ProcessGone(pid)) stale.emplace_back(name);
  }
  std::size_t removed = 0;
  for (const auto& name : stale) {
    std::string root;
    std::vector<std::string> components;
    if (ReadRecord(dirFd.Get(), name.c_str(), &root, &components) && RemoveRecorded(root, components)) ++removed;
    ::unlinkat(dirFd.Get(), name.c_str(), 0);
  }
  return removed;
}

}  // namespace vn
