#include "console/widgets/schedule/ScheduleView.h"

#include <QButtonGroup>
#include <QDate>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTime>
#include <QVBoxLayout>
#include <memory>

#include "console/core/schedule/ScheduleJobs.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/run/RunMessages.h"
#include "console/widgets/schedule/ScheduleControls.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/support/RunFlags.h"
#include "platform/ipc/Sync.h"
#include "ui/MessageBox.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CScheduleView, CView)

namespace {

constexpr char kNothingToRun[] =
    "No object or report selected.  Please select from the Object and Memorized Report tab.";
constexpr char kUnsavedSet[] = "You must save the new report set to run the schedule.";

std::string JoinLocal(const std::vector<std::string>& objects) {
  std::string joined;
  for (const std::string& object : objects) joined += (joined.empty() ? "" : ";") + object;
  return joined;
}

// Today's weekday as the platform counts it: 0 = Sunday ... 6 = Saturday.
int TodayWeekday() { return QDate::currentDate().dayOfWeek() % 7; }

}  // namespace

CScheduleView::CScheduleView()
    : m_pInteractive(new QRadioButton(QStringLiteral("Run Interactively"), this)),
      m_pBatch(new QRadioButton(QStringLiteral("Run in Batch"), this)),
      m_pSubmit(new QPushButton(QStringLiteral("Submit"), this)),
      m_pCancel(new QPushButton(QStringLiteral("Cancel"), this)),
      m_pObjects(new QLabel(this)),
      m_pReportSet(new QLabel(this)),
      m_pScheduleGroup(new QGroupBox(QStringLiteral("Schedule Job"), this)),
      m_pControls(new CScheduleControls(m_pScheduleGroup)),
      m_pStatusGroup(new QGroupBox(QStringLiteral("Report Status"), this)),
      m_pStatusEdit(new QPlainTextEdit(m_pStatusGroup)),
      m_hCancelEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hDoneEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  m_notify = std::make_unique<CWindowHandle>(
      this, [this](UINT message, WPARAM wParam, LPARAM lParam) { return OnMessage(message, wParam, lParam); });
  // The status box shows every text it is sent (the handler leaves it to the box).
  m_status = std::make_unique<CWindowHandle>(m_pStatusEdit, [](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });

  auto* mode = new QButtonGroup(this);
  mode->addButton(m_pInteractive, 0);
  mode->addButton(m_pBatch, 1);
  m_pStatusEdit->setReadOnly(true);
  for (QLabel* text : {m_pObjects, m_pReportSet}) {
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }

  auto* selection = new QGroupBox(QStringLiteral("Selection"), this);
  auto* selectionLayout = new QGridLayout(selection);
  selectionLayout->addWidget(new QLabel(QStringLiteral("Object(s):"), selection), 0, 0, Qt::AlignTop);
  selectionLayout->addWidget(m_pObjects, 0, 1);
  selectionLayout->addWidget(new QLabel(QStringLiteral("Report Set:"), selection), 1, 0, Qt::AlignTop);
  selectionLayout->addWidget(m_pReportSet, 1, 1);
  selectionLayout->setColumnStretch(1, 1);

  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(m_pInteractive);
  modeRow->addWidget(m_pBatch);
  modeRow->addStretch(1);
  modeRow->addWidget(m_pSubmit);
  modeRow->addWidget(m_pCancel);

  (new QVBoxLayout(m_pScheduleGroup))->addWidget(m_pControls);
  (new QVBoxLayout(m_pStatusGroup))->addWidget(m_pStatusEdit);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(selection);
  layout->addLayout(modeRow);
  layout->addWidget(m_pScheduleGroup);
  layout->addWidget(m_pStatusGroup, 1);
  layout->addStretch(0);

  connect(m_pInteractive, &QRadioButton::clicked, this, [this] { OnRunInteractively(); });
  connect(m_pBatch, &QRadioButton::clicked, this, [this] { OnRunInBatch(); });
  connect(m_pSubmit, &QPushButton::clicked, this, [this] { OnSubmit(); });
  connect(m_pCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

CScheduleView::~CScheduleView() {
  // A run still going ends as a cancelled one; its threads only ever see
  // this form's handles, which answer nothing from here on.
  if (m_bRunning && m_hCancelEvent) SetEvent(m_hCancelEvent);
  m_notify.reset();
  m_status.reset();
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && pDoc->m_pScheduleView == this) pDoc->m_pScheduleView = nullptr;
  if (m_hCancelEvent) CloseHandle(m_hCancelEvent);
  if (m_hDoneEvent) CloseHandle(m_hDoneEvent);
}

CKSMgrDoc* CScheduleView::GetDocument() const { return dynamic_cast<CKSMgrDoc*>(CView::GetDocument()); }

void CScheduleView::OnInitialUpdate() {
  if (CKSMgrDoc* pDoc = GetDocument()) pDoc->m_pScheduleView = this;
  if (m_bShown) return;
  m_bShown = true;
  m_pInteractive->setChecked(true);
  m_pCancel->setEnabled(false);
  m_pCancel->hide();
  ShowScheduleControls(false);
  m_pControls->SetTime(QTime::currentTime());
  OnTabSelected();
}

void CScheduleView::ShowScheduleControls(bool show) {
  m_pScheduleGroup->setVisible(show);
  m_pStatusGroup->setVisible(!show);
}

void CScheduleView::OnRunInteractively() {
  m_pInteractive->setChecked(true);
  ShowScheduleControls(false);
}

