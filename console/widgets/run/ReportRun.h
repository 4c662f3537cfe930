#pragma once
// The records and messages of one report run, and its exported entry points.
//
// A view that starts a run builds a ReportRunContext and a
// ProgressChannelEntry and sends both to the application's main window with
// WM_REPORT_START_RUN; the host starts one thread on ReportThreadProc with the
// context and one on MessageThreadProc with the entry, and answers 1 when it
// took both over. The report thread asks each machine's reporting server to
// run each report and tells the notify window of every result it can fetch;
// the channel thread owns the named pipe on which the servers send progress
// texts and read "CANCEL". See docs/architecture.md, "One report run".
//
// Ownership: the report thread frees the context when it ends normally, the
// channel thread frees the entry; both are allocated with new.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"
#include "console/widgets/run/RunMessages.h"

class QFileDevice;

struct ReportRunContext {
  HANDLE hCancelEvent = nullptr;        // the starting view's cancel event, or null; not used by the thread
  char szRemotePipeName[MAX_PATH] = {};  // "\\%s\pipe\%ld": console computer, start time
  char szLocalPipeName[MAX_PATH] = {};   // "\\.\pipe\%ld": same start time
  HWND hNotifyWnd = nullptr;             // gets WM_REPORT_SERVER_RESULT and WM_REPORT_DONE
  HWND hStatusWnd = nullptr;             // progress and error texts; null: errors in message boxes
  std::string localObjects;              // the console computer's object paths joined with ";"
  std::map<std::string, std::vector<std::string>> remoteObjects;  // per remote computer (upper case)
  int nCustomReport = 0;                 // non-zero: one custom report; 0: a report set
  std::string reportMachine;             // where the report set or custom report is stored
  std::string reportName;
  int nUserFilter = 0;                   // non-zero: userFilter replaces every report's OwnerFilter
  std::string userFilter;
};

struct ProgressChannelEntry {
  HANDLE hCancelEvent = nullptr;   // auto-reset; signalled by the user's Cancel
  HANDLE hDoneEvent = nullptr;     // set when the channel closes
  char szPipeName[MAX_PATH] = {};  // the local pipe name
  HWND hNotifyWnd = nullptr;       // gets WM_REPORT_CHANNEL_CLOSED
  HWND hStatusWnd = nullptr;       // gets each progress text
};

// How many machines' servers a run of this process asks at once; 0 goes
// back to the profile's setting (console/core/run/FanOut.h). The module's
// own copy of the setting is the one its report threads read, so a host
// sets it here.
KS_EXPORT void SetReportFanOut(int width);

// Fills both pipe names of `context` and the entry's from one reading of the
// clock and this computer's name.
KS_EXPORT void SetRunPipeNames(ReportRunContext* context, ProgressChannelEntry* entry);

// Starts MessageThreadProc on `entry` and ReportThreadProc on `context`,
// each on a thread of its own, as a host does on WM_REPORT_START_RUN, and
// hands back both thread handles (the caller closes them). FALSE, with the
// system's code in GetLastError, when a thread could not be made; a handle
// that was made is still handed back.
[[nodiscard]] KS_EXPORT BOOL StartReportRun(ReportRunContext* context, ProgressChannelEntry* entry,
                                            HANDLE* phReportThread, HANDLE* phChannelThread);

extern "C" {
// The progress channel thread. Returns 0, or the system error code when the
// pipe cannot be created (the entry is then not freed).
[[nodiscard]] KS_EXPORT DWORD MessageThreadProc(ProgressChannelEntry* entry);
// The report thread. Returns 0 at a normal end.
[[nodiscard]] KS_EXPORT DWORD ReportThreadProc(ReportRunContext* context);
}

// Fetches one machine's result and appends it to `out`: with first = 1 every
// line but the totals line, else only the data rows; "TF" lines replace or are
// added into `totals`. Deletes the result on the server. Always returns 0.
KS_EXPORT int OpenReport(const char* machine, vn::KSServerCommunicationOutputRec* file, QFileDevice* out, int first,
                         std::string* totals);
// OpenReport that also hands every line of the machine's result, heading
// included, to `observe` (when not null) before the merge looks at it: the
// scan history reads each machine's measures there.
int FetchReport(const char* machine, vn::KSServerCommunicationOutputRec* file, QFileDevice* out, int first,
                std::string* totals, const std::function<void(std::string_view)>* observe);
