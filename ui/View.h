#pragma once
// A window that shows a document (or part of it) inside a frame. The frame owns
// the view (it is the frame's widget or a child of it); the document only knows
// it. A view is told to show its document once after its frame is built
// (OnInitialUpdate) and again whenever the document changes (OnUpdate).
//
// Commands that reach a view and that it has no handler for go on to its
// document. User-interface thread only.

#include <QWidget>

#include "ui/CmdTarget.h"
#include "ui/UiTypes.h"

class CDocument;
class CMDIChildWnd;
class QPainter;

class CView : public QWidget, public CCmdTarget {
  DECLARE_DYNAMIC(CView)

 public:
  explicit CView(QWidget* parent = nullptr);
  ~CView() override;

  CDocument* GetDocument() const { return m_pDocument; }
  // The frame the view sits in, or null while it has none.
  CMDIChildWnd* GetParentFrame() const;

  // First showing of the document; the default calls OnUpdate(nullptr, 0, nullptr).
  virtual void OnInitialUpdate();
  // The document changed (pSender made the change; lHint and pHint say what,
  // as agreed between the document's views). The default repaints the view.
  virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
  // Paints the view's own drawing; the default draws nothing.
  virtual void OnDraw(QPainter* pDC);

  // The view's handlers, then its document's.
  BOOL OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class CDocument;
  CDocument* m_pDocument = nullptr;
};
