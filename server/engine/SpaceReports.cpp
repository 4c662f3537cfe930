// The reports of space totals: Partition Summary, Space By Directory,
// Space By Share, Space By User, Group Usage Report, Detailed Summary and
// Space By Quota. Every entry that passes the filters counts, directories
// included (a directory's own blocks are space it takes), each hard-linked
// inode once.

#include <sys/quota.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <system_error>

#include <cstring>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

void Header(ResultWriter& out, std::initializer_list<std::string> titles) {
  std::string line;
  Row(line, "H1");
  for (const std::string& t : titles) Text(line, t);
  EndRow(line);
  out.Append(line);
}

void Totals(ResultWriter& out, std::initializer_list<std::pair<std::string, std::int64_t>> fields) {
  std::string line;
  Row(line, "TF");
  for (const auto& [label, value] : fields) {
    Text(line, label);
    Number(line, value);
  }
  EndRow(line);
  out.Append(line);
}

std::int64_t Count(std::uint64_t n) { return static_cast<std::int64_t>(std::min<std::uint64_t>(n, INT64_MAX)); }

std::int64_t Percent(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0 : static_cast<std::int64_t>((part * 100 + whole / 2) / whole);
}

std::string SizeWords(const ReportCriterion& c, const char* what) {
  std::string v1(c.Value1, strnlen(c.Value1, sizeof c.Value1)), v2(c.Value2, strnlen(c.Value2, sizeof c.Value2));
  const char* unit = c.Measure == 1 ? " MB" : c.Measure == 2 ? " KB" : c.Measure == 8 ? "%" : " bytes";
  switch (c.Scope) {
    case 2: return std::string(what) + " between " + v1 + " and " + v2 + unit;
    case 3: return std::string(what) + " larger than " + v1 + unit;
    case 4: return std::string(what) + " smaller than " + v1 + unit;
    default: return {};
  }
}

// What one entry adds to a total: a hard-linked file counts at its first name.
void Add(DirTotals& t, const ScanEntry& e) {
  if (!e.firstLink) return;
  if (S_ISDIR(e.st->stx_mode)) {
    if (e.dir) ++t.dirs;
  } else {
    ++t.files;
  }
  t.size += e.st->stx_size;
  t.allocated += e.st->stx_blocks * 512;
}

// ---------------------------------------------------------------- Partition Summary

class PartitionSummary final : public Report {
 public:
  using Report::Report;
  std::size_t ColumnCount() const override { return 7; }
  bool NeedsScan() const override { return false; }
  DWORD Write(ResultWriter& out, const Scanner*) override {
    const char* u = m_unit.suffix;
    Header(out, {"Computer Name", "Drive Name", "File System", std::string("Total Space") + u,
                 std::string("Used Space") + u, std::string("Free Space") + u, "Percent Free"});
    std::set<std::pair<std::string, std::string>> seen;
    std::set<std::uint64_t> devices;
    std::uint64_t total = 0, used = 0, free = 0;
    std::string rows;
    for (const ScanObject& o : m_run.objects) {
      if (!o.error.empty() || !seen.insert({o.machine, o.drive}).second) continue;
      FileSystemInfo fs = ReadFileSystem(o.root);
      if (!fs.ok) continue;  // named in the heading by the engine's object check
      Row(rows, "D1");
      Text(rows, o.machine);
      Text(rows, o.drive);
      Text(rows, fs.type);
      Number(rows, m_unit.Show(fs.total));
      Number(rows, m_unit.Show(fs.used));
      Number(rows, m_unit.Show(fs.free));
      Number(rows, Percent(fs.free, fs.total));
      EndRow(rows);
      if (devices.insert(fs.device).second) total += fs.total, used += fs.used, free += fs.free;
    }
    out.Append(rows);
    const std::string uu = m_unit.suffix;
    Totals(out, {{"Total Space" + uu, m_unit.Show(total)}, {"Used Space" + uu, m_unit.Show(used)},
                 {"Free Space" + uu, m_unit.Show(free)}});
    return 0;
  }
};

// ---------------------------------------------------------------- Space By Directory / Share

