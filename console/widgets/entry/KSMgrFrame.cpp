#include "console/widgets/entry/KSMgrFrame.h"

#include <QApplication>
#include <QMdiArea>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>

#include "console/core/support/Resources.h"
#include "console/widgets/objects/KSListView.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/reports/KSReportListView.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/schedule/ScheduleView.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "platform/machine/Machine.h"
#include "ui/CmdUI.h"
#include "ui/CreateContext.h"
#include "ui/HelpContext.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CKSMgrFrame, CKSMDIChildWnd)

namespace {

constexpr char kSection[] = "KSMgrFrame";
constexpr char kObjectPane[] = "Object.pane.tree";
constexpr char kReportPane[] = "Report.pane.tree";
constexpr int kDefaultPaneWidth = 200;
constexpr int kObjectTab = 0;
constexpr int kReportsTab = 1;
constexpr int kRunTab = 2;
// The tabs' pictures (resources 467 to 469), which also number their help topics.
constexpr DWORD kObjectTabImage = 467;
constexpr DWORD kReportsTabImage = 468;
constexpr DWORD kRunTabImage = 469;
// Show commands of a window placement.
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;

int ProfileInt(const char* section, const char* entry, int nDefault) {
  CWinApp* pApp = AfxGetApp();
  return pApp ? static_cast<int>(pApp->GetProfileInt(section, entry, nDefault)) : nDefault;
}

int ProfileInt(const char* entry, int nDefault) { return ProfileInt(kSection, entry, nDefault); }

// The frame's placement, kept as best the profile can: one that cannot be
// written only costs the next start its layout.
void WriteInt(const char* entry, int value) {
  if (CWinApp* pApp = AfxGetApp()) (void)pApp->WriteProfileInt(kSection, entry, value);
}

}  // namespace

CKSMgrFrame::CKSMgrFrame() { MapCommand(vn::console::ID_REPORT_WIZARD, &CKSMgrFrame::OnReportWizard); }

CKSMgrFrame::~CKSMgrFrame() { WritePlacement(); }

BOOL CKSMgrFrame::LoadFrame(UINT nIDResource, CCreateContext* pContext) {
  if (!CKSMDIChildWnd::LoadFrame(nIDResource, pContext)) return FALSE;
  ReadPlacement();
  return TRUE;
}

