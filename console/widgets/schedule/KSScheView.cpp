#include "console/widgets/schedule/KSScheView.h"

#include <QFont>
#include <QFontMetrics>
#include <QTimer>
#include <algorithm>

#include "console/core/schedule/ScheduleJobs.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/schedule/KSScheDoc.h"
#include "console/widgets/schedule/ModifyJobDlg.h"
#include "console/widgets/support/RunFlags.h"
#include "platform/machine/Machine.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"

IMPLEMENT_DYNCREATE(CKSScheView, CMyGridView)

std::map<std::string, CKSScheView*> CKSScheView::m_mapSchedule;

namespace {

const QColor kLightYellow(255, 255, 200);
constexpr int kDaysOfMonthColumn = 5;

// Clears the busy flag on every way out of a dialog or a deletion.
class BusyScope {
 public:
  explicit BusyScope(bool& busy) : m_busy(busy) { m_busy = true; }
  ~BusyScope() { m_busy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& m_busy;
};

std::string LocalComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name) : std::string();
}

}  // namespace

CKSScheView::CKSScheView() : m_pTimer(new QTimer(this)) {
  m_pTimer->setInterval(static_cast<int>(vn::console::kScheduleTimerPeriod));
  connect(m_pTimer, &QTimer::timeout, this, [this] { OnTimer(vn::console::kScheduleTimerId); });
  MapCommand(ID_EDTSCHED_MODIFY, &CKSScheView::OnEdtschedModify);
  MapUpdateCommand(ID_EDTSCHED_MODIFY, &CKSScheView::OnUpdateEdtschedModify);
  MapCommand(ID_EDIT_CLEAR, &CKSScheView::OnDelete);
  MapUpdateCommand(ID_EDIT_CLEAR, &CKSScheView::OnUpdateDelete);
  CGridCtrl* grid = GetGrid();
  grid->onDoubleClick = [this](int row, int column) { OnLButtonDblClkRowCol(row, column); };
}

CKSScheView::~CKSScheView() {
  GetGrid()->SetSource(nullptr);
  const auto entry = m_mapSchedule.find(m_strMachine);
  if (entry != m_mapSchedule.end() && entry->second == this) m_mapSchedule.erase(entry);
}

CKSScheDoc* CKSScheView::GetDocument() const { return dynamic_cast<CKSScheDoc*>(CView::GetDocument()); }

void CKSScheView::OnInitialUpdate() {
  CMyGridView::OnInitialUpdate();
  if (m_bShown) return;
  m_bShown = true;
  const CKSScheDoc* pDoc = GetDocument();
  m_strMachine = vn::console::ScheduleListKey(pDoc ? pDoc->GetMachineName().toStdString() : std::string());
  m_bLocal = m_strMachine.empty() || m_strMachine == vn::console::ScheduleListKey(LocalComputerName());
  m_mapSchedule[m_strMachine] = this;

  CGridCtrl* grid = GetGrid();
  GridSettings settings = grid->Settings();
  settings.background = kLightYellow;
  grid->ApplySettings(settings);
  grid->SetSource(this);
  SetHeader();
  UpdateGrid();
  if (CKSScheDoc* pTitled = GetDocument()) pTitled->SetTitle(QString());
  ResumeTimer();
}

int CKSScheView::GridRowCount() const { return static_cast<int>(m_rows.size()) + 1; }

int CKSScheView::GridColumnCount() const { return vn::console::kScheduleColumnCount; }

void CKSScheView::GridRow(int row, std::vector<GridCell>& cells) {
  if (row == 0) {
    const std::vector<std::string> titles = vn::console::ScheduleColumnTitles();
    for (std::size_t i = 0; i < cells.size() && i < titles.size(); ++i) {
      cells[i].value = QString::fromStdString(titles[i]);
      cells[i].bold = true;
    }
    return;
  }
  const auto index = static_cast<std::size_t>(row - 1);
  if (index >= m_rows.size()) return;
  const auto& texts = m_rows[index].cells;
  for (std::size_t i = 0; i < cells.size() && i < texts.size(); ++i) {
    cells[i].value = QString::fromStdString(texts[i]);
    cells[i].background = kLightYellow;
  }
  cells[vn::console::kScheduleColumnCount - 1].textColor = Qt::black;
}

void CKSScheView::SetHeader() { FitColumns(false); }

