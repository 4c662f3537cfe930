#include "ui/Document.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include "ui/DocTemplate.h"
#include "ui/MDIChildWnd.h"
#include "ui/MessageBox.h"
#include "ui/View.h"

IMPLEMENT_DYNAMIC(CDocument, CCmdTarget)

CDocument::CDocument() = default;

CDocument::~CDocument() {
  // A document destroyed while views still show it (its template went first)
  // leaves them without a document rather than with a dangling one.
  for (CView* pView : m_viewList) pView->m_pDocument = nullptr;
}

void CDocument::SetTitle(const QString& title) {
  m_strTitle = title;
  std::vector<CMDIChildWnd*> frames;
  for (CView* pView : m_viewList)
    if (CMDIChildWnd* pFrame = pView->GetParentFrame();
        pFrame && std::find(frames.begin(), frames.end(), pFrame) == frames.end())
      frames.push_back(pFrame);
  for (CMDIChildWnd* pFrame : frames) pFrame->OnUpdateFrameTitle();
}

void CDocument::SetPathName(const QString& pathName) {
  m_strPathName = pathName;
  SetTitle(QFileInfo(pathName).fileName());
}

void CDocument::AddView(CView* pView) {
  if (!pView || pView->m_pDocument == this) return;
  if (pView->m_pDocument) pView->m_pDocument->RemoveView(pView);
  m_viewList.push_back(pView);
  pView->m_pDocument = this;
  OnChangedViewList();
}

void CDocument::RemoveView(CView* pView) {
  const auto it = std::find(m_viewList.begin(), m_viewList.end(), pView);
  if (it == m_viewList.end()) return;
  m_viewList.erase(it);
  pView->m_pDocument = nullptr;
  OnChangedViewList();  // may destroy this document: nothing after it
}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint, CObject* pHint) {
  // A view's update may add or remove views; walk a copy and skip the gone.
  const std::vector<CView*> views = m_viewList;
  for (CView* pView : views)
    if (pView != pSender && std::find(m_viewList.begin(), m_viewList.end(), pView) != m_viewList.end())
      pView->OnUpdate(pSender, lHint, pHint);
}

BOOL CDocument::OnNewDocument() {
  DeleteContents();
  m_strPathName.clear();
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnOpenDocument(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    AfxMessageBox(QStringLiteral("Cannot open %1.\n%2").arg(path, file.errorString()), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  DeleteContents();
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnSaveDocument(const QString&) {
  SetModifiedFlag(FALSE);
  return TRUE;
}

void CDocument::OnCloseDocument() {
  // Detach first, so that neither closing frames nor destroying views comes
  // back to this document.
  const std::vector<CView*> views = std::move(m_viewList);
  m_viewList.clear();
  std::vector<CMDIChildWnd*> frames;
  for (CView* pView : views) {
    pView->m_pDocument = nullptr;
    if (CMDIChildWnd* pFrame = pView->GetParentFrame();
        pFrame && std::find(frames.begin(), frames.end(), pFrame) == frames.end())
      frames.push_back(pFrame);
  }
  // A frame already closing (the one whose close brought us here) ignores this.
  for (CMDIChildWnd* pFrame : frames) pFrame->close();
  DeleteContents();
  if (m_pDocTemplate) {
    std::unique_ptr<CDocument> self = m_pDocTemplate->RemoveDocument(this);
    // `self` destroys this document on return.
  }
}

void CDocument::DeleteContents() {}

BOOL CDocument::SaveModified() { return TRUE; }

BOOL CDocument::CanCloseFrame(CMDIChildWnd* pFrame) { return IsOnlyFrame(pFrame) ? SaveModified() : TRUE; }

void CDocument::OnChangedViewList() {
  if (m_viewList.empty() && m_bAutoDelete) OnCloseDocument();
}

bool CDocument::IsOnlyFrame(const CMDIChildWnd* pFrame) const {
  return std::all_of(m_viewList.begin(), m_viewList.end(),
                     [pFrame](const CView* pView) { return pView->GetParentFrame() == pFrame; });
}