BOOL CKSMgrFrame::OnCreateClient(CCreateContext* pContext) {
  CView* pView = CreateView(pContext);
  m_pTreeView = dynamic_cast<CKSTreeView*>(pView);
  if (!m_pTreeView) {
    delete pView;
    return FALSE;
  }
  m_pListView = new CKSListView;
  m_pReportTreeView = new CKSReportTreeView;
  m_pReportListView = new CKSReportListView;
  m_pScheduleView = new CScheduleView;
  if (pContext && pContext->m_pCurrentDoc) {
    pContext->m_pCurrentDoc->AddView(m_pListView);
    pContext->m_pCurrentDoc->AddView(m_pReportTreeView);
    pContext->m_pCurrentDoc->AddView(m_pReportListView);
    pContext->m_pCurrentDoc->AddView(m_pScheduleView);
  }
  m_pScheduleView->SetStoreSelection([this] {
    SaveObjectData();
    SaveReportData();
  });

  m_pTabs = new QTabWidget(this);
  const auto splitter = [this](QWidget* left, QWidget* right, CPane& pane, const char* entry) {
    auto* pSplitter = new QSplitter(Qt::Horizontal, m_pTabs);
    pSplitter->addWidget(left);
    pSplitter->addWidget(right);
    pSplitter->setChildrenCollapsible(false);
    pSplitter->setStretchFactor(1, 1);
    pane.pSplitter = pSplitter;
    pane.nWidth = ProfileInt(entry, kDefaultPaneWidth);
    pSplitter->setSizes({pane.nWidth, std::max(pane.nWidth, 400)});
    return pSplitter;
  };
  m_pObjectSplitter = splitter(m_pTreeView, m_pListView, m_objectPane, kObjectPane);
  m_pReportSplitter = splitter(m_pReportTreeView, m_pReportListView, m_reportPane, kReportPane);
  const QStyle* style = QApplication::style();
  const auto icon = [style](QStyle::StandardPixmap picture) { return style ? style->standardIcon(picture) : QIcon(); };
  m_pTabs->addTab(m_pObjectSplitter, icon(QStyle::SP_ComputerIcon), QStringLiteral("Object"));
  m_pTabs->addTab(m_pReportSplitter, icon(QStyle::SP_FileDialogDetailedView), QStringLiteral("Reports"));
  m_pTabs->addTab(m_pScheduleView, icon(QStyle::SP_MediaPlay), QStringLiteral("Run"));
  // Each tab has its topic, numbered after the tab's picture.
  AfxSetHelpContext(m_pObjectSplitter, HID_BASE_RESOURCE + kObjectTabImage);
  AfxSetHelpContext(m_pReportSplitter, HID_BASE_RESOURCE + kReportsTabImage);
  AfxSetHelpContext(m_pScheduleView, HID_BASE_RESOURCE + kRunTabImage);
  m_pTabs->setCurrentIndex(kObjectTab);
  setWidget(m_pTabs);
  SetActiveView(m_pTreeView);
  // Commands go to the tree of the tab that shows.
  connect(m_pTabs, &QTabWidget::currentChanged, this, [this](int index) {
    CView* pView = index == kReportsTab ? static_cast<CView*>(m_pReportTreeView)
                   : index == kRunTab   ? static_cast<CView*>(m_pScheduleView)
                                        : m_pTreeView;
    SetActiveView(pView);
    if (isActiveWindow()) pView->setFocus();
    PlacePane(index == kReportsTab ? m_reportPane : m_objectPane);
    (void)OnTabSelected(index);
  });
  return TRUE;
}

// A splitter gets its real width only when its tab first shows; until then
// the stored column width is what it has (and what is written back).
void CKSMgrFrame::PlacePane(CPane& pane) {
  if (pane.bPlaced || !pane.pSplitter || !pane.pSplitter->isVisible()) return;
  const int total = pane.pSplitter->width() - pane.pSplitter->handleWidth();
  if (total <= pane.nWidth) return;
  pane.pSplitter->setSizes({pane.nWidth, total - pane.nWidth});
  pane.bPlaced = true;
}

int CKSMgrFrame::PaneWidth(const CPane& pane) {
  if (!pane.bPlaced || !pane.pSplitter || pane.pSplitter->sizes().isEmpty()) return pane.nWidth;
  return pane.pSplitter->sizes().constFirst();
}

void CKSMgrFrame::showEvent(QShowEvent* event) {
  CKSMDIChildWnd::showEvent(event);
  if (m_pTabs) PlacePane(m_pTabs->currentIndex() == kReportsTab ? m_reportPane : m_objectPane);
}

LRESULT CKSMgrFrame::OnTabSelected(int index) {
  if (index != kRunTab || !m_pScheduleView) return 0;
  SaveObjectData();
  SaveReportData();
  m_pScheduleView->OnTabSelected();
  return 0;
}

BOOL CKSMgrFrame::OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) {
  // Refresh belongs to the "Object" tab: elsewhere it is disabled and does nothing.
  if (nID == vn::console::ID_OBJECT_REFRESH && m_pTabs && m_pTabs->currentIndex() != kObjectTab) {
    if (nCode == CN_UPDATE_COMMAND_UI && pCmdUI) pCmdUI->Enable(FALSE);
    return nCode == CN_UPDATE_COMMAND_UI;
  }
  return CKSMDIChildWnd::OnCmdMsg(nID, nCode, pCmdUI);
}

