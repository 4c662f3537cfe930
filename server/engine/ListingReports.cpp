// The reports that list files by a test on each file alone: All Files, the
// three date reports, Files By Size, Wasted Space, Insecure Files and Files
// With Undefined Owners.

#include <cstring>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

std::int64_t Seconds(const struct statx_timestamp& t) { return t.tv_sec; }

std::int64_t CreatedSeconds(const struct statx& st) {
  return (st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec != 0 ? Seconds(st.stx_btime) : Seconds(st.stx_mtime);
}

std::string RangeWords(const ReportCriterion& c, const char* what, const char* unit) {
  std::string v1(c.Value1, strnlen(c.Value1, sizeof c.Value1)), v2(c.Value2, strnlen(c.Value2, sizeof c.Value2));
  switch (c.Scope) {
    case 2: return std::string(what) + " between " + v1 + " and " + v2 + unit;
    case 3: return std::string(what) + " larger than " + v1 + unit;
    case 4: return std::string(what) + " smaller than " + v1 + unit;
    default: return {};
  }
}

const char* SizeUnitWord(DWORD measure) { return measure == 1 ? " MB" : measure == 2 ? " KB" : " bytes"; }

std::string DateWords(const ReportCriterion& c, const char* what) {
  std::string v1(c.Value1, strnlen(c.Value1, sizeof c.Value1)), v2(c.Value2, strnlen(c.Value2, sizeof c.Value2));
  const char* unit = c.Measure == 5 ? " days ago" : c.Measure == 6 ? " months ago" : c.Measure == 7 ? " years ago" : "";
  switch (c.Scope) {
    case 2: return std::string(what) + " between " + v1 + " and " + v2 + unit;
    case 3: return std::string(what) + " before " + v1 + unit;
    case 4: return std::string(what) + " since " + v1 + unit;
    default: return {};
  }
}

class AllFiles final : public ListingReport {
 public:
  using ListingReport::ListingReport;

 protected:
  bool Accept(const ScanEntry&, unsigned) override { return true; }
};

// Files By Access Date, Files By Revision Date, Files By Creation Date.
class FilesByDate final : public ListingReport {
 public:
  FilesByDate(RunContext& run, DWORD code) : ListingReport(run), m_code(code) {}
  unsigned StatxMask() const override {
    return ListingReport::StatxMask() | (m_code == kReportFilesByCreationDate ? STATX_BTIME : 0);
  }
  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    if (const DWORD bad = KeepRange(DateRange(m_rec.Criteria[0], m_run.now, error), error, &m_range, message))
      return bad;
    return ListingReport::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    const char* what = m_code == kReportFilesByAccessDate     ? "Accessed"
                       : m_code == kReportFilesByRevisionDate ? "Revised"
                                                              : "Created";
    if (std::string w = DateWords(m_rec.Criteria[0], what); !w.empty()) lines.push_back(w);
    if (m_code == kReportFilesByCreationDate)
      lines.push_back("Where a file system keeps no creation time, the revision time stands for it");
    ListingReport::Heading(lines);
  }

 protected:
  bool Accept(const ScanEntry& e, unsigned) override {
    const struct statx& st = *e.st;
    const std::int64_t t = m_code == kReportFilesByAccessDate     ? Seconds(st.stx_atime)
                           : m_code == kReportFilesByRevisionDate ? Seconds(st.stx_mtime)
                                                                  : CreatedSeconds(st);
    return m_range.Contains(t);
  }

 private:
  DWORD m_code;
  Range m_range;
};

class FilesBySize final : public ListingReport {
 public:
  using ListingReport::ListingReport;
  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    if (const DWORD bad = KeepRange(SizeRange(m_rec.Criteria[0], error), error, &m_range, message)) return bad;
    return ListingReport::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    if (std::string w = RangeWords(m_rec.Criteria[0], "Size", SizeUnitWord(m_rec.Criteria[0].Measure)); !w.empty())
      lines.push_back(w);
    ListingReport::Heading(lines);
  }

 protected:
  bool Accept(const ScanEntry& e, unsigned) override {
    return m_range.Contains(static_cast<std::int64_t>(e.st->stx_size));
  }

 private:
  Range m_range;
};

