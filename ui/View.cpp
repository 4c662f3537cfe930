#include "ui/View.h"

#include <QPainter>

#include "ui/Document.h"
#include "ui/MDIChildWnd.h"

IMPLEMENT_DYNAMIC(CView, CCmdTarget)

CView::CView(QWidget* parent) : QWidget(parent) {}

CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}

CMDIChildWnd* CView::GetParentFrame() const {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* pFrame = dynamic_cast<CMDIChildWnd*>(w)) return pFrame;
  return nullptr;
}

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

void CView::OnUpdate(CView*, LPARAM, CObject*) { update(); }

void CView::OnDraw(QPainter*) {}

BOOL CView::OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) {
  if (CCmdTarget::OnCmdMsg(nID, nCode, pCmdUI)) return TRUE;
  return m_pDocument ? m_pDocument->OnCmdMsg(nID, nCode, pCmdUI) : FALSE;
}

void CView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  OnDraw(&painter);
}
