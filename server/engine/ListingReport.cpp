#include "server/engine/Reports.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vn::server {
namespace {

// The detail columns in the order of the Fields mask bits.
constexpr const char* kDetailColumns[] = {
    "FileName",      "Directory",    "Size",          "Allocated",  "Created",     "Revised",      "Accessed",
    "Created Days",  "Revised Days", "Accessed Days", "Attributes", "Wasted",      "Type",         "Alternate Name",
    "Owner",         "Volume Label", "Device",        "File System", "Machine"};
constexpr unsigned kDetailCount = sizeof kDetailColumns / sizeof kDetailColumns[0];
static_assert(kDetailCount == kFieldCount, "one title per bit of the Fields mask");
constexpr bool kSizeColumn[kDetailCount] = {false, false, true, true, false, false, false, false, false, false,
                                            false, true,  false, false, false, false, false, false, false};
constexpr std::size_t kFlushAt = 256 * 1024;

std::int64_t Seconds(const struct statx_timestamp& t) { return t.tv_sec; }

}  // namespace

std::string_view AccountNames::User(std::uint32_t uid) {
  std::lock_guard lock(m_mutex);
  auto it = m_users.find(uid);
  if (it == m_users.end()) {
    std::string name = m_options.userName ? m_options.userName(uid) : std::string();
    it = m_users.emplace(uid, name.empty() ? std::string("undefined") : std::move(name)).first;
  }
  return it->second;
}

std::string_view AccountNames::Group(std::uint32_t gid) {
  std::lock_guard lock(m_mutex);
  auto it = m_groups.find(gid);
  if (it == m_groups.end()) {
    std::string name = m_options.groupName ? m_options.groupName(gid) : std::string();
    it = m_groups.emplace(gid, name.empty() ? std::string("undefined") : std::move(name)).first;
  }
  return it->second;
}

const std::vector<std::uint32_t>& AccountNames::Members(std::uint32_t gid) {
  std::lock_guard lock(m_mutex);
  auto it = m_members.find(gid);
  if (it == m_members.end())
    it = m_members.emplace(gid, m_options.groupMembers ? m_options.groupMembers(gid) : HostGroupMembers(gid)).first;
  return it->second;
}

Report::Report(RunContext& run)
    : m_run(run),
      m_rec(run.record),
      m_unit(UnitFromOptions(run.record.Options)),
      m_names(std::string_view(run.record.FileFilter, strnlen(run.record.FileFilter, sizeof run.record.FileFilter))),
      m_owners(std::string_view(run.record.OwnerFilter, strnlen(run.record.OwnerFilter, sizeof run.record.OwnerFilter)),
               run.options),
      m_attributes(run.record.Criteria[0]) {}

Report::~Report() = default;

DWORD Report::Prepare(unsigned, std::string&) { return 0; }
DWORD Report::Complete(const Scanner*, std::string&) { return 0; }

void Report::Heading(std::vector<std::string>& lines) const {
  const std::string_view files(m_rec.FileFilter, strnlen(m_rec.FileFilter, sizeof m_rec.FileFilter));
  const std::string_view owners(m_rec.OwnerFilter, strnlen(m_rec.OwnerFilter, sizeof m_rec.OwnerFilter));
  if (!m_names.Empty()) lines.push_back("File Filter: " + std::string(files));
  if (!m_owners.Empty()) lines.push_back("User Filter: " + std::string(owners));
  for (const std::string& unknown : m_owners.Unknown())
    lines.push_back("User Filter: no account named " + unknown + " (it matches no file)");
}

bool Report::PassesFilters(const ScanEntry& e) const {
  return m_names.Matches(e.name) && m_owners.Matches(e.st->stx_uid, e.st->stx_gid) &&
         m_attributes.Matches(FileAttributes(e.name, *e.st));
}

ListingReport::ListingReport(RunContext& run) : Report(run), m_limit(std::max<LONG>(run.record.RptLen, 0)) {}

ListingReport::~ListingReport() {
  if (m_spill >= 0) ::close(m_spill);
}

unsigned ListingReport::StatxMask() const {
  return (m_rec.Fields & ((1u << kFieldCreated) | (1u << kFieldCreatedDays))) ? STATX_BTIME : 0;
}

