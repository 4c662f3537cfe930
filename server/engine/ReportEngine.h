#pragma once
// The reporting server's engine: scans this machine's file systems and writes
// the result file of one of the twenty standard reports.
//
// It knows nothing of pipes, the registry or processes: the server host
// resolves what the console named into ScanObjects, supplies account names
// and this machine's shares through EngineOptions, relays progress and cancel
// through a ProgressSink, and stores and transfers the result file the engine
// writes. docs/reports.md describes every report's heading, columns and rows.
//
// Threads: RunReport / RunReports block the calling thread and scan with
// EngineOptions::threads workers of their own; they may be called from
// several threads at once (nothing is shared between runs). The callbacks
// and the sink are called from the engine's threads, one at a time for each
// callback object (the engine serialises its calls), and must not block.
//
// Failure: results carry a Win32 code (0 = success) and a message for the
// user. An object that cannot be scanned, or a directory that cannot be read,
// is not a failure: it is named in `problems`, in the result heading and in
// the progress texts, and the run goes on. On any failure or cancel the result
// file is removed again, so a result file exists only when the run succeeded.
// No exception leaves these functions.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

namespace vn::reportdef {
class ReportDefinition;
}

namespace vn::server {

// One object to scan, resolved by the server host from what the console named.
struct ScanObject {
  std::string named;           // as the console named it: "C:\Data", "\\SRV1\Share\Dir", "SRV1"
  std::filesystem::path root;  // the Linux directory to scan
  std::string shownRoot;       // how `root` is written in results ("\\SRV1\Share\Dir", "\\SRV1\C$\Dir", "C:\Dir")
  std::string machine;         // computer name (Computer Name / Machine columns)
  std::string drive;           // the drive or share it lies on, as shown ("C:", "\\SRV1\Share")
  std::string error;           // non-empty: the host could not resolve it; reported, and the run goes on
};

// A disk share of this machine (Space By Share).
struct ShareInfo {
  std::string name;            // "Data"
  std::filesystem::path root;  // the Linux directory it shares
  std::string shownPath;       // "\\SRV1\Data"
};

struct EngineOptions {
  unsigned threads = 0;  // scanning workers; 0 = one per core
  // uid -> account name as the machine's account layer names it; "undefined"
  // (or empty) when the id has no account. Unset: every id is "undefined".
  std::function<std::string(std::uint32_t)> userName;
  // gid -> group name; "undefined" (or empty) when none.
  std::function<std::string(std::uint32_t)> groupName;
  // OwnerFilter names ("DOMAIN\user", "group") -> uid / gid; nullopt when the
  // name is no user (group). A filter name that is neither matches no file.
  std::function<std::optional<std::uint32_t>(std::string_view)> userId;
  std::function<std::optional<std::uint32_t>(std::string_view)> groupId;
  // gid -> the uids of the users that belong to the group, as their primary
  // group or as a further one. Unset: the host's user and group database
  // (the groups the file system's access checks use).
  std::function<std::vector<std::uint32_t>(std::uint32_t)> groupMembers;
  std::vector<ShareInfo> shares;  // this machine's disk shares
  // "Now" for the age criteria and the Days columns, in seconds since 1970;
  // 0 = the current time. Dates are shown and read in the machine's local time.
  std::time_t now = 0;
  // The definition a custom report (code kReportCustom) runs; the host
  // loads it from where the record's CustomReport names. Unset: a custom
  // report fails with ERROR_INVALID_DATA.
  std::shared_ptr<const reportdef::ReportDefinition> customDefinition;
};

// Progress and cancel of one run. Called from the engine's threads; must not
// block (the host queues texts for its pipe thread).
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Progress(std::string_view text) = 0;  // at most a few per second
  virtual bool Cancelled() const = 0;                // polled often; true stops the run
};

// A sink that shows nothing and never cancels.
class NullProgress final : public ProgressSink {
 public:
  void Progress(std::string_view) override {}
  bool Cancelled() const override { return false; }
};

struct ReportResult {
  DWORD error = 0;                    // 0, ERROR_CANCELLED, or the code of the failure
  std::string message;                // for the user when error != 0
  std::vector<std::string> problems;  // objects and directories that could not be read
};

// Runs the report the record names (record.Report = server code) on `objects`
// and writes the result file (created new: an existing file fails with
// ERROR_FILE_EXISTS and is left alone; removed again on failure or cancel,
// ERROR_CANCELLED). Unknown codes answer ERROR_NOT_SUPPORTED with a message
// and write nothing.
[[nodiscard]] ReportResult RunReport(const KSServerCommunicationReportRec& record,
                                     const std::vector<ScanObject>& objects, const std::filesystem::path& resultFile,
                                     const EngineOptions& options, ProgressSink& progress);

// Several reports over the same objects with one scan: each record's result
// goes to its own file. The results come back in the order of `requests`.
struct ReportRequest {
  const KSServerCommunicationReportRec* record = nullptr;
  std::filesystem::path resultFile;
};
[[nodiscard]] std::vector<ReportResult> RunReports(std::span<const ReportRequest> requests,
                                                   const std::vector<ScanObject>& objects, const EngineOptions& options,
                                                   ProgressSink& progress);

}  // namespace vn::server