class SpaceByDirectory : public Report {
 public:
  using Report::Report;
  std::size_t ColumnCount() const override { return 6; }
  unsigned DirSlots() const override { return 1; }
  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    std::optional<Range> r = SizeRange(m_rec.Criteria[0], error);
    std::optional<std::int64_t> levels = WholeNumber(m_rec.Criteria[1].Value1, 0);
    if (!r || !levels) {
      message = r ? "The number of directory levels is not a whole number." : error.message;
      return ERROR_INVALID_PARAMETER;
    }
    m_range = *r;
    m_levels = *levels;
    return Report::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    lines.push_back(m_levels == 0 ? std::string("All levels") : "Levels: " + std::to_string(m_levels));
    if (std::string w = SizeWords(m_rec.Criteria[0], "Directories"); !w.empty()) lines.push_back(w);
    Report::Heading(lines);
  }
  void Entry(const ScanEntry& e) override {
    if (e.dir && !PassesFilters(e)) return;
    // A directory's own blocks count in the directory itself.
    DirTotals& t = e.self ? e.self->totals[m_slot] : e.dir->totals[m_slot];
    Add(t, e);
    if (e.self && e.dir) {
      --t.dirs;  // counted in its parent, below
      ++e.dir->totals[m_slot].dirs;
    }
  }
  DWORD Write(ResultWriter& out, const Scanner* scan) override {
    std::vector<ScanDir*> dirs = RollUp(*scan);
    const char* u = m_unit.suffix;
    Header(out, {"Directory", "Level", "Files", "Subdirectories", std::string("Size") + u,
                 std::string("Allocated") + u});
    std::sort(dirs.begin(), dirs.end(), [](const ScanDir* a, const ScanDir* b) {
      return a->object != b->object ? a->object < b->object : a->rel < b->rel;
    });
    std::string rows;
    std::int64_t written = 0;
    for (const ScanDir* d : dirs) {
      const DirTotals& t = d->totals[m_slot];
      if ((m_levels > 0 && d->depth > m_levels) || !m_range.Contains(static_cast<std::int64_t>(t.size))) continue;
      if (m_rec.RptLen > 0 && written >= m_rec.RptLen) break;
      ++written;
      Row(rows, "D1");
      Text(rows, d->shown);
      Number(rows, d->depth);
      Number(rows, Count(t.files));
      Number(rows, Count(t.dirs));
      Number(rows, m_unit.Show(t.size));
      Number(rows, m_unit.Show(t.allocated));
      EndRow(rows);
      if (rows.size() > (1 << 18)) out.Append(rows), rows.clear();
    }
    out.Append(rows);
    WriteTotals(out, *scan);
    return 0;
  }

 protected:
  // Adds every directory's totals into its parent's, deepest first.
  std::vector<ScanDir*> RollUp(const Scanner& scan) {
    std::vector<ScanDir*> dirs;
    for (const auto& d : scan.Dirs()) dirs.push_back(d.get());
    std::sort(dirs.begin(), dirs.end(), [](const ScanDir* a, const ScanDir* b) { return a->depth > b->depth; });
    for (ScanDir* d : dirs) {
      if (!d->parent) continue;
      DirTotals& p = d->parent->totals[m_slot];
      const DirTotals& t = d->totals[m_slot];
      p.files += t.files, p.dirs += t.dirs, p.size += t.size, p.allocated += t.allocated;
    }
    return dirs;
  }
  void WriteTotals(ResultWriter& out, const Scanner& scan) {
    DirTotals all;
    for (std::size_t i = 0; i < m_run.objects.size(); ++i) {
      if (const ScanDir* root = scan.Root(i)) {
        const DirTotals& t = root->totals[m_slot];
        all.files += t.files, all.dirs += t.dirs, all.size += t.size, all.allocated += t.allocated;
      }
    }
    const std::string u = m_unit.suffix;
    Totals(out, {{"Files", Count(all.files)}, {"Subdirectories", Count(all.dirs)}, {"Size" + u, m_unit.Show(all.size)},
                 {"Allocated" + u, m_unit.Show(all.allocated)}});
  }

  Range m_range;
  std::int64_t m_levels = 0;
};