DWORD ListingReport::Prepare(unsigned workers, std::string& message) {
  for (unsigned i = 0; i < workers; ++i) {
    m_workers.push_back(std::make_unique<Worker>());
    m_workers.back()->rows.reserve(kFlushAt + 4096);
  }
  if (m_rec.Fields & ((1u << kFieldVolumeLabel) | (1u << kFieldDevice) | (1u << kFieldFileSystem))) {
    for (const ScanObject& o : m_run.objects) {
      FileSystemInfo fs = o.error.empty() ? ReadFileSystem(o.root) : FileSystemInfo{};
      m_volumeLabels.push_back(fs.label);
      m_devices.push_back(fs.source);
      m_fileSystems.push_back(fs.type);
    }
  }
  DWORD error = 0;
  m_spill = CreateSpillFile(m_run.resultFile, error);
  if (m_spill < 0) {
    message = "The result cannot be written beside " + m_run.resultFile.string();
    return error;
  }
  return 0;
}

void ListingReport::Heading(std::vector<std::string>& lines) const {
  Report::Heading(lines);
  if (m_limit > 0) lines.push_back("At most " + Grouped(static_cast<std::uint64_t>(m_limit)) + " records");
  if (m_truncated) lines.push_back("More files meet the criteria than the records shown");
  if (const std::uint64_t n = m_unlisted.load())
    lines.push_back("Not listed: " + Grouped(n) +
                    " files whose names hold a double quote, a backslash or a control character");
}

std::vector<std::string> ListingReport::Titles() const {
  std::vector<std::string> titles;
  for (unsigned bit = 0; bit < kDetailCount; ++bit) {
    if (bit > kFieldDirectory && !(m_rec.Fields & (1u << bit))) continue;
    titles.emplace_back(std::string(kDetailColumns[bit]) + (kSizeColumn[bit] ? m_unit.suffix : ""));
  }
  ExtraTitles(titles);
  return titles;
}

void ListingReport::ExtraTitles(std::vector<std::string>&) const {}
void ListingReport::ExtraFields(std::string&, const ScanEntry&, unsigned, std::size_t) const {}
std::size_t ListingReport::RowsFor(const ScanEntry&, unsigned) const { return 1; }

void ListingReport::Entry(const ScanEntry& e) {
  if (!e.dir) return;  // an object's root is the object itself, not a listed file
  const bool isDir = S_ISDIR(e.st->stx_mode);
  if (!S_ISREG(e.st->stx_mode) && !(isDir && ListsDirectories())) return;
  if (!PassesFilters(e) || !Accept(e, e.worker)) return;
  const std::size_t rows = RowsFor(e, e.worker);
  for (std::size_t r = 0; r < rows; ++r)
    if (!AddRow(e, e.worker, r)) break;
}

