#pragma once
// Stand-in for the scanning engine's interface (library vnserver,
// server/ReportEngine.h), used only until the engine is part of the tree:
// same names, same header path, so the server host compiles unchanged
// against either. The engine's own header is the reference.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "vncli/KSServerCommunication.h"

namespace vn::server {

// One object to scan, resolved by the server host from what the console named.
struct ScanObject {
  std::string named;            // as the console named it: "C:\Data", "\\SRV1\Share\Dir", "SRV1"
  std::filesystem::path root;   // the Linux directory to scan
  std::string shownRoot;        // how `root` is written in results ("\\SRV1\Share\Dir", "\\SRV1\C$\Dir", "C:\Dir")
  std::string machine;          // computer name (Computer Name / Machine columns)
  std::string drive;            // the drive or share it lies on, as shown ("C:", "\\SRV1\Share")
  std::string error;            // non-empty: the host could not resolve it; reported, and the run goes on
};

struct ShareInfo {
  std::string name;
  std::filesystem::path root;
  std::string shownPath;
};

struct EngineOptions {
  unsigned threads = 0;                                                   // 0 = one per core
  std::function<std::string(std::uint32_t)> userName;                     // uid -> account name
  std::function<std::string(std::uint32_t)> groupName;                    // gid -> group name
  std::function<std::optional<std::uint32_t>(std::string_view)> userId;  // OwnerFilter names -> uid
  std::vector<ShareInfo> shares;                                          // this machine's disk shares
};

class ProgressSink {  // called from engine threads; must not block
 public:
  virtual ~ProgressSink() = default;
  virtual void Progress(std::string_view text) = 0;
  virtual bool Cancelled() const = 0;
};

struct ReportResult {
  DWORD error = 0;
  std::string message;
  std::vector<std::string> problems;
};

// Runs the report the record names on `objects` and writes the result file
// (created new; removed again on failure or cancel -> error 1223).
ReportResult RunReport(const KSServerCommunicationReportRec& record, const std::vector<ScanObject>& objects,
                       const std::filesystem::path& resultFile, const EngineOptions& options,
                       ProgressSink& progress);

}  // namespace vn::server
