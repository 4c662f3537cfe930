// A stand-in for the scanning engine, for the server host and its tests until
// the engine library is in the tree. It writes a result in the result file
// format for two kinds: "Partition Summary" (server code 4: one row per object
// with its file system's used and free space) and, for every other code, a
// plain file listing titled "All Files" (FileName, Directory, Size). It walks
// with std::filesystem, pauses a millisecond per entry so that a test can
// catch a run in the middle, reports each entry as progress and stops on
// cancel, removing its partial file.
#include "server/ReportEngine.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

namespace vn::server {
namespace {

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? '\'' : (c == '\r' || c == '\n') ? ' ' : c;
  return out + "\"";
}

std::string WindowsJoin(const std::string& shownRoot, const std::filesystem::path& relative) {
  std::string out = shownRoot;
  for (const auto& part : relative) out += "\\" + part.string();
  return out;
}

}  // namespace

ReportResult RunReport(const KSServerCommunicationReportRec& record, const std::vector<ScanObject>& objects,
                       const std::filesystem::path& resultFile, const EngineOptions&, ProgressSink& progress) {
  ReportResult result;
  std::error_code exists;
  if (std::filesystem::exists(resultFile, exists)) return {ERROR_FILE_EXISTS, "The result file exists already.", {}};
  std::ofstream out(resultFile, std::ios::binary | std::ios::trunc);
  if (!out) return {ERROR_ACCESS_DENIED, "The result file cannot be created.", {}};
  const bool partitions = record.Report == 4;
  std::string problems;
  for (const auto& object : objects) {
    if (!object.error.empty()) {
      result.problems.push_back(object.named + ": " + object.error);
      progress.Progress(object.named + ": " + object.error);
      problems += "," + Quoted(object.named + ": " + object.error);
    }
  }
  out << "\"A1\",\"Vornal\"," << (partitions ? 4 : 3) << "\r\n";
  out << "\"B1\"," << Quoted(partitions ? "Partition Summary" : "All Files") << problems << "\r\n";
  if (partitions) {
    out << "\"H1\",\"Computer Name\",\"Drive Name\",\"Used Space\",\"Free Space\"\r\n";
  } else {
    out << "\"H1\",\"FileName\",\"Directory\",\"Size\"\r\n";
  }
  std::int64_t total = 0;
  for (const auto& object : objects) {
    if (!object.error.empty()) continue;
    std::error_code error;
    if (partitions) {
      const auto space = std::filesystem::space(object.root, error);
      const auto used = error ? 0 : static_cast<std::int64_t>(space.capacity - space.free);
      out << "\"D1\"," << Quoted(object.machine) << "," << Quoted(object.drive) << "," << used << ","
          << (error ? 0 : static_cast<std::int64_t>(space.free)) << "\r\n";
      total += used;
      continue;
    }
    progress.Progress("Scanning " + object.shownRoot);
    for (auto it = std::filesystem::recursive_directory_iterator(
             object.root, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (progress.Cancelled()) {
        out.close();
        std::filesystem::remove(resultFile, error);
        return {ERROR_CANCELLED, {}, {}};
      }
      if (!it->is_regular_file(error) || it->is_symlink(error)) continue;
      const auto relative = it->path().parent_path().lexically_relative(object.root);
      const auto size = static_cast<std::int64_t>(it->file_size(error));
      out << "\"D1\"," << Quoted(it->path().filename().string()) << ","
          << Quoted(relative == "." ? object.shownRoot : WindowsJoin(object.shownRoot, relative)) << ","
          << size << "\r\n";
      total += size;
      progress.Progress("Scanning " + it->path().filename().string());
    }
  }
  out << "\"TF\",\"Totals\"," << (partitions ? "\"\"," : "\"\",") << total << "\r\n";
  out.close();
  if (!out) {
    std::error_code error;
    std::filesystem::remove(resultFile, error);
    return {ERROR_DISK_FULL, "The result file could not be written.", {}};
  }
  return result;
}

}  // namespace vn::server