bool ListingReport::AddRow(const ScanEntry& e, unsigned worker, std::size_t extraRow) {
  if (!e.dir->shownExact || !NameTextIsExact(e.name)) {
    // A path the result would have to change would name another file.
    if (extraRow == 0) m_unlisted.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  if (m_limit > 0 && m_rowsWritten.fetch_add(1, std::memory_order_relaxed) >= m_limit) {
    m_truncated.store(true, std::memory_order_relaxed);
    return false;
  }
  Worker& w = *m_workers[worker];
  Row(w.rows, "D1");
  AppendDetails(w.rows, e, w);
  ExtraFields(w.rows, e, worker, extraRow);
  EndRow(w.rows);
  if (extraRow == 0) {
    ++w.files;
    if (e.firstLink) {
      w.size += e.st->stx_size;
      w.allocated += e.st->stx_blocks * 512;
    }
  }
  FlushWorker(worker, false);
  return true;
}

void ListingReport::AddSummaryRow(std::string_view label, std::int64_t size, std::int64_t wasted, unsigned worker) {
  // A summary row names no file: its FileName carries the label in angle
  // brackets and its Directory is empty.
  Worker& w = *m_workers[worker];
  Row(w.rows, "DS");
  for (unsigned bit = 0; bit < kDetailCount; ++bit) {
    if (bit > kFieldDirectory && !(m_rec.Fields & (1u << bit))) continue;
    if (bit == kFieldFileName) {
      Text(w.rows, label);
    } else if (bit == kFieldSize) {
      Number(w.rows, m_unit.Show(static_cast<std::uint64_t>(size)));
    } else if (bit == kFieldWasted) {
      Number(w.rows, m_unit.Show(static_cast<std::uint64_t>(wasted)));
    } else if (bit == kFieldAllocated || (bit >= kFieldCreatedDays && bit <= kFieldAccessedDays)) {
      w.rows += ',';
    } else {
      Text(w.rows, "");
    }
  }
  std::vector<std::string> extra;
  ExtraTitles(extra);
  for (std::size_t i = 0; i < extra.size(); ++i) Text(w.rows, "");
  EndRow(w.rows);
  FlushWorker(worker, false);
}

void ListingReport::AppendDetails(std::string& out, const ScanEntry& e, Worker& w) {
  const struct statx& st = *e.st;
  const ScanObject& object = m_run.objects[e.dir->object];
  const std::int64_t created =
      (st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec != 0 ? Seconds(st.stx_btime) : Seconds(st.stx_mtime);
  const std::uint64_t allocated = st.stx_blocks * 512;
  for (unsigned bit = 0; bit < kDetailCount; ++bit) {
    if (bit > kFieldDirectory && !(m_rec.Fields & (1u << bit))) continue;
    switch (bit) {
      case kFieldFileName: Text(out, e.name); break;
      case kFieldDirectory: Text(out, e.dir->shown); break;
      case kFieldSize: Number(out, m_unit.Show(st.stx_size)); break;
      case kFieldAllocated: Number(out, m_unit.Show(allocated)); break;
      case kFieldCreated:
      case kFieldRevised:
      case kFieldAccessed: {
        const std::int64_t t = bit == kFieldCreated   ? created
                               : bit == kFieldRevised ? Seconds(st.stx_mtime)
                                                      : Seconds(st.stx_atime);
        out += ",\"";
        w.dates.Append(out, t);
        out += '"';
        break;
      }
      case kFieldCreatedDays: Number(out, DaysBefore(created, m_run.now)); break;
      case kFieldRevisedDays: Number(out, DaysBefore(Seconds(st.stx_mtime), m_run.now)); break;
      case kFieldAccessedDays: Number(out, DaysBefore(Seconds(st.stx_atime), m_run.now)); break;
      case kFieldAttributes: Text(out, AttributeText(FileAttributes(e.name, st))); break;
      case kFieldWasted: Number(out, m_unit.Show(allocated > st.stx_size ? allocated - st.stx_size : 0)); break;
      case kFieldType: {
        if (S_ISDIR(st.stx_mode)) {
          Text(out, "File Folder");
          break;
        }
        const std::size_t dot = e.name.rfind('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == e.name.size()) {
          Text(out, "File");
          break;
        }
        char type[64];
        std::size_t n = 0;
        for (char c : e.name.substr(dot + 1)) {
          if (n == sizeof type - 6) break;
          type[n++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
        std::memcpy(type + n, " File", 5);
        Text(out, std::string_view(type, n + 5));
        break;
      }
      case kFieldAlternateName: Text(out, ""); break;  // Linux keeps no short names
      case kFieldOwner: Text(out, m_run.accounts.User(st.stx_uid)); break;
      case kFieldVolumeLabel:
        Text(out, m_volumeLabels.empty() ? std::string_view() : m_volumeLabels[e.dir->object]);
        break;
      case kFieldDevice: Text(out, m_devices.empty() ? std::string_view() : m_devices[e.dir->object]); break;
      case kFieldFileSystem:
        Text(out, m_fileSystems.empty() ? std::string_view() : m_fileSystems[e.dir->object]);
        break;
      case kFieldMachine: Text(out, object.machine); break;
    }
  }
}

void ListingReport::FlushWorker(unsigned worker, bool always) {
  Worker& w = *m_workers[worker];
  if (w.rows.empty() || (!always && w.rows.size() < kFlushAt)) return;
  std::lock_guard lock(m_spillMutex);
  std::size_t done = 0;
  while (done < w.rows.size() && m_spillError == 0) {
    ssize_t n = ::write(m_spill, w.rows.data() + done, w.rows.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_spillError = CodeFromErrno(n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  w.rows.clear();
}

DWORD ListingReport::Write(ResultWriter& out, const Scanner*) {
  std::uint64_t files = 0, size = 0, allocated = 0;
  for (unsigned i = 0; i < m_workers.size(); ++i) {
    FlushWorker(i, true);
    files += m_workers[i]->files;
    size += m_workers[i]->size;
    allocated += m_workers[i]->allocated;
  }
  if (m_spillError) return m_spillError;
  std::string line;
  Row(line, "H1");
  for (const std::string& t : Titles()) Text(line, t);
  EndRow(line);
  out.Append(line);
  out.AppendFile(m_spill);
  line.clear();
  Row(line, "TF");
  TotalsFields(line, files, size, allocated);
  EndRow(line);
  out.Append(line);
  return 0;
}

void ListingReport::TotalsFields(std::string& line, std::uint64_t files, std::uint64_t size,
                                 std::uint64_t allocated) const {
  Text(line, "Files");
  Number(line, static_cast<std::int64_t>(files));
  Text(line, std::string("Size") + m_unit.suffix);
  Number(line, m_unit.Show(size));
  Text(line, std::string("Allocated") + m_unit.suffix);
  Number(line, m_unit.Show(allocated));
}

}  // namespace vn::server
