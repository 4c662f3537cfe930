#include "server/engine/ReportEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

struct Title {
  DWORD code;
  const char* title;
};
// The standard reports by server code, with the titles results carry.
constexpr Title kTitles[] = {
    {kReportFilesByAccessDate, "Files By Access Date"},
    {kReportWastedSpace, "Wasted Space"},
    {kReportFilesByRevisionDate, "Files By Revision Date"},
    {kReportPartitionSummary, "Partition Summary"},
    {kReportFilesByCreationDate, "Files By Creation Date"},
    {kReportSpaceByDirectory, "Space By Directory"},
    {kReportSpaceByGroup, "Group Usage Report"},
    {kReportSpaceByQuota, "Space By Quota"},
    {kReportSpaceByShare, "Space By Share"},
    {kReportFilesBySize, "Files By Size"},
    {kReportSpaceByUser, "Space By User"},
    {kReportDuplicateFiles, "Duplicate Files"},
    {kReportAllFiles, "All Files"},
    {kReportDetailedSummary, "Detailed Summary"},
    {kReportInsecureFiles, "Insecure Files"},
    {kReportFilesWithUndefinedOwners, "Files With Undefined Owners"},
    {kReportFilesWithAcl, "Files With ACL"},
    {kReportFilesByUserAccess, "Files By User Access"},
    {kReportUserAccessByFile, "User Access By File"},
    {kReportFilesWithUndefinedAces, "Files With Undefined ACE's"},
    {kReportCustom, "Custom Report"},
};

// Per request: its report, result file and outcome.
struct Job {
  const ReportRequest* request = nullptr;
  std::unique_ptr<RunContext> context;
  std::unique_ptr<Report> report;
  ResultWriter writer;
  ReportResult result;
  bool active = false;
};

void Fail(Job& job, DWORD error, std::string message) {
  job.result.error = error;
  job.result.message = std::move(message);
  job.writer.Discard();
  job.active = false;
}

std::string JoinNamed(const std::vector<ScanObject>& objects) {
  std::string s;
  for (const ScanObject& o : objects) {
    if (!s.empty()) s += "; ";
    s += o.named;
  }
  return s;
}

void HeadingLine(std::string& out, std::string_view text) {
  Row(out, "B1");
  Text(out, text);
  EndRow(out);
}

}  // namespace

const char* ReportTitle(DWORD code) {
  for (const Title& t : kTitles)
    if (t.code == code) return t.title;
  return "";
}

std::unique_ptr<Report> MakeReport(DWORD code, RunContext& run) {
  if (code == kReportCustom) return MakeCustomReport(run);
  if (code == kReportDuplicateFiles) return MakeDuplicateReport(run);
  const DWORD copies = run.record.Criteria[1].Scope;
  if (code == kReportWastedSpace && (copies == 2 || copies == 3 || copies == 4)) return MakeDuplicateReport(run, true);
  if (auto r = MakeSpaceReport(code, run)) return r;
  if (auto r = MakeListingReport(code, run)) return r;
  return MakeAccessReport(code, run);
}

