#include "ui/MDIFrameWnd.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/DynLinkLibrary.h"
#include "ui/MDIChildWnd.h"
#include "ui/View.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNAMIC(CMDIFrameWnd, CCmdTarget)

namespace {

// Actions carry their command id in this property; menus wired to the command
// chain are marked with the other.
constexpr char kCommandIdProperty[] = "vnCommandId";
constexpr char kCommandMenuProperty[] = "vnCommandMenu";

bool CommandIdOf(const QAction* pAction, UINT* pnID) {
  const QVariant v = pAction->property(kCommandIdProperty);
  if (!v.isValid()) return false;
  *pnID = v.toUInt();
  return true;
}

}  // namespace

CMDIFrameWnd::CMDIFrameWnd()
    : m_pMdiArea(new QMdiArea(this)),
      m_pIdleLabel(new QLabel(this)),
      m_handle(this, [this](UINT message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); }) {
  setCentralWidget(m_pMdiArea);
  m_pIdleLabel->setText(QStringLiteral("Ready"));
  statusBar()->addWidget(m_pIdleLabel, 1);
  connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, &CMDIFrameWnd::OnSubWindowActivated);

  MapCommand(ID_WINDOW_CASCADE, &CMDIFrameWnd::OnWindowCascade);
  MapCommand(ID_WINDOW_TILE_HORZ, &CMDIFrameWnd::OnWindowTile);
  MapCommand(ID_WINDOW_ARRANGE, &CMDIFrameWnd::OnWindowArrange);
  MapCommand(ID_VIEW_STATUS_BAR, &CMDIFrameWnd::OnViewStatusBar);
  MapUpdateCommand(ID_VIEW_STATUS_BAR, &CMDIFrameWnd::OnUpdateViewStatusBar);
}

CMDIFrameWnd::~CMDIFrameWnd() {
  // The MDI area deletes the frames as a child of this window; stop listening
  // to it first so no activation change reaches a half-destroyed window.
  disconnect(m_pMdiArea, nullptr, this, nullptr);
}

LRESULT CMDIFrameWnd::WindowProc(UINT, WPARAM, LPARAM) { return 0; }

CMDIChildWnd* CMDIFrameWnd::MDIGetActive() const {
  return dynamic_cast<CMDIChildWnd*>(m_pMdiArea->currentSubWindow());
}

CView* CMDIFrameWnd::GetActiveView() const {
  CMDIChildWnd* pChild = MDIGetActive();
  return pChild ? pChild->GetActiveView() : nullptr;
}

CDocument* CMDIFrameWnd::GetActiveDocument() const {
  CMDIChildWnd* pChild = MDIGetActive();
  return pChild ? pChild->GetActiveDocument() : nullptr;
}

void CMDIFrameWnd::MDICascade() { m_pMdiArea->cascadeSubWindows(); }

void CMDIFrameWnd::MDITile() { m_pMdiArea->tileSubWindows(); }

void CMDIFrameWnd::MDIIconArrange() {
  int x = 0;
  const int bottom = m_pMdiArea->viewport()->height();
  for (QMdiSubWindow* pWindow : m_pMdiArea->subWindowList(QMdiArea::CreationOrder)) {
    if (!pWindow->isVisible() || !pWindow->isMinimized()) continue;
    pWindow->move(x, bottom - pWindow->height());
    x += pWindow->width();
  }
}

QMenu* CMDIFrameWnd::AddMenu(const QString& title) {
  QMenu* pMenu = menuBar()->addMenu(title);
  WireMenu(pMenu);
  return pMenu;
}

void CMDIFrameWnd::WireMenu(QMenu* pMenu) {
  if (pMenu->property(kCommandMenuProperty).toBool()) return;
  pMenu->setProperty(kCommandMenuProperty, true);
  connect(pMenu, &QMenu::aboutToShow, this, [this, pMenu] { UpdateCommandUI(pMenu); });
}

QAction* CMDIFrameWnd::AddCommand(QMenu* pMenu, UINT nID, const QString& text, const QKeySequence& shortcut) {
  QAction* pAction = pMenu->addAction(text);
  pAction->setProperty(kCommandIdProperty, nID);
  if (!shortcut.isEmpty()) pAction->setShortcut(shortcut);
  if (QString prompt; AfxLoadString(nID, prompt)) pAction->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
  connect(pAction, &QAction::triggered, this, [this, nID] { OnCommand(nID); });
  // Submenus open on their own: each menu holding commands updates itself.
  WireMenu(pMenu);
  return pAction;
}

