#pragma once
// A template whose documents each get windows of their own, any number at a
// time, inside the main frame's MDI area (see CDocTemplate). Documents opened
// without a file are titled after the document name with a counter ("Graph1",
// "Graph2", ...). The template owns its documents; a document leaves the list
// (and is destroyed) when it closes.

#include <memory>
#include <vector>

#include "ui/DocTemplate.h"

class CMultiDocTemplate : public CDocTemplate {
  DECLARE_DYNAMIC(CMultiDocTemplate)

 public:
  CMultiDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass, const CRuntimeClass* pFrameClass,
                    const CRuntimeClass* pViewClass);
  ~CMultiDocTemplate() override;

  CDocument* OpenDocumentFile(const QString& lpszPathName, BOOL bMakeVisible = TRUE) override;
  void SetDefaultTitle(CDocument* pDoc) override;

  void AddDocument(std::unique_ptr<CDocument> pDoc) override;
  std::unique_ptr<CDocument> RemoveDocument(CDocument* pDoc) override;
  std::vector<CDocument*> GetDocuments() const override;

 private:
  std::vector<std::unique_ptr<CDocument>> m_docList;
  UINT m_nUntitledCount = 0;
};