void CScheduleView::OnRunInBatch() {
  m_pBatch->setChecked(true);
  const QTime now = QTime::currentTime();
  ShowScheduleControls(true);
  if (m_pControls->GetInterval() == vn::console::ScheduleInterval::Today) m_pControls->SetTime(now);
  m_pControls->UpdateDayLists();
}

void CScheduleView::OnTabSelected() {
  const CKSMgrDoc* pDoc = GetDocument();
  if (!pDoc) return;
  const std::string objects = vn::console::JoinScheduleObjects(pDoc->LocalObjects(), pDoc->NetworkObjects());
  m_pObjects->setText(objects.empty() ? QStringLiteral("No Object(s) is selected.") : QString::fromStdString(objects));
  m_pReportSet->setText(pDoc->m_strReportName.isEmpty()
                            ? QStringLiteral("No Report Set is selected.")
                            : QStringLiteral("%1\\%2").arg(pDoc->m_strReportMachine, pDoc->m_strReportName));
}

void CScheduleView::OnSubmit() {
  if (m_storeSelection) m_storeSelection();
  CKSMgrDoc* pDoc = GetDocument();
  if (!pDoc || !pDoc->CanRunReport()) {
    AfxMessageBox(QString::fromLatin1(kNothingToRun));
    return;
  }
  OnTabSelected();
  if (m_pBatch->isChecked()) {
    if (pDoc->m_strReportName.isEmpty()) {
      AfxMessageBox(QString::fromLatin1(kUnsavedSet));
      return;
    }
    if (ScheduleJob() == 1) {
      if (const auto* pMainWnd = dynamic_cast<const CMDIFrameWnd*>(AfxGetMainWnd()))
        PostMessageA(pMainWnd->GetSafeHwnd(), WM_REPORT_BATCH_SUBMITTED, 0, 0);
    }
    return;
  }
  StartInteractiveRun();
}

int CScheduleView::ScheduleJob() {
  const CKSMgrDoc* pDoc = GetDocument();
  if (!pDoc) return 0;
  vn::console::ScheduleRequest request;
  request.choices = m_pControls->GetChoices();
  request.todayWeekday = TodayWeekday();
  request.customReport = pDoc->m_nCustomReport != 0;
  request.reportName = pDoc->m_strReportName.toStdString();
  request.localObjects = pDoc->LocalObjects();
  request.networkObjects = pDoc->NetworkObjects();
  const CWaitCursor wait;
  const vn::console::ScheduleOutcome outcome = vn::console::ScheduleJob(request);
  if (!outcome.added) {
    AfxMessageBox(QString::fromStdString(outcome.message));
    return 0;
  }
  return 1;
}

void CScheduleView::StartInteractiveRun() {
  const CKSMgrDoc* pDoc = GetDocument();
  const auto* pMainWnd = dynamic_cast<const CMDIFrameWnd*>(AfxGetMainWnd());
  if (!pDoc || !pMainWnd) return;
  const CWaitCursor wait;
  m_pSubmit->setEnabled(false);
  m_pCancel->setEnabled(true);
  m_pCancel->show();
  m_pStatusEdit->setPlainText(QStringLiteral("Processing Report..."));
  m_pStatusGroup->show();
  m_merge.Reset();
  ResetEvent(m_hCancelEvent);
  ResetEvent(m_hDoneEvent);

  // The report thread frees the context and the channel thread the entry
  // once the main window has taken them over; until then they are ours.
  auto context = std::make_unique<ReportRunContext>();
  auto entry = std::make_unique<ProgressChannelEntry>();
  context->hCancelEvent = m_hCancelEvent;
  context->hNotifyWnd = GetSafeHwnd();
  context->hStatusWnd = GetStatusHwnd();
  context->nCustomReport = pDoc->m_nCustomReport;
  context->reportMachine = pDoc->m_strReportMachine.toStdString();
  context->reportName = pDoc->m_strReportName.toStdString();
  context->localObjects = JoinLocal(pDoc->LocalObjects());
  context->remoteObjects = pDoc->NetworkObjects();
  entry->hCancelEvent = m_hCancelEvent;
  entry->hDoneEvent = m_hDoneEvent;
  entry->hNotifyWnd = GetSafeHwnd();
  entry->hStatusWnd = GetStatusHwnd();
  SetRunPipeNames(context.get(), entry.get());
  if (SendStartRun(pMainWnd->GetSafeHwnd(), {context.get(), entry.get()}) == 1) {
    context.release();
    entry.release();
    m_bRunning = true;
    return;
  }
  OnChannelClosed();  // nothing started: the form is ready again
}

void CScheduleView::OnCancel() {
  if (m_hCancelEvent) SetEvent(m_hCancelEvent);
}

LRESULT CScheduleView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_REPORT_SERVER_RESULT: {
      const CWaitCursor wait;
      const ServerResult result = ServerResultOf(wParam, lParam);
      return static_cast<LRESULT>(m_merge.OnServerResult(result.machine, result.output));
    }
    case WM_REPORT_DONE:
      OnReportDone();
      return 0;
    case WM_REPORT_CHANNEL_CLOSED:
      OnChannelClosed();
      return 0;
    default:
      return 0;
  }
}

void CScheduleView::OnReportDone() {
  const std::string path = m_merge.OnDone();
  if (path.empty()) return;
  if (pKSRptDocTemplate)
    (void)OpenRunResult(*pKSRptDocTemplate, QString::fromStdString(path));
  else
    QFile::remove(QString::fromStdString(path));  // nowhere to show it
}

void CScheduleView::OnChannelClosed() {
  m_bRunning = false;
  m_pSubmit->setEnabled(true);
  m_pCancel->setEnabled(false);
  m_pCancel->hide();
}