void CKSMgrFrame::OnReportWizard() {
  using vn::console::kShowAtStartupEntry;
  using vn::console::kShowWizardSection;
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) name[0] = '\0';
  BOOL bShow = static_cast<BOOL>(ProfileInt(kShowWizardSection, kShowAtStartupEntry, 1));
  (void)RunReportWizard(this, QString::fromLatin1(name), &bShow);
  if (CWinApp* pApp = AfxGetApp()) (void)pApp->WriteProfileInt(kShowWizardSection, kShowAtStartupEntry, bShow);
}

int CKSMgrFrame::SaveObjectData() { return m_pTreeView ? m_pTreeView->SaveObject() : 1; }

int CKSMgrFrame::SaveReportData() { return m_pReportTreeView ? m_pReportTreeView->SaveReportData() : 0; }

void CKSMgrFrame::ReadPlacement() {
  constexpr int kMissing = -32768;
  const QRect current = geometry();
  ProfileInt("wp.flags", 0);  // kept for the placement's sake; no flag changes how the frame opens
  const int left = ProfileInt("wp.rcNormalPosition.left", kMissing);
  const int top = ProfileInt("wp.rcNormalPosition.top", kMissing);
  const int right = ProfileInt("wp.rcNormalPosition.right", kMissing);
  const int bottom = ProfileInt("wp.rcNormalPosition.bottom", kMissing);
  // Shown normal whatever show state was stored; the rectangle must be a window.
  const bool stored = left != kMissing && top != kMissing && right != kMissing && bottom != kMissing;
  if (stored && right - left >= 100 && bottom - top >= 100)
    setGeometry(QRect(QPoint(left, top), QSize(right - left, bottom - top)));
  else
    m_bFillArea = true;
  showNormal();
  hide();  // the template shows the frame when it activates it
  if (m_bFillArea) setGeometry(current);
  m_rcNormal = geometry();
  m_bPlaced = true;
}

void CKSMgrFrame::ActivateFrame() {
  CKSMDIChildWnd::ActivateFrame();
  if (!m_bFillArea) return;
  m_bFillArea = false;
  if (QMdiArea* pArea = mdiArea()) {
    const QSize area = pArea->viewport()->size();
    if (area.width() >= 100 && area.height() >= 100) setGeometry(QRect(QPoint(0, 0), area));
  }
  m_rcNormal = geometry();
}

void CKSMgrFrame::RememberNormalRect() {
  if (m_bPlaced && !isMaximized() && !isMinimized() && isVisible()) m_rcNormal = geometry();
}

void CKSMgrFrame::moveEvent(QMoveEvent* event) {
  CKSMDIChildWnd::moveEvent(event);
  RememberNormalRect();
}

void CKSMgrFrame::resizeEvent(QResizeEvent* event) {
  CKSMDIChildWnd::resizeEvent(event);
  RememberNormalRect();
}

void CKSMgrFrame::WritePlacement() {
  if (!m_bPlaced) return;
  WriteInt("wp.flags", 0);
  WriteInt("wp.showCmd", isMaximized() ? SW_SHOWMAXIMIZED : isMinimized() ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  WriteInt("wp.ptMinPosition.x", -1);
  WriteInt("wp.ptMinPosition.y", -1);
  WriteInt("wp.ptMaxPosition.x", -1);
  WriteInt("wp.ptMaxPosition.y", -1);
  WriteInt("wp.rcNormalPosition.left", m_rcNormal.left());
  WriteInt("wp.rcNormalPosition.top", m_rcNormal.top());
  WriteInt("wp.rcNormalPosition.right", m_rcNormal.left() + m_rcNormal.width());
  WriteInt("wp.rcNormalPosition.bottom", m_rcNormal.top() + m_rcNormal.height());
  if (m_pObjectSplitter) WriteInt(kObjectPane, PaneWidth(m_objectPane));
  if (m_pReportSplitter && PaneWidth(m_reportPane) >= 0) WriteInt(kReportPane, PaneWidth(m_reportPane));
}
