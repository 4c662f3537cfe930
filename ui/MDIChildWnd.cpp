#include "ui/MDIChildWnd.h"

#include <algorithm>
#include <memory>

#include <QCloseEvent>
#include <QMdiArea>

#include "ui/CreateContext.h"
#include "ui/Document.h"
#include "ui/HelpContext.h"
#include "ui/MDIFrameWnd.h"
#include "ui/View.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CMDIChildWnd, CCmdTarget)

CMDIChildWnd::CMDIChildWnd() { setAttribute(Qt::WA_DeleteOnClose); }

CMDIChildWnd::~CMDIChildWnd() = default;

BOOL CMDIChildWnd::LoadFrame(UINT nIDResource, CCreateContext* pContext) {
  m_nIDResource = nIDResource;
  AfxSetHelpContext(this, HID_BASE_RESOURCE + nIDResource);
  if (!OnCreateClient(pContext)) return FALSE;
  if (CWinApp* pApp = AfxGetApp())
    if (auto* pMainFrame = dynamic_cast<CMDIFrameWnd*>(pApp->m_pMainWnd)) {
      pMainFrame->GetMDIClient()->addSubWindow(this);
      // Hidden on purpose: a frame stays invisible until it is activated, even
      // when the main frame is shown after it was added.
      hide();
    }
  return TRUE;
}

CView* CMDIChildWnd::GetActiveView() const { return m_pViewActive; }

void CMDIChildWnd::SetActiveView(CView* pView) { m_pViewActive = pView; }

CDocument* CMDIChildWnd::GetActiveDocument() const {
  return m_pViewActive ? m_pViewActive->GetDocument() : nullptr;
}

CMDIFrameWnd* CMDIChildWnd::GetMDIFrame() const {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* pFrame = dynamic_cast<CMDIFrameWnd*>(w)) return pFrame;
  return nullptr;
}

void CMDIChildWnd::InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible) {
  // findChildren<CView*> would not do: views have no meta-object of their own,
  // so Qt's cast would take any widget for a view.
  for (QWidget* pChild : findChildren<QWidget*>())
    if (auto* pView = dynamic_cast<CView*>(pChild); pView && (!pDoc || pView->GetDocument() == pDoc))
      pView->OnInitialUpdate();
  OnUpdateFrameTitle();
  if (bMakeVisible) ActivateFrame();
}

void CMDIChildWnd::ActivateFrame() {
  // A frame shown for the first time with no real size of its own (its view
  // lays its children out by hand, so the area gave it just a title bar)
  // takes three quarters of the area, as a new document window does.
  QMdiArea* pArea = mdiArea();
  if (pArea && !isVisible() && (width() < 200 || height() < 150)) {
    const QSize area = pArea->viewport()->size();
    resize(std::max(area.width() * 3 / 4, 320), std::max(area.height() * 3 / 4, 200));
  }
  show();
  if (pArea) pArea->setActiveSubWindow(this);
}

void CMDIChildWnd::OnUpdateFrameTitle() {
  if (CDocument* pDoc = GetActiveDocument()) setWindowTitle(pDoc->GetTitle());
}

void CMDIChildWnd::OnMDIActivate(BOOL, CMDIChildWnd*, CMDIChildWnd*) {}

BOOL CMDIChildWnd::OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) {
  if (m_pViewActive && m_pViewActive->OnCmdMsg(nID, nCode, pCmdUI)) return TRUE;
  return CCmdTarget::OnCmdMsg(nID, nCode, pCmdUI);
}

BOOL CMDIChildWnd::OnCreateClient(CCreateContext* pContext) {
  CView* pView = CreateView(pContext);
  if (!pView) return FALSE;
  setWidget(pView);
  SetActiveView(pView);
  return TRUE;
}

CView* CMDIChildWnd::CreateView(CCreateContext* pContext) {
  if (!pContext || !pContext->m_pNewViewClass) return nullptr;
  std::unique_ptr<CObject> object(pContext->m_pNewViewClass->CreateObject());
  auto* pView = dynamic_cast<CView*>(object.get());
  if (!pView) return nullptr;
  object.release();
  if (pContext->m_pCurrentDoc) pContext->m_pCurrentDoc->AddView(pView);
  return pView;
}

void CMDIChildWnd::closeEvent(QCloseEvent* event) {
  CDocument* pDoc = GetActiveDocument();
  if (pDoc && !pDoc->CanCloseFrame(this)) {
    event->ignore();
    return;
  }
  // The last frame of a document takes the document with it. OnCloseDocument
  // closes this frame again, which Qt ignores while this close is under way.
  if (pDoc && pDoc->m_bAutoDelete && pDoc->IsOnlyFrame(this)) pDoc->OnCloseDocument();
  QMdiSubWindow::closeEvent(event);
  if (CMDIFrameWnd* pMainFrame = GetMDIFrame(); pMainFrame && event->isAccepted())
    pMainFrame->ChildFrameClosing(this);
}