void CKSScheView::FitColumns(bool shrinkDays) {
  CGridCtrl* grid = GetGrid();
  QFont bold = grid->font();
  bold.setBold(true);
  const QFontMetrics titleMetrics(bold);
  const QFontMetrics cellMetrics(grid->font());
  constexpr int kPadding = 20;
  constexpr int kWidest = 420;  // a long command or object list is not shown whole
  const std::vector<std::string> titles = vn::console::ScheduleColumnTitles();
  for (int column = 1; column <= vn::console::kScheduleColumnCount; ++column) {
    const auto index = static_cast<std::size_t>(column - 1);
    const int title = titleMetrics.horizontalAdvance(QString::fromStdString(titles[index])) + kPadding;
    int content = 0;
    for (const auto& row : m_rows)
      content = std::max(content, cellMetrics.horizontalAdvance(QString::fromStdString(row.cells[index])) + kPadding);
    content = std::min(content, kWidest);
    if (shrinkDays && column == kDaysOfMonthColumn) {
      // The day numbers decide this column's width, wider or narrower.
      grid->setColumnWidth(column - 1, std::max(title, content));
    } else if (grid->columnWidth(column - 1) < std::max(title, content)) {
      grid->setColumnWidth(column - 1, std::max(title, content));  // widened to fit, never narrowed
    }
  }
}

void CKSScheView::UpdateGrid() {
  std::string message;
  m_rows = vn::console::ReadScheduleList(m_bLocal ? std::string() : m_strMachine, &message);
  GetGrid()->ResetGrid();
  FitColumns(true);
  if (!message.empty()) AfxMessageBox(QString::fromStdString(message));
}

void CKSScheView::StopTimer() {
  if (!m_bTimerRunning) return;
  m_pTimer->stop();
  m_bTimerRunning = false;
}

void CKSScheView::ResumeTimer() {
  if (m_bTimerRunning) return;
  m_pTimer->start();
  m_bTimerRunning = true;
}

void CKSScheView::OnTimer(UINT nIDEvent) {
  if (!vn::console::RefreshesOnTick(nIDEvent, m_bBusy)) return;
  StopTimer();
  UpdateGrid();
  ResumeTimer();
}

DWORD CKSScheView::JobOfRow(int row) const {
  if (row < 1 || static_cast<std::size_t>(row) > m_rows.size()) return 0;
  return m_rows[static_cast<std::size_t>(row - 1)].jobId;
}

void CKSScheView::OnLButtonDblClkRowCol(int row, int) {
  if (row > 0) ModifyRow(row);
}

void CKSScheView::ModifyRow(int row) {
  const DWORD jobId = JobOfRow(row);
  if (!m_bLocal || jobId == 0) return;
  const BusyScope busy(m_bBusy);
  CModifyJobDlg dialog(jobId, this);
  if (dialog.exec() == QDialog::Accepted) UpdateGrid();
}

void CKSScheView::OnEdtschedModify() {
  const std::vector<int> selected = GetGrid()->SelectedRows();
  if (!vn::console::CanModifyJob(selected, GetGrid()->CurrentRow())) return;
  ModifyRow(selected.empty() ? GetGrid()->CurrentRow() : selected.front());
}

void CKSScheView::OnUpdateEdtschedModify(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_bLocal && vn::console::CanModifyJob(GetGrid()->SelectedRows(), GetGrid()->CurrentRow()));
}

void CKSScheView::OnDelete() {
  const std::vector<int> selected = GetGrid()->SelectedRows();
  if (!m_bLocal || !vn::console::CanDeleteJob(selected)) return;
  const BusyScope busy(m_bBusy);
  const int row = selected.front();
  const DWORD jobId = JobOfRow(row);
  if (jobId == 0) return;
  if (bKSConfirm && AfxMessageBox(QString::fromStdString(vn::console::DeleteJobQuestion(jobId)),
                                  MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  std::string message;
  const DWORD result = vn::console::DeleteScheduledJob(jobId, &message);
  if (result != 0) {
    AfxMessageBox(QString::fromStdString(message.empty() ? vn::console::DeleteJobErrorText(jobId, result) : message));
    return;
  }
  m_rows.erase(m_rows.begin() + (row - 1));
  GetGrid()->ResetGrid();
}

void CKSScheView::OnUpdateDelete(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_bLocal && vn::console::CanDeleteJob(GetGrid()->SelectedRows()));
}
