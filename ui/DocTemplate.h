#pragma once
// What a kind of console window is made of: a resource id (whose string holds
// the document strings), a document class, a frame class and a view class.
// Given a file path, a template creates the document, its frame and view, opens
// the file and shows the window.
//
// The document string is the resource string nIDResource, fields separated by
// newlines: window title, document name, file-new name, filter name, filter
// extension, file type id, file type name. It is read from the resource chain
// (AfxLoadString) when first asked for, so a template may be made before the
// module holding its string has joined the chain.
//
// Templates belong to the application once added (CWinApp::AddDocTemplate) and
// own their documents. User-interface thread only.

#include <QString>
#include <memory>
#include <vector>

#include "ui/CmdTarget.h"

class CDocument;
class CMDIChildWnd;

class CDocTemplate : public CCmdTarget {
  DECLARE_DYNAMIC(CDocTemplate)

 public:
  enum DocStringIndex {
    windowTitle,
    docName,
    fileNewName,
    filterName,
    filterExt,
    regFileTypeId,
    regFileTypeName,
  };

  ~CDocTemplate() override;

  UINT GetResourceId() const { return m_nIDResource; }
  const CRuntimeClass* GetDocClass() const { return m_pDocClass; }
  const CRuntimeClass* GetFrameClass() const { return m_pFrameClass; }
  const CRuntimeClass* GetViewClass() const { return m_pViewClass; }

  // Field `index` of the document string; FALSE (and an empty text) when the
  // field is empty or missing.
  virtual BOOL GetDocString(QString& rString, DocStringIndex index) const;

  // Opens a window on the file at lpszPathName, or on a new document when the
  // path is empty. The window is shown and activated when bMakeVisible is set.
  // Returns the document (owned by this template), or null when the document,
  // frame or view could not be made or the document refused the file.
  virtual CDocument* OpenDocumentFile(const QString& lpszPathName, BOOL bMakeVisible = TRUE) = 0;

  // A new document of the document class, added to this template.
  virtual CDocument* CreateNewDocument();
  // A new frame of the frame class with its client area built for pDoc; the
  // frame is in the main frame's MDI area (hidden) and owns itself from now on.
  virtual CMDIChildWnd* CreateNewFrame(CDocument* pDoc);
  virtual void InitialUpdateFrame(CMDIChildWnd* pFrame, CDocument* pDoc, BOOL bMakeVisible = TRUE);
  // Gives a new document its title: the document name and a counter.
  virtual void SetDefaultTitle(CDocument* pDoc) = 0;

  // Takes ownership of pDoc.
  virtual void AddDocument(std::unique_ptr<CDocument> pDoc) = 0;
  // Hands pDoc's ownership back (null when pDoc is not this template's).
  virtual std::unique_ptr<CDocument> RemoveDocument(CDocument* pDoc) = 0;
  virtual std::vector<CDocument*> GetDocuments() const = 0;
  // Closes every document of this template (and so their windows).
  void CloseAllDocuments(BOOL bEndSession);
  [[nodiscard]] BOOL SaveAllModified();

 protected:
  CDocTemplate(UINT nIDResource, const CRuntimeClass* pDocClass, const CRuntimeClass* pFrameClass,
               const CRuntimeClass* pViewClass);

  // Ties pDoc to this template, or unties it (pTemplate null).
  static void SetDocTemplate(CDocument* pDoc, CDocTemplate* pTemplate);

  const UINT m_nIDResource;
  const CRuntimeClass* const m_pDocClass;
  const CRuntimeClass* const m_pFrameClass;
  const CRuntimeClass* const m_pViewClass;

 private:
  const QString& DocStrings() const;

  mutable QString m_strDocStrings;
  mutable bool m_bDocStringsLoaded = false;
};
