#include "ui/DocTemplate.h"

#include <QStringList>

#include "ui/CreateContext.h"
#include "ui/Document.h"
#include "ui/DynLinkLibrary.h"
#include "ui/MDIChildWnd.h"

IMPLEMENT_DYNAMIC(CDocTemplate, CCmdTarget)

CDocTemplate::CDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass, const CRuntimeClass* pFrameClass,
                           const CRuntimeClass* pViewClass)
    : m_nIDResource(nIDResource), m_pDocClass(pDocClass), m_pFrameClass(pFrameClass), m_pViewClass(pViewClass) {}

CDocTemplate::~CDocTemplate() = default;

const QString& CDocTemplate::DocStrings() const {
  if (!m_bDocStringsLoaded) m_bDocStringsLoaded = AfxLoadString(m_nIDResource, m_strDocStrings) != FALSE;
  return m_strDocStrings;
}

BOOL CDocTemplate::GetDocString(QString& rString, DocStringIndex index) const {
  const QStringList fields = DocStrings().split(QLatin1Char('\n'));
  rString = static_cast<int>(index) < fields.size() ? fields.at(static_cast<int>(index)) : QString();
  return rString.isEmpty() ? FALSE : TRUE;
}

CDocument* CDocTemplate::CreateNewDocument() {
  if (!m_pDocClass) return nullptr;
  std::unique_ptr<CObject> object(m_pDocClass->CreateObject());
  auto* pDoc = dynamic_cast<CDocument*>(object.get());
  if (!pDoc) return nullptr;
  object.release();
  AddDocument(std::unique_ptr<CDocument>(pDoc));
  return pDoc;
}

CMDIChildWnd* CDocTemplate::CreateNewFrame(CDocument* pDoc) {
  if (!m_pFrameClass) return nullptr;
  std::unique_ptr<CObject> object(m_pFrameClass->CreateObject());
  auto* pFrame = dynamic_cast<CMDIChildWnd*>(object.get());
  if (!pFrame) return nullptr;
  CCreateContext context;
  context.m_pNewViewClass = m_pViewClass;
  context.m_pCurrentDoc = pDoc;
  context.m_pNewDocTemplate = this;
  if (!pFrame->LoadFrame(m_nIDResource, &context)) return nullptr;  // `object` deletes the frame
  object.release();
  return pFrame;
}

void CDocTemplate::InitialUpdateFrame(CMDIChildWnd* pFrame, CDocument* pDoc, BOOL bMakeVisible) {
  pFrame->InitialUpdateFrame(pDoc, bMakeVisible);
}

void CDocTemplate::CloseAllDocuments(BOOL) {
  for (CDocument* pDoc : GetDocuments()) pDoc->OnCloseDocument();
}

BOOL CDocTemplate::SaveAllModified() {
  for (CDocument* pDoc : GetDocuments())
    if (!pDoc->SaveModified()) return FALSE;
  return TRUE;
}

void CDocTemplate::SetDocTemplate(CDocument* pDoc, CDocTemplate* pTemplate) { pDoc->m_pDocTemplate = pTemplate; }
