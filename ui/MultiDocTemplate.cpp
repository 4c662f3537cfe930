#include "ui/MultiDocTemplate.h"

#include <algorithm>

#include "ui/Document.h"
#include "ui/MDIChildWnd.h"
#include "ui/WaitCursor.h"

IMPLEMENT_DYNAMIC(CMultiDocTemplate, CDocTemplate)

CMultiDocTemplate::CMultiDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass,
                                     const CRuntimeClass* pFrameClass, const CRuntimeClass* pViewClass)
    : CDocTemplate(nIDResource, pDocClass, pFrameClass, pViewClass) {}

CMultiDocTemplate::~CMultiDocTemplate() {
  // Documents still open die with the template; their views stay with their
  // frames, without a document.
  for (auto& pDoc : m_docList) SetDocTemplate(pDoc.get(), nullptr);
}

CDocument* CMultiDocTemplate::OpenDocumentFile(const QString& lpszPathName, BOOL bMakeVisible) {
  CDocument* pDoc = CreateNewDocument();
  if (!pDoc) return nullptr;

  // While the frame is built, a view that comes and goes must not close the
  // document under us.
  const BOOL bAutoDelete = pDoc->m_bAutoDelete;
  pDoc->m_bAutoDelete = FALSE;
  CMDIChildWnd* pFrame = CreateNewFrame(pDoc);
  pDoc->m_bAutoDelete = bAutoDelete;
  if (!pFrame) {
    RemoveDocument(pDoc);  // destroys it
    return nullptr;
  }

  BOOL bOpened = FALSE;
  if (lpszPathName.isEmpty()) {
    SetDefaultTitle(pDoc);
    bOpened = pDoc->OnNewDocument();
    if (bOpened) ++m_nUntitledCount;
  } else {
    CWaitCursor wait;
    bOpened = pDoc->OnOpenDocument(lpszPathName);
    if (bOpened) pDoc->SetPathName(lpszPathName);
  }
  if (!bOpened) {
    // The frame goes first (taking its views), then the document.
    pDoc->m_bAutoDelete = FALSE;
    delete pFrame;
    RemoveDocument(pDoc);
    return nullptr;
  }

  InitialUpdateFrame(pFrame, pDoc, bMakeVisible);
  return pDoc;
}

void CMultiDocTemplate::SetDefaultTitle(CDocument* pDoc) {
  QString name;
  if (!GetDocString(name, docName)) name = QStringLiteral("Untitled");
  pDoc->SetTitle(name + QString::number(m_nUntitledCount + 1));
}

void CMultiDocTemplate::AddDocument(std::unique_ptr<CDocument> pDoc) {
  SetDocTemplate(pDoc.get(), this);
  m_docList.push_back(std::move(pDoc));
}

std::unique_ptr<CDocument> CMultiDocTemplate::RemoveDocument(CDocument* pDoc) {
  const auto it =
      std::find_if(m_docList.begin(), m_docList.end(), [pDoc](const auto& p) { return p.get() == pDoc; });
  if (it == m_docList.end()) return nullptr;
  std::unique_ptr<CDocument> owned = std::move(*it);
  m_docList.erase(it);
  SetDocTemplate(owned.get(), nullptr);
  return owned;
}

std::vector<CDocument*> CMultiDocTemplate::GetDocuments() const {
  std::vector<CDocument*> docs;
  docs.reserve(m_docList.size());
  for (const auto& pDoc : m_docList) docs.push_back(pDoc.get());
  return docs;
}
