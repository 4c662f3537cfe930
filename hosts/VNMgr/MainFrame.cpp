#include "hosts/VNMgr/MainFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <algorithm>
#include <memory>

#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/graphs/GraphView.h"
#include "console/widgets/grid/GridView.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/results/GrowthSinceDlg.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/schedule/KSScheView.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "platform/machine/Machine.h"
#include "platform/ipc/Sync.h"
#include "ui/CommandIds.h"
#include "ui/MDIChildWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WaitCursor.h"

namespace {

// What the channel thread needs besides its entry: where to say that the run
// is over. Allocated by the frame, freed by the thread.
struct ChannelStart {
  ProgressChannelEntry* entry;
  HWND hMainWnd;
  std::uintptr_t runId;
};

DWORD RunReportThread(LPVOID parameter) { return ReportThreadProc(static_cast<ReportRunContext*>(parameter)); }

DWORD RunChannelThread(LPVOID parameter) {
  const std::unique_ptr<ChannelStart> start(static_cast<ChannelStart*>(parameter));
  const DWORD code = MessageThreadProc(start->entry);
  // A channel whose pipe could not be made leaves its entry to the caller.
  if (code != 0) delete start->entry;
  // The entry may name another window or none: the frame hears of the end
  // from here in every case.
  PostChannelClosed(start->hMainWnd, start->runId);
  return code;
}

bool Ended(HANDLE thread) { return !thread || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

}  // namespace

CMainFrame::CMainFrame() : m_hReportFinished(CreateEventA(nullptr, TRUE, TRUE, kReportFinishedEventName)) {
  using vn::console::ID_HELP_GETTING_STARTED;
  setWindowTitle(QStringLiteral("Vornal"));
  resize(1024, 720);

  QMenu* pFile = AddMenu(QStringLiteral("&File"));
  AddCommand(pFile, ID_FILE_OPEN, QStringLiteral("&Open..."), QKeySequence::Open);
  AddCommand(pFile, ID_FILE_CLOSE, QStringLiteral("&Close"));
  // The manager window's: the report wizard for this computer.
  AddCommand(pFile, vn::console::ID_REPORT_WIZARD, QStringLiteral("&Report Wizard\tCtrl+W"),
             QKeySequence(Qt::CTRL | Qt::Key_W));
  // The scan history's: what grew since an earlier run, as a result window.
  AddCommand(pFile, CGrowthSinceDlg::ID_FILE_GROWTH_SINCE, QStringLiteral("&Growth Since..."));
  // The result window's: its document saves, its grid prints.
  AddCommand(pFile, ID_FILE_SAVE, QStringLiteral("&Save\tCtrl+S"), QKeySequence::Save);
  AddCommand(pFile, ID_FILE_SAVE_AS, QStringLiteral("&Save As..."));
  pFile->addSeparator();
  AddCommand(pFile, ID_FILE_PRINT, QStringLiteral("&Print..."), QKeySequence::Print);
  AddCommand(pFile, CGridView::ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"));
  AddCommand(pFile, ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."));
  AddCommand(pFile, ID_FILE_PAGE_SETUP, QStringLiteral("Page Set&up..."));
  pFile->addSeparator();
  AddCommand(pFile, ID_APP_EXIT, QStringLiteral("E&xit"));

  // The result window's file commands (the Delete key is its own).
  QMenu* pEdit = AddMenu(QStringLiteral("&Edit"));
  AddCommand(pEdit, CFastReadView::ID_KS_DELETE, QStringLiteral("&Delete"));
  AddCommand(pEdit, CFastReadView::ID_EDIT_COPY, QStringLiteral("&Copy to..."));
  AddCommand(pEdit, CFastReadView::ID_MOVE_TO, QStringLiteral("&Move to..."));
  pEdit->addSeparator();
  AddCommand(pEdit, CFastReadView::ID_GRAPH, QStringLiteral("&Graph..."));
  // The schedule list's.
  pEdit->addSeparator();
  AddCommand(pEdit, CKSScheView::ID_EDTSCHED_MODIFY, QStringLiteral("&Modify\tCtrl+M"), QKeySequence(Qt::CTRL | Qt::Key_M));
  AddCommand(pEdit, CKSScheView::ID_EDIT_CLEAR, QStringLiteral("&Delete\tCtrl+D"), QKeySequence(Qt::CTRL | Qt::Key_D));

  QMenu* pView = AddMenu(QStringLiteral("&View"));
  AddCommand(pView, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
  pView->addSeparator();
  AddCommand(pView, CGridView::ID_VIEW_ZOOMIN, QStringLiteral("Zoom &In"));
  AddCommand(pView, CGridView::ID_VIEW_ZOOMOUT, QStringLiteral("Zoom &out"));
  AddCommand(pView, CGridView::ID_VIEW_100, QStringLiteral("100%"));
  AddCommand(pView, CGridView::ID_VIEW_PROPERTIES, QStringLiteral("&Display Settings..."));
  // The graph window's.
  pView->addSeparator();
  AddCommand(pView, vn::console::ID_VIEW_SCHEDULES, QStringLiteral("&Schedules..."));
  QMenu* pGraphType = pView->addMenu(QStringLiteral("&Graph Type"));
  AddCommand(pGraphType, CGraphView::ID_GRAPH_BAR, QStringLiteral("&Bar"));
  AddCommand(pGraphType, CGraphView::ID_GRAPH_PIE, QStringLiteral("&Pie"));

  QMenu* pWindow = AddMenu(QStringLiteral("&Window"));
  AddCommand(pWindow, ID_WINDOW_CASCADE, QStringLiteral("&Cascade"));
  AddCommand(pWindow, ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile"));
  AddCommand(pWindow, ID_WINDOW_ARRANGE, QStringLiteral("&Arrange Icons"));

  QMenu* pHelp = AddMenu(QStringLiteral("&Help"));
  AddCommand(pHelp, ID_HELP_FINDER, QStringLiteral("&Help Topics"), QKeySequence::HelpContents);
  AddCommand(pHelp, ID_HELP_GETTING_STARTED, QStringLiteral("&Getting Started"));
  pHelp->addSeparator();
  AddCommand(pHelp, ID_APP_ABOUT, QStringLiteral("&About Vornal..."));

  MapCommand(ID_HELP_GETTING_STARTED, &CMainFrame::OnHelpGettingStarted);
  MapCommand(vn::console::ID_VIEW_SCHEDULES, &CMainFrame::OnViewSchedules);
  MapCommand(CGrowthSinceDlg::ID_FILE_GROWTH_SINCE, &CMainFrame::OnGrowthSince);
}

CMainFrame::~CMainFrame() {
  // Threads still going (EndRuns gave up on them) only ever see this
  // window's handle, which answers nothing from here on.
  ReapRuns();
  for (const CRun& run : m_runs) {
    if (run.hReportThread) CloseHandle(run.hReportThread);
    if (run.hChannelThread) CloseHandle(run.hChannelThread);
  }
  if (m_hReportFinished) CloseHandle(m_hReportFinished);
}

void CMainFrame::OnHelpGettingStarted() { KSGettingStarted(); }

void CMainFrame::OnViewSchedules() {
  CComputerBrowserDlg browser(this);
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) (void)browser.SelectComputer(QString::fromLatin1(name));
  if (browser.exec() != QDialog::Accepted || browser.GetComputerName().isEmpty()) return;
  (void)OpenScheduleList(browser.GetComputerName());
}

void CMainFrame::OnGrowthSince() {
  CGrowthSinceDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted || dialog.GetResultFile().isEmpty()) return;
  if (pKSRptDocTemplate) (void)OpenRunResult(*pKSRptDocTemplate, dialog.GetResultFile());
}

void CMainFrame::OnBatchSubmitted() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) (void)OpenScheduleList(QString::fromLatin1(name));
}

bool CMainFrame::OpenScheduleList(const QString& machine) {
  const auto open = CKSScheView::m_mapSchedule.find(machine.toUpper().toStdString());
  if (open != CKSScheView::m_mapSchedule.end() && open->second) {
    open->second->UpdateGrid();
    if (CMDIChildWnd* pFrame = open->second->GetParentFrame()) pFrame->ActivateFrame();
    return true;
  }
  return m_pScheduleTemplate && m_pScheduleTemplate->OpenDocumentFile(machine, TRUE) != nullptr;
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_REPORT_START_RUN: {
      const StartRun run = StartRunOf(wParam, lParam);
      return OnStartRun(run.context, run.entry);
    }
    case WM_REPORT_SERVER_RESULT: {
      if (m_bEnding) return 0;
      const CWaitCursor wait;
      const ServerResult result = ServerResultOf(wParam, lParam);
      return static_cast<LRESULT>(m_merge.OnServerResult(result.machine, result.output));
    }
    case WM_REPORT_DONE:
      OnReportDone();
      return 0;
    case WM_REPORT_BATCH_SUBMITTED:
      if (!m_bEnding) OnBatchSubmitted();
      return 0;
    case WM_REPORT_CHANNEL_CLOSED:
      if (const WPARAM run = ChannelClosedRunOf(wParam); run != 0) OnChannelClosed(static_cast<std::uintptr_t>(run));
      return 0;
    default:
      return CMDIFrameWnd::WindowProc(message, wParam, lParam);
  }
}