class SpaceByShare final : public SpaceByDirectory {
 public:
  using SpaceByDirectory::SpaceByDirectory;
  std::size_t ColumnCount() const override { return 6; }
  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    if (const DWORD bad = KeepRange(SizeRange(m_rec.Criteria[0], error), error, &m_range, message)) return bad;
    return Report::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    if (std::string w = SizeWords(m_rec.Criteria[0], "Shares"); !w.empty()) lines.push_back(w);
    Report::Heading(lines);
  }
  DWORD Write(ResultWriter& out, const Scanner* scan) override {
    RollUp(*scan);
    // Shares lying inside a scanned object, found by their path below it.
    std::map<std::pair<std::uint32_t, std::string>, const ScanDir*> byPath;
    for (const auto& d : scan->Dirs()) byPath[{d->object, d->rel}] = d.get();
    const char* u = m_unit.suffix;
    Header(out, {"Share Name", "Path", "Files", "Subdirectories", std::string("Size") + u,
                 std::string("Allocated") + u});
    std::string rows;
    DirTotals all;
    std::int64_t written = 0;
    for (const ShareInfo& share : m_run.options.shares) {
      const ScanDir* found = nullptr;
      for (std::uint32_t i = 0; i < m_run.objects.size() && !found; ++i) {
        if (!m_run.objects[i].error.empty()) continue;
        std::error_code ec;
        std::filesystem::path rel = std::filesystem::relative(share.root, m_run.objects[i].root, ec);
        if (ec || rel.empty() || *rel.begin() == "..") continue;
        std::string key = rel == "." ? std::string() : rel.generic_string();
        if (auto it = byPath.find({i, key}); it != byPath.end()) found = it->second;
      }
      if (!found) continue;
      const DirTotals& t = found->totals[m_slot];
      if (!m_range.Contains(static_cast<std::int64_t>(t.size))) continue;
      if (m_rec.RptLen > 0 && written >= m_rec.RptLen) break;
      ++written;
      all.files += t.files, all.dirs += t.dirs, all.size += t.size, all.allocated += t.allocated;
      Row(rows, "D1");
      Text(rows, share.name);
      Text(rows, share.shownPath);
      Number(rows, Count(t.files));
      Number(rows, Count(t.dirs));
      Number(rows, m_unit.Show(t.size));
      Number(rows, m_unit.Show(t.allocated));
      EndRow(rows);
    }
    out.Append(rows);
    const std::string uu = m_unit.suffix;
    Totals(out, {{"Files", Count(all.files)}, {"Subdirectories", Count(all.dirs)},
                 {"Size" + uu, m_unit.Show(all.size)}, {"Allocated" + uu, m_unit.Show(all.allocated)}});
    return 0;
  }
};

// ---------------------------------------------------------------- Space By User / Group

class SpaceByAccount final : public Report {
 public:
  SpaceByAccount(RunContext& run, bool groups) : Report(run), m_groups(groups) {}
  std::size_t ColumnCount() const override { return 5; }
  DWORD Prepare(unsigned workers, std::string& message) override {
    m_perWorker.resize(workers);
    return Report::Prepare(workers, message);
  }
  void Entry(const ScanEntry& e) override {
    if (e.dir && !PassesFilters(e)) return;
    Add(m_perWorker[e.worker][m_groups ? e.st->stx_gid : e.st->stx_uid], e);
  }
  DWORD Write(ResultWriter& out, const Scanner*) override {
    std::unordered_map<std::uint32_t, DirTotals> all;
    for (auto& w : m_perWorker)
      for (auto& [id, t] : w) {
        DirTotals& a = all[id];
        a.files += t.files, a.dirs += t.dirs, a.size += t.size, a.allocated += t.allocated;
      }
    struct Line {
      std::string name;
      DirTotals t;
    };
    std::vector<Line> lines;
    for (auto& [id, t] : all) {
      std::string_view name = m_groups ? m_run.accounts.Group(id) : m_run.accounts.User(id);
      lines.push_back({AccountNames::Known(name) ? std::string(name) : "undefined (" + std::to_string(id) + ")", t});
    }
    std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
      return a.t.size != b.t.size ? a.t.size > b.t.size : a.name < b.name;
    });
    const char* u = m_unit.suffix;
    if (m_groups) {
      Header(out, {"Group Name", "Files", "Directories", std::string("Used Space") + u, std::string("Allocated") + u});
    } else {
      Header(out, {"User Name", "Files", "Directories", std::string("Total Size") + u, std::string("Allocated") + u});
    }
    std::string rows;
    DirTotals sum;
    std::int64_t written = 0;
    for (const Line& l : lines) {
      if (m_rec.RptLen > 0 && written++ >= m_rec.RptLen) break;
      Row(rows, "D1");
      Text(rows, l.name);
      Number(rows, Count(l.t.files));
      Number(rows, Count(l.t.dirs));
      Number(rows, m_unit.Show(l.t.size));
      Number(rows, m_unit.Show(l.t.allocated));
      EndRow(rows);
      sum.files += l.t.files, sum.dirs += l.t.dirs, sum.size += l.t.size, sum.allocated += l.t.allocated;
    }
    out.Append(rows);
    const std::string uu = m_unit.suffix;
    Totals(out, {{"Files", Count(sum.files)}, {"Directories", Count(sum.dirs)},
                 {(m_groups ? "Used Space" : "Total Size") + uu, m_unit.Show(sum.size)},
                 {"Allocated" + uu, m_unit.Show(sum.allocated)}});
    return 0;
  }

 private:
  bool m_groups;
  std::vector<std::unordered_map<std::uint32_t, DirTotals>> m_perWorker;
};

