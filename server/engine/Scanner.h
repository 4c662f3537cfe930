#pragma once
// The parallel directory walk every report that looks at files shares.
//
// One worker per core takes directories from a shared stack, reads each
// directory once (getdents64 on a descriptor opened relative to the object's
// root) and each entry's metadata once (statx relative to that descriptor,
// never following a symbolic link), and hands every entry to the visitors on
// the worker's own thread. A directory on another file system than its
// object's root is not entered. Directories that cannot be read are counted
// and named in Problems(), and the walk goes on.
//
// Memory grows with directories (one ScanDir each), not with files: an entry
// exists only while the visitors look at it. Hard-linked files are told
// apart by ScanEntry::firstLink, true for the first name of an inode the walk
// meets, so totals count each inode once.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine/ReportEngine.h"

namespace vn::server {

// Totals a report keeps per directory (the slots are handed out by the
// Scanner's settings). Only the worker reading a directory writes its slots.
struct DirTotals {
  std::uint64_t files = 0;
  std::uint64_t dirs = 0;
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
};

// A directory met by the walk. Owned by the Scanner; addresses stay valid
// until the Scanner is destroyed.
struct ScanDir {
  const ScanDir* parent = nullptr;  // null for an object's root
  std::string rel;                  // path below the root, "/"-separated ("" for the root)
  std::string shown;                // as results write it: the object's shownRoot, "\", the path
  bool shownExact = true;           // `shown` holds nothing a result would have to change
  std::uint32_t depth = 0;          // 0 for the root
  std::uint32_t object = 0;         // index of its ScanObject
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::unique_ptr<DirTotals[]> totals;
};

// One entry as the visitors see it; valid during the call only.
struct ScanEntry {
  const ScanDir* dir = nullptr;   // the directory holding it; null for an object's root
  const ScanDir* self = nullptr;  // a directory that will be read: its own ScanDir
  std::string_view name;          // "" for an object's root
  const struct statx* st = nullptr;
  int dirFd = -1;                 // descriptor of `dir`, for *at calls (-1 for a root)
  bool firstLink = true;          // first name of this inode met in the scan
  unsigned worker = 0;            // 0 .. Workers()-1, for per-worker state
};

class ScanVisitor {
 public:
  virtual ~ScanVisitor() = default;
  // Called from any worker; calls with the same `worker` never overlap.
  virtual void Entry(const ScanEntry& entry) = 0;
  // Asked before an entry's metadata is read, for an entry that the
  // directory listing says is neither a directory nor of unknown kind
  // (`type` is the listing's DT_ value). When no visitor needs the entry the
  // walk does not read its metadata and does not hand it to Entry: a report
  // that selects files by name spares the walk most of its system calls.
  virtual bool NeedsEntry(const ScanDir& dir, std::string_view name, unsigned char type) const {
    (void)dir, (void)name, (void)type;
    return true;
  }
};

struct ScanSettings {
  unsigned threads = 0;          // 0 = one per core
  unsigned statxMask = 0;        // wanted beyond the basic fields (STATX_BTIME)
  unsigned dirSlots = 0;         // DirTotals per directory
};

class Scanner {
 public:
  Scanner(const std::vector<ScanObject>& objects, const ScanSettings& settings, ProgressSink& progress);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  unsigned Workers() const { return m_workers; }
  // The workers a scan with `threads` (0 = one per core) uses.
  static unsigned WorkerCount(unsigned threads);
  // Walks every object that has no error; false when cancelled.
  [[nodiscard]] bool Run(std::span<ScanVisitor* const> visitors);

  // The object roots that could be opened (null where not), and every
  // directory met, in no particular order.
  const ScanDir* Root(std::size_t object) const { return m_roots[object]; }
  const std::vector<std::unique_ptr<ScanDir>>& Dirs() const { return m_dirs; }
  // "shown path: reason" for every object or directory that could not be read.
  const std::vector<std::string>& Problems() const { return m_problems; }
  std::uint64_t UnreadableCount() const { return m_unreadable; }
  std::uint64_t FileCount() const { return m_files.load(); }

 private:
  struct Shared;
  void Work(unsigned worker, std::span<ScanVisitor* const> visitors);
  void ReadDir(ScanDir& dir, unsigned worker, std::span<ScanVisitor* const> visitors,
               std::vector<ScanDir*>& found, std::vector<std::unique_ptr<ScanDir>>& owned, char* buffer,
               std::size_t bufferSize);
  void Problem(const std::string& shown, int err);
  void MaybeProgress(const std::string& where);

  const std::vector<ScanObject>& m_objects;
  ScanSettings m_settings;
  ProgressSink& m_progress;
  unsigned m_workers = 1;
  std::vector<int> m_rootFds;
  std::vector<const ScanDir*> m_roots;
  std::vector<std::unique_ptr<ScanDir>> m_dirs;
  std::vector<std::string> m_problems;
  std::uint64_t m_unreadable = 0;
  std::atomic<std::uint64_t> m_files{0};
  std::atomic<std::uint64_t> m_dirCount{0};
  std::unique_ptr<Shared> m_shared;
};

// Problem texts keep to this many entries; the rest are only counted.
inline constexpr std::size_t kMaxProblemsNamed = 200;

}  // namespace vn::server