LRESULT CMainFrame::OnStartRun(ReportRunContext* context, ProgressChannelEntry* entry) {
  if (!context || !entry || m_bEnding) return 0;
  ReapRuns();
  CRun run{m_nextRunId++, nullptr, nullptr, entry->hCancelEvent, nullptr};
  if (!run.hCancelEvent) {
    run.hOwnCancel = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    run.hCancelEvent = entry->hCancelEvent = run.hOwnCancel;
  }
  // The report thread first: once it runs, the context is its own. It gives
  // the channel time to make its pipe before it says "Disconnect".
  run.hReportThread = CreateThread(nullptr, 0, &RunReportThread, context, 0, nullptr);
  if (!run.hReportThread) {
    if (run.hOwnCancel) CloseHandle(run.hOwnCancel);
    entry->hCancelEvent = nullptr;
    return 0;  // nothing taken over: the caller frees both records
  }
  auto* start = new ChannelStart{entry, GetSafeHwnd(), run.id};
  run.hChannelThread = CreateThread(nullptr, 0, &RunChannelThread, start, 0, nullptr);
  if (!run.hChannelThread) {
    delete start;
    delete entry;
    PostChannelClosed(GetSafeHwnd(), run.id);
  }
  m_runs.push_back(run);
  ++m_nOpenChannels;
  ResetEvent(m_hReportFinished);
  return 1;
}