// ---------------------------------------------------------------- Detailed Summary

class DetailedSummary final : public Report {
 public:
  using Report::Report;
  std::size_t ColumnCount() const override { return 5; }
  DWORD Prepare(unsigned workers, std::string& message) override {
    m_perWorker.resize(workers);
    return Report::Prepare(workers, message);
  }
  void Entry(const ScanEntry& e) override {
    if (e.dir && !PassesFilters(e)) return;
    Worker& w = m_perWorker[e.worker];
    Add(w.used, e);
    if (!S_ISREG(e.st->stx_mode)) return;
    // Extensions are compared without letter case and shown in lower case.
    const std::size_t dot = e.name.rfind('.');
    char key[24] = {};
    std::size_t n = 0;
    if (dot != std::string_view::npos && dot != 0 && dot + 1 < e.name.size() && e.name.size() - dot < sizeof key) {
      for (std::size_t i = dot; i < e.name.size(); ++i) {
        char c = e.name[i];
        key[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      }
    }
    auto it = w.categories.find(std::string_view(key, n));
    if (it == w.categories.end()) it = w.categories.emplace(std::string(key, n), DirTotals{}).first;
    Add(it->second, e);
  }
  DWORD Write(ResultWriter& out, const Scanner*) override {
    std::map<std::string, DirTotals, std::less<>> all;
    DirTotals used;
    for (Worker& w : m_perWorker) {
      for (auto& [k, t] : w.categories) {
        DirTotals& a = all[k];
        a.files += t.files, a.size += t.size, a.allocated += t.allocated;
      }
      used.files += w.used.files, used.dirs += w.used.dirs, used.size += w.used.size,
          used.allocated += w.used.allocated;
    }
    std::vector<std::pair<std::string, DirTotals>> cats(all.begin(), all.end());
    std::sort(cats.begin(), cats.end(), [](const auto& a, const auto& b) {
      return a.second.size != b.second.size ? a.second.size > b.second.size : a.first < b.first;
    });
    std::set<std::uint64_t> devices;
    std::uint64_t free = 0;
    for (const ScanObject& o : m_run.objects) {
      if (!o.error.empty()) continue;
      FileSystemInfo fs = ReadFileSystem(o.root);
      if (fs.ok && devices.insert(fs.device).second) free += fs.free;
    }
    const char* u = m_unit.suffix;
    Header(out, {"Category", "Files", std::string("Size Used") + u, std::string("Allocated") + u, "Percent"});
    std::string rows;
    auto line = [&](const std::string& name, std::uint64_t files, std::uint64_t size, std::uint64_t alloc,
                    std::int64_t percent) {
      Row(rows, "D1");
      Text(rows, name);
      Number(rows, Count(files));
      Number(rows, m_unit.Show(size));
      Number(rows, m_unit.Show(alloc));
      Number(rows, percent);
      EndRow(rows);
    };
    std::int64_t written = 0;
    for (const auto& [name, t] : cats) {
      if (m_rec.RptLen > 0 && written++ >= m_rec.RptLen) break;
      line(name.empty() ? std::string("(no extension)") : name, t.files, t.size, t.allocated,
           Percent(t.size, used.size));
    }
    line("Used Space", used.files, used.size, used.allocated, 100);
    line("Free Space", 0, free, free, 0);
    out.Append(rows);
    const std::string uu = m_unit.suffix;
    Totals(out, {{"Files", Count(used.files)}, {"Size Used" + uu, m_unit.Show(used.size)},
                 {"Free Space" + uu, m_unit.Show(free)}});
    return 0;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  struct Worker {
    DirTotals used;
    std::unordered_map<std::string, DirTotals, Hash, std::equal_to<>> categories;
  };
  std::vector<Worker> m_perWorker;
};

// ---------------------------------------------------------------- Space By Quota

class SpaceByQuota final : public Report {
 public:
  using Report::Report;
  std::size_t ColumnCount() const override { return 7; }
  bool NeedsScan() const override { return false; }
  DWORD Prepare(unsigned workers, std::string& message) override {
    const ReportCriterion& c = m_rec.Criteria[0];
    CriterionError error;
    ReportCriterion bytes = c;
    if (c.Measure == 8) bytes.Measure = 3;  // percent: plain numbers
    if (const DWORD bad = KeepRange(SizeRange(bytes, error), error, &m_range, message)) return bad;
    m_percent = c.Measure == 8;
    return Report::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    if (std::string w = SizeWords(m_rec.Criteria[0], "Used"); !w.empty()) lines.push_back(w);
    for (const std::string& n : m_notes) lines.push_back(n);
  }
  DWORD Complete(const Scanner*, std::string&) override {
    std::string& rows = m_rows;
    std::uint64_t& used = m_used;
    std::set<std::uint64_t> devices;
    std::int64_t written = 0;
    for (const ScanObject& o : m_run.objects) {
      if (!o.error.empty()) continue;
      FileSystemInfo fs = ReadFileSystem(o.root);
      if (!fs.ok || !devices.insert(fs.device).second) continue;
      int fd = ::open(o.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) continue;
      std::uint32_t id = 0;
      bool any = false;
      for (int guard = 0; guard < 1'000'000; ++guard) {
        struct if_nextdqblk q {};
        long rc = ::syscall(SYS_quotactl_fd, fd, QCMD(Q_GETNEXTQUOTA, USRQUOTA), id, &q);
        if (rc != 0) {
          if (!any && errno != ENOENT) m_notes.push_back("No quotas are kept on " + o.drive + " (" + fs.type + ")");
          break;
        }
        any = true;
        const std::uint64_t bytes = q.dqb_curspace;
        const std::uint64_t limit = (q.dqb_bhardlimit ? q.dqb_bhardlimit : q.dqb_bsoftlimit) * 1024;
        const std::int64_t percent = Percent(bytes, limit);
        const std::int64_t measured = m_percent ? percent : static_cast<std::int64_t>(bytes);
        if (m_range.Contains(measured) && !(m_rec.RptLen > 0 && written >= m_rec.RptLen)) {
          ++written;
          used += bytes;
          Row(rows, "D1");
          Text(rows, o.machine);
          Text(rows, o.drive);
          std::string_view name = m_run.accounts.User(q.dqb_id);
          Text(rows, AccountNames::Known(name) ? std::string(name) : "undefined (" + std::to_string(q.dqb_id) + ")");
          Number(rows, m_unit.Show(bytes));
          Number(rows, m_unit.Show(limit));
          Number(rows, m_unit.Show(q.dqb_bsoftlimit * 1024));
          Number(rows, percent);
          EndRow(rows);
        }
        if (q.dqb_id == UINT32_MAX) break;
        id = q.dqb_id + 1;
      }
      ::close(fd);
    }
    return 0;
  }
  DWORD Write(ResultWriter& out, const Scanner*) override {
    const char* u = m_unit.suffix;
    Header(out, {"Computer Name", "Drive Name", "User Name", std::string("Used Space") + u,
                 std::string("Quota Limit") + u, std::string("Warning Level") + u, "Percent Used"});
    out.Append(m_rows);
    Totals(out, {{std::string("Used Space") + u, m_unit.Show(m_used)}});
    return 0;
  }

 private:
  Range m_range;
  bool m_percent = false;
  std::vector<std::string> m_notes;
  std::string m_rows;
  std::uint64_t m_used = 0;
};

}  // namespace

std::unique_ptr<Report> MakeSpaceReport(DWORD code, RunContext& run) {
  switch (code) {
    case kReportPartitionSummary: return std::make_unique<PartitionSummary>(run);
    case kReportSpaceByDirectory: return std::make_unique<SpaceByDirectory>(run);
    case kReportSpaceByGroup: return std::make_unique<SpaceByAccount>(run, true);
    case kReportSpaceByQuota: return std::make_unique<SpaceByQuota>(run);
    case kReportSpaceByShare: return std::make_unique<SpaceByShare>(run);
    case kReportSpaceByUser: return std::make_unique<SpaceByAccount>(run, false);
    case kReportDetailedSummary: return std::make_unique<DetailedSummary>(run);
    default: return nullptr;
  }
}

}  // namespace vn::server
