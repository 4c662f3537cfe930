#pragma once
// The report builders behind RunReport (internal to the engine).
//
// A Report is made for one record. Prepare() reads its criteria (a bad value
// fails the run before anything is scanned); as a ScanVisitor it sees every
// entry of the shared scan; Write() then writes its column header line, rows
// and totals line after the heading the engine wrote. Reports that list files
// stream their rows to an unnamed spill file during the scan, so a listing
// of any length costs no memory, and copy it into the result at the end.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/engine/Criteria.h"
#include "server/engine/ReportEngine.h"
#include "server/engine/ResultWriter.h"
#include "server/engine/Scanner.h"

namespace vn::server {

// Account names, looked up once per id through the host's callbacks (which
// are called one at a time).
class AccountNames {
 public:
  explicit AccountNames(const EngineOptions& options) : m_options(options) {}
  // Views stay valid while this object lives.
  std::string_view User(std::uint32_t uid);
  std::string_view Group(std::uint32_t gid);
  bool UserKnown(std::uint32_t uid) { return Known(User(uid)); }
  bool GroupKnown(std::uint32_t gid) { return Known(Group(gid)); }
  static bool Known(std::string_view name) { return !name.empty() && name != "undefined"; }
  // The users of group `gid` (EngineOptions::groupMembers); the list stays
  // valid while this object lives.
  const std::vector<std::uint32_t>& Members(std::uint32_t gid);

 private:
  const EngineOptions& m_options;
  std::mutex m_mutex;
  std::unordered_map<std::uint32_t, std::string> m_users;
  std::unordered_map<std::uint32_t, std::string> m_groups;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> m_members;
};

// The users of group `gid` in the host's database: those whose primary group
// it is and those it lists as members.
std::vector<std::uint32_t> HostGroupMembers(std::uint32_t gid);

// What every report of a run shares.
struct RunContext {
  const KSServerCommunicationReportRec& record;
  const std::vector<ScanObject>& objects;
  const EngineOptions& options;
  ProgressSink& progress;
  std::time_t now;
  AccountNames& accounts;
  std::filesystem::path resultFile;
};

class Report : public ScanVisitor {
 public:
  explicit Report(RunContext& run);
  ~Report() override;

  virtual bool NeedsScan() const { return true; }
  virtual unsigned StatxMask() const { return 0; }
  virtual unsigned DirSlots() const { return 0; }
  // Reads the criteria; 0, or a code with `message` set.
  [[nodiscard]] virtual DWORD Prepare(unsigned workers, std::string& message);
  // Columns of the column header line (the record kind not counted).
  virtual std::size_t ColumnCount() const = 0;
  // Heading lines after the title (criteria in words, notes).
  virtual void Heading(std::vector<std::string>& lines) const;
  void Entry(const ScanEntry&) override {}
  // After a complete scan, before the heading is written: work that needs
  // every entry (null when NeedsScan() is false). 0, ERROR_CANCELLED, or
  // a code with `message` set.
  [[nodiscard]] virtual DWORD Complete(const Scanner* scan, std::string& message);
  // After Complete (null when NeedsScan() is false).
  [[nodiscard]] virtual DWORD Write(ResultWriter& out, const Scanner* scan) = 0;

 protected:
  bool PassesFilters(const ScanEntry& e) const;  // FileFilter, OwnerFilter, attribute tests

  RunContext& m_run;
  const KSServerCommunicationReportRec& m_rec;
 public:
  unsigned m_slot = 0;  // this report's DirTotals slot, set by the engine
 protected:
  SizeUnit m_unit;
  NameFilter m_names;
  OwnerFilter m_owners;
  AttributeTest m_attributes;
};

// A report that lists files, one "D1" row each, with the detail columns
// the Fields mask selects ("FileName" and "Directory" are always there:
// together they name the file, which the console's file operations need).
class ListingReport : public Report {
 public:
  explicit ListingReport(RunContext& run);
  ~ListingReport() override;
  unsigned StatxMask() const override;
  [[nodiscard]] DWORD Prepare(unsigned workers, std::string& message) override;
  void Heading(std::vector<std::string>& lines) const override;
  void Entry(const ScanEntry& e) override;
  [[nodiscard]] DWORD Write(ResultWriter& out, const Scanner* scan) override;
  std::size_t ColumnCount() const override { return Titles().size(); }

 protected:
  // Whether the entry is listed (filters are tested before). Directories
  // are offered only when ListsDirectories().
  virtual bool Accept(const ScanEntry& e, unsigned worker) = 0;
  virtual bool ListsDirectories() const { return false; }
  // Extra columns after the detail columns, and their values for the row
  // being written (each call adds one row; several rows per file allowed).
  virtual void ExtraTitles(std::vector<std::string>& titles) const;
  virtual void ExtraFields(std::string& out, const ScanEntry& e, unsigned worker, std::size_t row) const;
  // Rows per accepted entry (one unless a report adds more).
  virtual std::size_t RowsFor(const ScanEntry& e, unsigned worker) const;

  // The fields of the "TF" line after its record kind.
  virtual void TotalsFields(std::string& line, std::uint64_t files, std::uint64_t size, std::uint64_t allocated) const;

  // One row for `e`; false once RptLen rows are written.
  bool AddRow(const ScanEntry& e, unsigned worker, std::size_t extraRow = 0);
  void AddSummaryRow(std::string_view label, std::int64_t size, std::int64_t wasted, unsigned worker);
  void FlushWorker(unsigned worker, bool always);
  std::vector<std::string> Titles() const;

  struct Worker {
    std::string rows;
    DateFormatter dates;
    std::uint64_t files = 0;
    std::uint64_t size = 0;
    std::uint64_t allocated = 0;
  };
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::int64_t m_limit = 0;  // RptLen, 0 = all
  std::atomic<std::int64_t> m_rowsWritten{0};
  std::atomic<std::uint64_t> m_unlisted{0};
  std::atomic<bool> m_truncated{false};

 private:
  void AppendDetails(std::string& out, const ScanEntry& e, Worker& w);

  std::vector<std::string> m_volumeLabels;  // per object, when their columns are shown
  std::vector<std::string> m_devices;
  std::vector<std::string> m_fileSystems;
  int m_spill = -1;
  DWORD m_spillError = 0;
  std::mutex m_spillMutex;
};

// The reports by server code; null for codes the engine does not produce.
std::unique_ptr<Report> MakeReport(DWORD code, RunContext& run);
// The report's title, the first heading text ("" for an unknown code).
const char* ReportTitle(DWORD code);

std::unique_ptr<Report> MakeSpaceReport(DWORD code, RunContext& run);
std::unique_ptr<Report> MakeListingReport(DWORD code, RunContext& run);
// Duplicate Files, or (`wasted`) Wasted Space with its duplicate group set.
std::unique_ptr<Report> MakeDuplicateReport(RunContext& run, bool wasted = false);
std::unique_ptr<Report> MakeAccessReport(DWORD code, RunContext& run);
// A custom report over EngineOptions::customDefinition.
std::unique_ptr<Report> MakeCustomReport(RunContext& run);

// Size of the file system under `path`: total, used and free bytes, and its
// type name and device ("ext4", "/dev/sda1"), from the mount table.
struct FileSystemInfo {
  bool ok = false;
  int error = 0;
  std::uint64_t device = 0;
  std::uint64_t total = 0;
  std::uint64_t used = 0;
  std::uint64_t free = 0;
  std::string type;
  std::string source;
  std::string label;
};
FileSystemInfo ReadFileSystem(const std::filesystem::path& path);

}  // namespace vn::server