// Files that meet every criteria group that is set: not accessed (Value0),
// not revised (Value2), size (Value3). With the duplicate group (Value1) set
// the report is made by the duplicate finder instead (MakeReport).
class WastedSpace final : public ListingReport {
 public:
  using ListingReport::ListingReport;
  DWORD Prepare(unsigned workers, std::string& message) override {
    CriterionError error;
    std::optional<Range> accessed = DateRange(m_rec.Criteria[0], m_run.now, error);
    std::optional<Range> revised = accessed ? DateRange(m_rec.Criteria[2], m_run.now, error) : std::nullopt;
    std::optional<Range> size = revised ? SizeRange(m_rec.Criteria[3], error) : std::nullopt;
    if (!size) {
      message = error.message;
      return ERROR_INVALID_PARAMETER;
    }
    m_accessed = *accessed, m_revised = *revised, m_size = *size;
    return ListingReport::Prepare(workers, message);
  }
  void Heading(std::vector<std::string>& lines) const override {
    for (std::string w : {DateWords(m_rec.Criteria[0], "Accessed"), DateWords(m_rec.Criteria[2], "Revised"),
                          RangeWords(m_rec.Criteria[3], "Size", SizeUnitWord(m_rec.Criteria[3].Measure))})
      if (!w.empty()) lines.push_back(w);
    ListingReport::Heading(lines);
  }

 protected:
  bool Accept(const ScanEntry& e, unsigned) override {
    const struct statx& st = *e.st;
    return m_accessed.Contains(Seconds(st.stx_atime)) && m_revised.Contains(Seconds(st.stx_mtime)) &&
           m_size.Contains(static_cast<std::int64_t>(st.stx_size));
  }

 private:
  Range m_accessed, m_revised, m_size;
};

// Files and directories writable by everyone, and programs that run with
// their owner's or group's rights.
class InsecureFiles final : public ListingReport {
 public:
  using ListingReport::ListingReport;

 protected:
  bool ListsDirectories() const override { return true; }
  bool Accept(const ScanEntry& e, unsigned) override { return Risk(*e.st) != 0; }
  void ExtraTitles(std::vector<std::string>& titles) const override { titles.emplace_back("Risk"); }
  void ExtraFields(std::string& out, const ScanEntry& e, unsigned, std::size_t) const override {
    const unsigned r = Risk(*e.st);
    std::string text;
    if (r & 1) text = (e.st->stx_mode & S_ISVTX) ? "Writable by everyone (only owners may delete)" : "Writable by everyone";
    if (r & 2) text += std::string(text.empty() ? "" : ", ") + "Runs as its owner";
    if (r & 4) text += std::string(text.empty() ? "" : ", ") + "Runs as its group";
    Text(out, text);
  }

 private:
  static unsigned Risk(const struct statx& st) {
    unsigned r = 0;
    if (st.stx_mode & S_IWOTH) r |= 1;
    if (S_ISREG(st.stx_mode) && (st.stx_mode & S_ISUID)) r |= 2;
    if (S_ISREG(st.stx_mode) && (st.stx_mode & S_ISGID) && (st.stx_mode & S_IXGRP)) r |= 4;
    return r;
  }
};

// Files whose owner or group id has no account on this machine.
class UndefinedOwners final : public ListingReport {
 public:
  using ListingReport::ListingReport;

 protected:
  bool Accept(const ScanEntry& e, unsigned) override {
    return !m_run.accounts.UserKnown(e.st->stx_uid) || !m_run.accounts.GroupKnown(e.st->stx_gid);
  }
  void ExtraTitles(std::vector<std::string>& titles) const override { titles.emplace_back("Undefined"); }
  void ExtraFields(std::string& out, const ScanEntry& e, unsigned, std::size_t) const override {
    std::string text;
    if (!m_run.accounts.UserKnown(e.st->stx_uid)) text = "User " + std::to_string(e.st->stx_uid);
    if (!m_run.accounts.GroupKnown(e.st->stx_gid))
      text += std::string(text.empty() ? "" : ", ") + "Group " + std::to_string(e.st->stx_gid);
    Text(out, text);
  }
};

}  // namespace

std::unique_ptr<Report> MakeListingReport(DWORD code, RunContext& run) {
  switch (code) {
    case kReportFilesByAccessDate:
    case kReportFilesByRevisionDate:
    case kReportFilesByCreationDate: return std::make_unique<FilesByDate>(run, code);
    case kReportWastedSpace: return std::make_unique<WastedSpace>(run);
    case kReportFilesBySize: return std::make_unique<FilesBySize>(run);
    case kReportAllFiles: return std::make_unique<AllFiles>(run);
    case kReportInsecureFiles: return std::make_unique<InsecureFiles>(run);
    case kReportFilesWithUndefinedOwners: return std::make_unique<UndefinedOwners>(run);
    default: return nullptr;
  }
}

}  // namespace vn::server