std::vector<ReportResult> RunReports(std::span<const ReportRequest> requests, const std::vector<ScanObject>& objects,
                                     const EngineOptions& options, ProgressSink& progress) {
  std::vector<Job> jobs(requests.size());
  try {
    const std::time_t now = options.now ? options.now : std::time(nullptr);
    AccountNames accounts(options);

    // Objects that cannot be scanned are named once, and the run goes on.
    std::vector<ScanObject> usable = objects;
    std::vector<std::string> objectProblems;
    for (ScanObject& o : usable) {
      if (o.error.empty()) {
        struct stat st {};
        if (::stat(o.root.c_str(), &st) != 0) {
          o.error = std::system_category().message(errno);
        } else if (!S_ISDIR(st.st_mode)) {
          o.error = "not a directory";
        } else if (::access(o.root.c_str(), R_OK | X_OK) != 0) {
          o.error = std::system_category().message(errno);
        }
      }
      if (!o.error.empty()) {
        objectProblems.push_back(o.named + ": " + o.error);
        progress.Progress("Cannot scan " + o.named + ": " + o.error);
      }
    }

    const unsigned workers = Scanner::WorkerCount(options.threads);
    ScanSettings settings{options.threads, 0, 0};
    for (std::size_t i = 0; i < requests.size(); ++i) {
      Job& job = jobs[i];
      job.request = &requests[i];
      const KSServerCommunicationReportRec* rec = requests[i].record;
      if (!rec) {
        job.result = {ERROR_INVALID_PARAMETER, "No report record was given.", {}};
        continue;
      }
      job.context = std::make_unique<RunContext>(
          RunContext{*rec, usable, options, progress, now, accounts, requests[i].resultFile});
      job.report = MakeReport(rec->Report, *job.context);
      if (!job.report) {
        job.result.error = ERROR_NOT_SUPPORTED;
        job.result.message = "The server does not know report code " + std::to_string(rec->Report) + ".";
        continue;
      }
      if (DWORD e = job.writer.Create(requests[i].resultFile)) {
        job.result.error = e;
        job.result.message = e == ERROR_FILE_EXISTS
                                 ? "The result file " + requests[i].resultFile.string() + " exists already."
                                 : "The result file " + requests[i].resultFile.string() + " cannot be created.";
        continue;
      }
      job.active = true;
      std::string message;
      if (DWORD e = job.report->Prepare(workers, message)) {
        Fail(job, e, message);
        continue;
      }
      job.report->m_slot = settings.dirSlots;
      settings.dirSlots += job.report->DirSlots();
      settings.statxMask |= job.report->StatxMask();
    }

    std::vector<ScanVisitor*> visitors;
    for (Job& job : jobs)
      if (job.active && job.report->NeedsScan()) visitors.push_back(job.report.get());
    const Scanner* scanned = nullptr;
    Scanner full(usable, settings, progress);
    if (!visitors.empty()) {
      if (!full.Run(visitors)) {
        for (Job& job : jobs)
          if (job.active) Fail(job, ERROR_CANCELLED, "The report was cancelled.");
        return [&] {
          std::vector<ReportResult> out;
          for (Job& j : jobs) out.push_back(std::move(j.result));
          return out;
        }();
      }
      scanned = &full;
    }
    if (progress.Cancelled()) {
      for (Job& job : jobs)
        if (job.active) Fail(job, ERROR_CANCELLED, "The report was cancelled.");
    }

    for (Job& job : jobs) {
      if (!job.active) continue;
      const Scanner* scan = job.report->NeedsScan() ? scanned : nullptr;
      std::string message;
      if (DWORD e = job.report->Complete(scan, message)) {
        Fail(job, e, e == static_cast<DWORD>(ERROR_CANCELLED) ? "The report was cancelled." : message);
        continue;
      }
      std::vector<std::string> problems = objectProblems;
      if (scan) problems.insert(problems.end(), scan->Problems().begin(), scan->Problems().end());
      std::uint64_t unnamed = scan ? scan->UnreadableCount() - scan->Problems().size() : 0;

      const KSServerCommunicationReportRec& rec = *job.request->record;
      std::string head;
      Row(head, "A1");
      Number(head, rec.Report);
      Number(head, static_cast<std::int64_t>(job.report->ColumnCount() + 1));
      EndRow(head);
      std::string title = ReportTitle(rec.Report);
      if (rec.Report == kReportCustom) {
        // "Custom Report: Name", which the console reads as a custom report.
        const std::string_view full(rec.CustomReport, strnlen(rec.CustomReport, sizeof rec.CustomReport));
        const std::size_t slash = full.rfind('\\');
        if (!full.empty()) title += ": " + std::string(slash == std::string_view::npos ? full : full.substr(slash + 1));
      }
      HeadingLine(head, title);
      std::string machine = usable.empty() ? std::string() : usable.front().machine;
      if (!machine.empty()) HeadingLine(head, "Computer: " + machine);
      HeadingLine(head, "Objects: " + JoinNamed(objects));
      HeadingLine(head, "Run: " + DateText(now));
      std::vector<std::string> lines;
      job.report->Heading(lines);
      for (const std::string& l : lines) HeadingLine(head, l);
      if (scan && scan->UnreadableCount() > 0)
        HeadingLine(head, "Unreadable directories: " + Grouped(scan->UnreadableCount()));
      for (const std::string& p : problems) HeadingLine(head, "Not read: " + p);
      if (unnamed > 0) HeadingLine(head, "Not read: " + Grouped(unnamed) + " more");
      job.writer.Append(head);
      if (DWORD e = job.report->Write(job.writer, scan)) {
        Fail(job, e, "The result file cannot be written.");
        continue;
      }
      if (DWORD e = job.writer.Finish()) {
        job.active = false;
        job.result.error = e;
        job.result.message = "The result file cannot be written.";
        continue;
      }
      job.active = false;
      job.result.problems = std::move(problems);
    }
  } catch (const std::bad_alloc&) {
    for (Job& job : jobs)
      if (job.active) Fail(job, ERROR_NOT_ENOUGH_MEMORY, "The server ran out of memory for this report.");
  } catch (const std::exception& e) {
    for (Job& job : jobs)
      if (job.active) Fail(job, ERROR_INVALID_FUNCTION, std::string("The report failed: ") + e.what());
  }
  std::vector<ReportResult> out;
  for (Job& job : jobs) out.push_back(std::move(job.result));
  return out;
}

ReportResult RunReport(const KSServerCommunicationReportRec& record, const std::vector<ScanObject>& objects,
                       const std::filesystem::path& resultFile, const EngineOptions& options,
                       ProgressSink& progress) {
  const ReportRequest request{&record, resultFile};
  return std::move(RunReports(std::span<const ReportRequest>(&request, 1), objects, options, progress).front());
}

}  // namespace vn::server
