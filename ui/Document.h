#pragma once
// The data of one console window set: a report result, a chart, the manager's
// selection. A document has a title, the path of the file it was opened on, and
// the views that show it; it tells them when it changes (UpdateAllViews).
//
// Ownership: a document made by a template belongs to that template (see
// CMultiDocTemplate) and lives until it is closed: OnCloseDocument closes the
// frames of its views and destroys the document. It is closed by the template's
// frames when the last frame showing it closes, and when its last view goes
// away (m_bAutoDelete). A document made without a template belongs to whoever
// made it; closing such a document only detaches its views.
//
// Views are not owned: they belong to their frames. A view joins with AddView and
// leaves with RemoveView (its destructor does that). User-interface thread only.

#include <QString>
#include <vector>

#include "platform/core/Win32Types.h"
#include "ui/CmdTarget.h"
#include "ui/UiTypes.h"

class CDocTemplate;
class CMDIChildWnd;
class CView;

class CDocument : public CCmdTarget {
  DECLARE_DYNAMIC(CDocument)

 public:
  CDocument();
  ~CDocument() override;

  const QString& GetTitle() const { return m_strTitle; }
  // Also retitles the frames that show the document.
  virtual void SetTitle(const QString& title);
  const QString& GetPathName() const { return m_strPathName; }
  // The title becomes the file's name.
  virtual void SetPathName(const QString& pathName);
  CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

  BOOL IsModified() const { return m_bModified; }
  void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }

  void AddView(CView* pView);
  void RemoveView(CView* pView);
  const std::vector<CView*>& GetViews() const { return m_viewList; }
  // Calls OnUpdate(pSender, lHint, pHint) on every view but pSender.
  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, CObject* pHint = nullptr);

  // A fresh, empty document. The default empties the contents; FALSE fails the
  // creation (the template then drops the document).
  [[nodiscard]] virtual BOOL OnNewDocument();
  // Opens the document on the file at path. The default only checks that the
  // file can be read (a message box says so when it cannot) and empties the
  // contents: documents of this system read their files through their views or
  // data managers, and override this when they read it themselves.
  [[nodiscard]] virtual BOOL OnOpenDocument(const QString& path);
  // Saves the document to path. The default writes nothing and clears the
  // modified flag: documents that own data override it.
  [[nodiscard]] virtual BOOL OnSaveDocument(const QString& path);
  // Detaches the views, closes their frames, empties the contents and, when the
  // document belongs to a template, destroys it: the caller must not touch the
  // document afterwards.
  virtual void OnCloseDocument();
  virtual void DeleteContents();
  // Whether the document may be closed now. The default says yes: nothing in
  // this system is edited in a document and saved by the framework's prompt.
  [[nodiscard]] virtual BOOL SaveModified();
  // Whether pFrame may close now: asks SaveModified when pFrame is the last
  // frame showing the document.
  [[nodiscard]] virtual BOOL CanCloseFrame(CMDIChildWnd* pFrame);
  // Called when a view joined or left; closes the document when the last view
  // left and m_bAutoDelete is set.
  virtual void OnChangedViewList();

  // True when every view of the document is in pFrame.
  bool IsOnlyFrame(const CMDIChildWnd* pFrame) const;

  // When set (the default), losing the last view closes the document.
  BOOL m_bAutoDelete = TRUE;

 private:
  friend class CDocTemplate;

  QString m_strTitle;
  QString m_strPathName;
  CDocTemplate* m_pDocTemplate = nullptr;
  std::vector<CView*> m_viewList;
  BOOL m_bModified = FALSE;
};
