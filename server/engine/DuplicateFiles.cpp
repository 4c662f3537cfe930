// Duplicate Files: files with the same content (and, when asked, similar
// names). Files are grouped by size first; only sizes met more than once are
// read: a hash of the first block, then of the whole file for those that
// still share one, then, with "Compare Contents", a byte comparison against
// the group's first file. Hard links to one inode are one file (they take
// its space once); empty files are never duplicates.
//
// The scan keeps one small record per regular file (size, directory, name
// in a per-worker arena): finding copies needs every file's size.

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

constexpr std::size_t kFirstBlock = 4096;
constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kTogether = 16;  // files read side by side at most

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Similarity of two texts in percent, by edit distance, without letter case.
int Similarity(std::string_view a, std::string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.empty()) return 100;
  if (a.size() > 255) return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                                return Lower(x) == Lower(y);
                              }) ? 100 : 0;
  std::size_t row[257];
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diag = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1)});
      diag = up;
    }
  }
  return static_cast<int>(100 - (row[b.size()] * 100) / a.size());
}

std::pair<std::string_view, std::string_view> StemAndExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {name, {}};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

// Also Wasted Space when its duplicate group is set (`wasted`): copies by
// content, names not compared, among the files that meet its other groups.
class DuplicateFiles final : public ListingReport {
 public:
  DuplicateFiles(RunContext& run, bool wasted) : ListingReport(run), m_wastedSpace(wasted) {}

  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    if (m_wastedSpace) {
      std::optional<Range> copies = CountRange(m_rec.Criteria[1], error);
      std::optional<Range> accessed = copies ? DateRange(m_rec.Criteria[0], m_run.now, error) : std::nullopt;
      std::optional<Range> revised = accessed ? DateRange(m_rec.Criteria[2], m_run.now, error) : std::nullopt;
      std::optional<Range> size = revised ? SizeRange(m_rec.Criteria[3], error) : std::nullopt;
      if (!size) {
        message = error.message;
        return ERROR_INVALID_PARAMETER;
      }
      m_range = *copies, m_accessed = *accessed, m_revised = *revised, m_size = *size;
      m_namePercent = m_extPercent = 0;
      m_collect.resize(workers);
      return ListingReport::Prepare(workers, message);
    }
    std::optional<Range> r = CountRange(m_rec.Criteria[0], error);
    std::optional<std::int64_t> name = WholeNumber(m_rec.Criteria[1].Value1, 100);
    std::optional<std::int64_t> ext = WholeNumber(m_rec.Criteria[2].Value1, 100);
    if (!r) {
      message = error.message;
      return ERROR_INVALID_PARAMETER;
    }
    if (!name || !ext || *name > 100 || *ext > 100) {
      message = "The name match of the duplicate test must be a percentage from 0 to 100.";
      return ERROR_INVALID_PARAMETER;
    }
    m_range = *r;
    m_namePercent = static_cast<int>(*name);
    m_extPercent = static_cast<int>(*ext);
    m_compare = m_rec.Criteria[0].Compare != 0;
    m_collect.resize(workers);
    return ListingReport::Prepare(workers, message);
  }

  void Heading(std::vector<std::string>& lines) const override {
    if (m_wastedSpace) {
      lines.push_back("Files with copies, among the files that meet the other criteria");
    } else if (m_namePercent == 100 && m_extPercent == 100) {
      lines.push_back("Exact name match");
    } else if (m_namePercent > 0 || m_extPercent > 0) {
      lines.push_back("Close name match: name " + std::to_string(m_namePercent) + "%, extension " +
                      std::to_string(m_extPercent) + "%");
    } else {
      lines.push_back("Names not compared");
    }
    lines.push_back(m_compare ? "Contents compared byte by byte" : "Contents compared by hash");
    lines.push_back(Grouped(m_groups) + " groups of duplicates, " + Grouped(m_redundant) + " redundant copies");
    ListingReport::Heading(lines);
  }

  void Entry(const ScanEntry& e) override {
    if (!e.dir || !S_ISREG(e.st->stx_mode) || !e.firstLink || e.st->stx_size == 0) return;
    if (!PassesFilters(e)) return;
    if (m_wastedSpace && !(m_accessed.Contains(e.st->stx_atime.tv_sec) && m_revised.Contains(e.st->stx_mtime.tv_sec) &&
                      m_size.Contains(static_cast<std::int64_t>(e.st->stx_size))))
      return;
    Collected& c = m_collect[e.worker];
    c.files.push_back({e.st->stx_size, e.dir, static_cast<std::uint32_t>(c.names.size()),
                       static_cast<std::uint32_t>(e.name.size()), e.worker, 0});
    c.names.append(e.name);
  }

  ~DuplicateFiles() override {
    for (int fd : m_roots)
      if (fd >= 0) ::close(fd);
  }

  DWORD Complete(const Scanner*, std::string&) override {
    for (const ScanObject& o : m_run.objects)
      m_roots.push_back(o.error.empty() ? ::open(o.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    std::vector<File> files;
    for (Collected& c : m_collect) files.insert(files.end(), c.files.begin(), c.files.end());
    const bool exactNames = m_namePercent == 100 && m_extPercent == 100;
    std::sort(files.begin(), files.end(), [&](const File& a, const File& b) {
      if (a.size != b.size) return a.size < b.size;
      return exactNames && LessName(Name(a), Name(b));
    });
    // Candidate sets: the same size (and, for exact names, the same name).
    std::vector<std::pair<std::size_t, std::size_t>> sets;
    for (std::size_t i = 0; i < files.size();) {
      std::size_t j = i + 1;
      while (j < files.size() && files[j].size == files[i].size &&
             (!exactNames || EqualName(Name(files[i]), Name(files[j]))))
        ++j;
      if (j - i > 1) sets.emplace_back(i, j);
      i = j;
    }
    m_run.progress.Progress("Comparing " + Grouped(sets.size()) + " sets of files of equal size");
    // The sets are shared out among the workers, largest files first.
    std::sort(sets.begin(), sets.end(), [&](auto& a, auto& b) { return files[a.first].size > files[b.first].size; });
    std::atomic<std::size_t> next{0};
    std::atomic<bool> cancelled{false};
    std::vector<std::vector<std::vector<File>>> found(m_workers.size());
    auto work = [&](unsigned w) {
      std::unique_ptr<char[]> a(new char[kChunk]), b(new char[kChunk]);
      for (std::size_t k; (k = next.fetch_add(1)) < sets.size();) {
        if (m_run.progress.Cancelled()) {
          cancelled = true;
          return;
        }
        std::vector<File> set(files.begin() + static_cast<std::ptrdiff_t>(sets[k].first),
                              files.begin() + static_cast<std::ptrdiff_t>(sets[k].second));
        SplitSet(set, found[w], a.get(), b.get());
      }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < m_workers.size(); ++w) threads.emplace_back(work, w);
    work(0);
    for (std::thread& t : threads) t.join();
    if (cancelled) return ERROR_CANCELLED;
    for (auto& per : found)
      for (auto& g : per)
        if (m_range.Contains(static_cast<std::int64_t>(g.size()))) m_result.push_back(std::move(g));
    std::sort(m_result.begin(), m_result.end(), [&](const auto& a, const auto& b) {
      const std::uint64_t wa = a[0].size * (a.size() - 1), wb = b[0].size * (b.size() - 1);
      if (wa != wb) return wa > wb;
      return LessPath(a[0], b[0]);
    });
    for (auto& g : m_result) {
      std::sort(g.begin(), g.end(), [&](const File& x, const File& y) { return LessPath(x, y); });
      ++m_groups;
      m_redundant += g.size() - 1;
      m_wasted += g[0].size * (g.size() - 1);
    }
    WriteGroups();
    return 0;
  }

 protected:
  bool Accept(const ScanEntry&, unsigned) override { return false; }
  void TotalsFields(std::string& line, std::uint64_t files, std::uint64_t, std::uint64_t) const override {
    Text(line, "Groups");
    Number(line, static_cast<std::int64_t>(m_groups));
    Text(line, "Files");
    Number(line, static_cast<std::int64_t>(files));
    Text(line, std::string("Wasted") + m_unit.suffix);
    Number(line, m_unit.Show(m_wasted));
  }

 private:
  struct File {
    std::uint64_t size;
    const ScanDir* dir;
    std::uint32_t nameOffset;
    std::uint32_t nameLength;
    unsigned worker;
    std::uint64_t hash;
  };
  struct Collected {
    std::vector<File> files;
    std::string names;
  };

  std::string_view Name(const File& f) const {
    return std::string_view(m_collect[f.worker].names).substr(f.nameOffset, f.nameLength);
  }
  static bool LessName(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
  }
  static bool EqualName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return Lower(x) == Lower(y);
           });
  }
  bool LessPath(const File& a, const File& b) const {
    if (a.dir != b.dir) return a.dir->shown < b.dir->shown;
    return Name(a) < Name(b);
  }
  // The file's path below its object's root; files are opened relative to
  // the root, which saves looking up the root's own path every time.
  std::string RelativePath(const File& f) const {
    std::string p = f.dir->rel;
    if (!p.empty()) p += '/';
    p += Name(f);
    return p;
  }
  int Root(const File& f) const { return m_roots[f.dir->object]; }
  int Open(const File& f) const {
    return ::openat(Root(f), RelativePath(f).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  }

  // Hash of the first block (whole = false) or the whole file; false when
  // the file cannot be read as it was listed.
  bool Hash(File& f, bool whole, char* buffer) const {
    int fd = Open(f);
    if (fd < 0) return false;
    XXH3_state_t* state = XXH3_createState();
    XXH3_64bits_reset(state);
    std::uint64_t done = 0;
    const std::uint64_t want = whole ? f.size : std::min<std::uint64_t>(f.size, kFirstBlock);
    bool ok = true;
    if (whole) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    while (done < want) {
      ssize_t n = ::pread(fd, buffer, std::min<std::uint64_t>(kChunk, want - done), static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      XXH3_64bits_update(state, buffer, static_cast<std::size_t>(n));
      done += static_cast<std::uint64_t>(n);
    }
    f.hash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    ::close(fd);
    return ok;
  }

  bool SameBytes(const File& x, const File& y, char* a, char* b) const {
    int fx = Open(x), fy = Open(y);
    bool same = fx >= 0 && fy >= 0;
    for (std::uint64_t off = 0; same && off < x.size;) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, x.size - off));
      ssize_t n1 = ::pread(fx, a, want, static_cast<off_t>(off));
      ssize_t n2 = ::pread(fy, b, want, static_cast<off_t>(off));
      same = n1 == static_cast<ssize_t>(want) && n2 == n1 && std::memcmp(a, b, want) == 0;
      off += want;
    }
    if (fx >= 0) ::close(fx);
    if (fy >= 0) ::close(fy);
    return same;
  }

  // Splits one set of equal-size files into groups of equal content.
  void SplitSet(std::vector<File>& set, std::vector<std::vector<File>>& out, char* a, char* b) const {
    if (m_compare && set.size() <= kTogether) {
      // Bytes are compared anyway: one side-by-side read of the whole set
      // (its first block first, so files that differ early cost little).
      for (auto& group : SplitByBytes(set)) Confirm(std::move(group), out, a, b, true);
      return;
    }
    std::vector<File> readable;
    for (File& f : set)
      if (Hash(f, false, a)) readable.push_back(f);
    auto byHash = [](const File& x, const File& y) { return x.hash < y.hash; };
    std::sort(readable.begin(), readable.end(), byHash);
    for (std::size_t i = 0; i < readable.size();) {
      std::size_t j = i + 1;
      while (j < readable.size() && readable[j].hash == readable[i].hash) ++j;
      if (j - i > 1) {
        std::vector<File> same(readable.begin() + static_cast<std::ptrdiff_t>(i),
                               readable.begin() + static_cast<std::ptrdiff_t>(j));
        if (same[0].size > kFirstBlock && m_compare && same.size() <= kTogether) {
          // Bytes are compared anyway: read the files side by side once,
          // splitting them as their contents part, instead of hashing first.
          for (auto& group : SplitByBytes(same)) Confirm(std::move(group), out, a, b, true);
        } else if (same[0].size > kFirstBlock) {
          std::vector<File> whole;
          for (File& f : same)
            if (Hash(f, true, a)) whole.push_back(f);
          std::sort(whole.begin(), whole.end(), byHash);
          for (std::size_t p = 0; p < whole.size();) {
            std::size_t q = p + 1;
            while (q < whole.size() && whole[q].hash == whole[p].hash) ++q;
            if (q - p > 1)
              Confirm(std::vector<File>(whole.begin() + static_cast<std::ptrdiff_t>(p),
                                        whole.begin() + static_cast<std::ptrdiff_t>(q)),
                      out, a, b);
            p = q;
          }
        } else {
          Confirm(std::move(same), out, a, b);
        }
      }
      i = j;
    }
  }

  // Groups of files whose bytes are equal, reading each file once: chunk by
  // chunk, every class of files still alike is split where its chunks part;
  // a file left alone is read no further. Unreadable files drop out.
  std::vector<std::vector<File>> SplitByBytes(const std::vector<File>& same) const {
    struct Member {
      File file;
      int fd;
      std::unique_ptr<char[]> buffer;
    };
    std::vector<Member> members;
    for (const File& f : same) {
      int fd = Open(f);
      if (fd < 0) continue;
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
      members.push_back({f, fd, std::unique_ptr<char[]>(new char[kChunk])});
    }
    std::vector<std::vector<std::size_t>> classes(1);
    for (std::size_t i = 0; i < members.size(); ++i) classes[0].push_back(i);
    if (members.size() < 2) classes.clear();
    const std::uint64_t size = same[0].size;
    for (std::uint64_t off = 0; off < size && !classes.empty();) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(off == 0 ? kFirstBlock : kChunk, size - off));
      std::vector<std::vector<std::size_t>> next;
      for (auto& c : classes) {
        std::vector<std::size_t> readable;
        for (std::size_t m : c) {
          ssize_t n;
          do n = ::pread(members[m].fd, members[m].buffer.get(), want, static_cast<off_t>(off));
          while (n < 0 && errno == EINTR);
          if (n == static_cast<ssize_t>(want)) readable.push_back(m);
        }
        std::vector<std::vector<std::size_t>> parts;
        for (std::size_t m : readable) {
          auto it = std::find_if(parts.begin(), parts.end(), [&](const std::vector<std::size_t>& p) {
            return std::memcmp(members[p[0]].buffer.get(), members[m].buffer.get(), want) == 0;
          });
          if (it == parts.end()) parts.push_back({m});
          else it->push_back(m);
        }
        for (auto& p : parts)
          if (p.size() > 1) next.push_back(std::move(p));
      }
      classes = std::move(next);
      off += want;
    }
    std::vector<std::vector<File>> out;
    for (auto& c : classes) {
      out.emplace_back();
      for (std::size_t m : c) out.back().push_back(members[m].file);
    }
    for (Member& m : members) ::close(m.fd);
    return out;
  }

  // Content confirmed (bytes, when asked and not done yet), then the name test.
  void Confirm(std::vector<File> same, std::vector<std::vector<File>>& out, char* a, char* b,
               bool bytesCompared = false) const {
    std::vector<std::vector<File>> classes;
    for (const File& f : same) {
      bool placed = false;
      for (auto& c : classes) {
        if ((!m_compare || bytesCompared || SameBytes(c[0], f, a, b)) && NamesMatch(Name(c[0]), Name(f))) {
          c.push_back(f);
          placed = true;
          break;
        }
      }
      if (!placed) classes.push_back({f});
    }
    for (auto& c : classes)
      if (c.size() > 1) out.push_back(std::move(c));
  }

  bool NamesMatch(std::string_view x, std::string_view y) const {
    if (m_namePercent == 0 && m_extPercent == 0) return true;
    auto [sx, ex] = StemAndExtension(x);
    auto [sy, ey] = StemAndExtension(y);
    return Similarity(sx, sy) >= m_namePercent && Similarity(ex, ey) >= m_extPercent;
  }

  void WriteGroups() {
    std::size_t number = 0;
    for (const auto& g : m_result) {
      if (m_truncated) break;
      ++number;
      AddSummaryRow("<Group " + std::to_string(number) + ": " + std::to_string(g.size()) + " files of " +
                        Grouped(g[0].size) + " bytes>",
                    static_cast<std::int64_t>(g[0].size), static_cast<std::int64_t>(g[0].size * (g.size() - 1)), 0);
      for (const File& f : g) {
        // The detail columns need the file's metadata: read once more for
        // the files that are listed.
        struct statx st {};
        if (::statx(Root(f), RelativePath(f).c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
          continue;
        ScanEntry e;
        e.dir = f.dir;
        e.name = Name(f);
        e.st = &st;
        if (!AddRow(e, 0)) break;
      }
    }
  }

  Range m_range;
  int m_namePercent = 100;
  int m_extPercent = 100;
  bool m_compare = false;
  bool m_wastedSpace = false;  // Wasted Space with its duplicate group
  Range m_accessed, m_revised, m_size;
  std::vector<Collected> m_collect;
  std::vector<int> m_roots;  // O_PATH descriptors of the objects' roots
  std::vector<std::vector<File>> m_result;
  std::uint64_t m_groups = 0;
  std::uint64_t m_redundant = 0;
  std::uint64_t m_wasted = 0;
};

}  // namespace

std::unique_ptr<Report> MakeDuplicateReport(RunContext& run, bool wasted) {
  return std::make_unique<DuplicateFiles>(run, wasted);
}

}  // namespace vn::server