QAction* CMDIFrameWnd::AddCommand(QMenu* pMenu, UINT nID, const QString& text) {
  return AddCommand(pMenu, nID, text, QKeySequence());
}

QAction* CMDIFrameWnd::FindCommand(UINT nID) const {
  for (QAction* pAction : findChildren<QAction*>()) {
    UINT id = 0;
    if (CommandIdOf(pAction, &id) && id == nID) return pAction;
  }
  return nullptr;
}

void CMDIFrameWnd::UpdateCommandUI(QMenu* pMenu) {
  for (QAction* pAction : pMenu->actions()) {
    UINT nID = 0;
    if (!CommandIdOf(pAction, &nID)) continue;
    CCmdUI state(nID, pAction);
    state.DoUpdate(this, TRUE);
  }
}

BOOL CMDIFrameWnd::OnCommand(UINT nID) {
  CCmdUI state(nID);
  state.DoUpdate(this, TRUE);
  if (!state.m_bEnabled) return FALSE;
  return OnCmdMsg(nID, CN_COMMAND, nullptr);
}

void CMDIFrameWnd::SetMessageText(const QString& text) {
  if (text.isEmpty())
    statusBar()->clearMessage();
  else
    statusBar()->showMessage(text);
}

QString CMDIFrameWnd::GetIdleText() const { return m_pIdleLabel->text(); }

BOOL CMDIFrameWnd::OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) {
  if (CMDIChildWnd* pChild = MDIGetActive(); pChild && pChild->OnCmdMsg(nID, nCode, pCmdUI)) return TRUE;
  if (CCmdTarget::OnCmdMsg(nID, nCode, pCmdUI)) return TRUE;
  CWinApp* pApp = AfxGetApp();
  return pApp ? pApp->OnCmdMsg(nID, nCode, pCmdUI) : FALSE;
}

void CMDIFrameWnd::closeEvent(QCloseEvent* event) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp || pApp->m_pMainWnd != this) {
    QMainWindow::closeEvent(event);
    return;
  }
  if (!pApp->SaveAllModified()) {
    event->ignore();
    return;
  }
  pApp->CloseAllDocuments(FALSE);
  event->accept();
  QCoreApplication::quit();
}

void CMDIFrameWnd::ChildFrameClosing(CMDIChildWnd* pFrame) {
  if (!pFrame || m_pActiveChild != pFrame) return;
  m_pActiveChild = nullptr;
  pFrame->OnMDIActivate(FALSE, nullptr, pFrame);
}

void CMDIFrameWnd::OnSubWindowActivated(QMdiSubWindow* pWindow) {
  auto* pNew = dynamic_cast<CMDIChildWnd*>(pWindow);
  // The area reports "none" when the application loses focus too; the current
  // frame stays the active one for the console then.
  if (!pNew && m_pMdiArea->currentSubWindow()) return;
  CMDIChildWnd* pOld = m_pActiveChild;
  if (pNew == pOld) return;
  m_pActiveChild = pNew;
  if (pOld) pOld->OnMDIActivate(FALSE, pNew, pOld);
  if (pNew) pNew->OnMDIActivate(TRUE, pNew, pOld);
  UpdateAllCommands();
}

void CMDIFrameWnd::UpdateAllCommands() {
  // Shortcuts act without a menu opening: keep every entry's state current.
  for (QMenu* pMenu : findChildren<QMenu*>()) UpdateCommandUI(pMenu);
}

void CMDIFrameWnd::OnWindowCascade() { MDICascade(); }

void CMDIFrameWnd::OnWindowTile() { MDITile(); }

void CMDIFrameWnd::OnWindowArrange() { MDIIconArrange(); }

void CMDIFrameWnd::OnViewStatusBar() { statusBar()->setHidden(!statusBar()->isHidden()); }

void CMDIFrameWnd::OnUpdateViewStatusBar(CCmdUI* pCmdUI) {
  // isHidden, not isVisible: the bar of a window not yet shown is still "on".
  pCmdUI->SetCheck(statusBar()->isHidden() ? 0 : 1);
}