void CMainFrame::OnReportDone() {
  const std::string path = m_merge.OnDone();
  if (path.empty()) return;
  const QString file = QString::fromStdString(path);
  if (m_bEnding) {
    QFile::remove(file);
    return;
  }
  if (!pKSRptDocTemplate) {
    m_strKeptResult = path;
    SetMessageText(QStringLiteral("Report saved in %1").arg(QDir::toNativeSeparators(file)));
    return;
  }
  (void)OpenRunResult(*pKSRptDocTemplate, file);
}

void CMainFrame::OnChannelClosed(std::uintptr_t id) {
  const auto run = std::find_if(m_runs.begin(), m_runs.end(), [id](const CRun& r) { return r.id == id; });
  if (run == m_runs.end() || run->id == 0) return;
  run->id = 0;  // closed
  if (--m_nOpenChannels == 0) SetEvent(m_hReportFinished);
  ReapRuns();
}

void CMainFrame::ReapRuns() {
  std::erase_if(m_runs, [](const CRun& run) {
    if (run.id != 0 || !Ended(run.hReportThread) || !Ended(run.hChannelThread)) return false;
    if (run.hReportThread) CloseHandle(run.hReportThread);
    if (run.hChannelThread) CloseHandle(run.hChannelThread);
    if (run.hOwnCancel) CloseHandle(run.hOwnCancel);
    return true;
  });
}

bool CMainFrame::EndRuns(std::chrono::milliseconds limit) {
  m_bEnding = true;
  for (const CRun& run : m_runs)
    if (run.hCancelEvent) SetEvent(run.hCancelEvent);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    ReapRuns();
    if (m_runs.empty()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // One look at a thread that is still going, as a short pause.
    for (const CRun& run : m_runs) {
      if (!Ended(run.hReportThread)) {
        (void)WaitForSingleObject(run.hReportThread, 20);
        break;
      }
      if (!Ended(run.hChannelThread)) {
        (void)WaitForSingleObject(run.hChannelThread, 20);
        break;
      }
    }
  }
}
