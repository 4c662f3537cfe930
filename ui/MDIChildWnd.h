#pragma once
// A document window inside the main frame's MDI area: a subwindow holding the
// view (or, for frames that build their own client area, the views) of one
// document. Templates create frames from their frame class and call LoadFrame.
//
// The frame deletes itself (and its views) when it closes. Closing the last
// frame of a document closes the document. The main frame tells a frame when it
// becomes active and when it stops being active (OnMDIActivate). Commands
// reaching the frame go to its active view first. User-interface thread only.

#include <QMdiSubWindow>
#include <QPointer>

#include "ui/CmdTarget.h"

class CDocument;
class CMDIFrameWnd;
class CView;
struct CCreateContext;

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget {
  DECLARE_DYNCREATE(CMDIChildWnd)

 public:
  CMDIChildWnd();
  ~CMDIChildWnd() override;

  // Builds the client area for pContext (OnCreateClient) and puts the frame,
  // hidden, into the application main frame's MDI area when there is one.
  // nIDResource is the template's resource id. FALSE when the client area could
  // not be made; the caller then deletes the frame.
  [[nodiscard]] virtual BOOL LoadFrame(UINT nIDResource, CCreateContext* pContext);
  UINT GetResourceId() const { return m_nIDResource; }

  CView* GetActiveView() const;
  void SetActiveView(CView* pView);
  CDocument* GetActiveDocument() const;
  // The main frame whose MDI area holds this frame, or null.
  CMDIFrameWnd* GetMDIFrame() const;

  // Gives every view in the frame its OnInitialUpdate, sets the title, and
  // shows and activates the frame when bMakeVisible is set.
  virtual void InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible);
  // Shows the frame and makes it the active one of its MDI area.
  virtual void ActivateFrame();
  // Sets the window title from the document's title.
  virtual void OnUpdateFrameTitle();
  // The frame became active (bActivate) or stopped being active.
  virtual void OnMDIActivate(BOOL bActivate, CMDIChildWnd* pActivateWnd, CMDIChildWnd* pDeactivateWnd);

  // The active view's handlers (and so its document's), then the frame's.
  BOOL OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) override;

 protected:
  // Builds the client area. The default creates one view of the context's
  // class, makes it the frame's widget and its active view.
  [[nodiscard]] virtual BOOL OnCreateClient(CCreateContext* pContext);
  // A new view of the context's view class joined to the context's document;
  // the caller gives it a parent (which then owns it). Null when the class
  // does not make a view.
  CView* CreateView(CCreateContext* pContext);

  void closeEvent(QCloseEvent* event) override;

 private:
  QPointer<CView> m_pViewActive;
  UINT m_nIDResource = 0;
};
