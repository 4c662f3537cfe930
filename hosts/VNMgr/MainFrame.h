#pragma once
// The console's main window: the MDI area holding the module's windows, and the
// menus every window shares. File: Open, Close, Report Wizard (the manager
// window's), the result window's Save, Save As and printing, Exit. View: Status Bar. Window: Cascade,
// Tile, Arrange Icons. Help: Help Topics, Getting Started, About Vornal.
// Exit, Help Topics and About are the application's commands; Status Bar and
// the Window menu the frame's base; Getting Started is handled here by calling
// the module.
//
// It is also where report runs started from the object tree (and the wizard)
// live, through its window handle (GetSafeHwnd):
// - WM_REPORT_START_RUN takes the run context and channel entry over (answer
//   1) and starts the report thread and the progress channel thread on them.
//   The manual-reset event "Vornal Report Finished" is reset until every run
//   started here has closed its channel.
// - WM_REPORT_SERVER_RESULT and WM_REPORT_DONE merge each report's results
//   into one temporary file (CReportMerge), which opens in a result window
//   through pKSRptDocTemplate and goes when that window closes. Without a
//   result template the file stays, and the status bar names it.
// - WM_REPORT_CHANNEL_CLOSED, posted for every run by the thread that ran its
//   channel (wParam: the run's number), ends the run here.
// Runs started from the tree have no cancel of their own, so each run gets a
// cancel event here when it comes without one: EndRuns (at exit) signals it,
// which the run's servers read as the user's Cancel at their next progress
// text, and the run ends as a cancelled one does.
//
// Schedules: "&Schedules..." (View menu) asks for a machine and shows its
// schedule list; WM_REPORT_BATCH_SUBMITTED, posted by the run form when it
// added a job, shows this computer's list, read again when it is open
// already (CKSScheView::m_mapSchedule finds it). The Edit menu carries the
// list's "&Modify" and "&Delete".
//
// Owned by the application object; user-interface thread only.

#include <chrono>
#include <cstdint>
#include <vector>

#include "console/widgets/run/ReportMerge.h"
#include "ui/MDIFrameWnd.h"

struct ReportRunContext;
struct ProgressChannelEntry;
class CMultiDocTemplate;
class QString;

class CMainFrame : public CMDIFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Cancels every run still going and waits for their threads, at most
  // `limit`, handling this thread's events meanwhile (without user input)
  // so that the runs' messages are answered. From here on results are
  // dropped. True when no run is left.
  [[nodiscard]] bool EndRuns(std::chrono::milliseconds limit);
  // Runs whose channel has not closed yet.
  int OpenRuns() const { return m_nOpenChannels; }
  // The schedule window's template (402), owned by the template list.
  void SetScheduleTemplate(CMultiDocTemplate* pTemplate) { m_pScheduleTemplate = pTemplate; }
  // Shows the schedule list of `machine`, the one open already (read again)
  // or a new one. False when there is no template or it could not open.
  bool OpenScheduleList(const QString& machine);
  // The merged file of the last report that no result window took, or empty.
  const std::string& GetKeptResult() const { return m_strKeptResult; }

 private:
  struct CRun {
    std::uintptr_t id;
    HANDLE hReportThread;
    HANDLE hChannelThread;
    HANDLE hCancelEvent;   // the view's, or hOwnCancel
    HANDLE hOwnCancel;     // made here for a run that came without one, or null
  };

  void OnHelpGettingStarted();
  void OnViewSchedules();
  void OnGrowthSince();
  void OnBatchSubmitted();
  LRESULT OnStartRun(ReportRunContext* context, ProgressChannelEntry* entry);
  void OnReportDone();
  void OnChannelClosed(std::uintptr_t id);
  // Closes the handles of runs whose threads have both ended.
  void ReapRuns();

  CReportMerge m_merge;
  std::vector<CRun> m_runs;
  std::uintptr_t m_nextRunId = 1;
  int m_nOpenChannels = 0;
  HANDLE m_hReportFinished;
  bool m_bEnding = false;
  std::string m_strKeptResult;
  CMultiDocTemplate* m_pScheduleTemplate = nullptr;
};
