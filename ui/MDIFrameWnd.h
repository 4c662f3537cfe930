#pragma once
// The host's main window: an MDI area for the document frames, a menu bar and a
// status bar whose idle text is "Ready".
//
// Menus are built with AddMenu/AddCommand: every entry carries a command id.
// Choosing an entry routes the id through OnCmdMsg: the active frame (its
// active view, that view's document, the frame itself), then this window, then
// the application. Just before a menu opens, every entry in it asks the same
// chain for its state; an entry nobody handles is disabled. A command whose
// state says disabled is not run, even from a shortcut.
//
// The window handles the Window menu (cascade, tile, arrange) and the status
// bar toggle itself. Closing the application's main window closes every
// document and ends the event loop. User-interface thread only; the window owns
// its menus, actions and the MDI area.

#include <QMainWindow>
#include <QPointer>

#include "ui/CmdTarget.h"
#include "ui/WindowMessages.h"

class CCmdUI;
class CDocument;
class CMDIChildWnd;
class CView;
class QAction;
class QKeySequence;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

class CMDIFrameWnd : public QMainWindow, public CCmdTarget {
  DECLARE_DYNAMIC(CMDIFrameWnd)

 public:
  CMDIFrameWnd();
  ~CMDIFrameWnd() override;

  QMdiArea* GetMDIClient() const { return m_pMdiArea; }
  // The current document frame (also while the application is inactive), or null.
  CMDIChildWnd* MDIGetActive() const;
  CView* GetActiveView() const;
  CDocument* GetActiveDocument() const;

  void MDICascade();
  void MDITile();
  // Lines the minimised frames up along the bottom of the MDI area.
  void MDIIconArrange();

  // A new menu in the menu bar whose entries are updated before it opens.
  QMenu* AddMenu(const QString& title);
  // A new entry of pMenu (a submenu made with pMenu->addMenu is fine too) that
  // carries command nID. The status bar shows the command's prompt (the text
  // of string nID up to its first newline) while the entry is highlighted.
  QAction* AddCommand(QMenu* pMenu, UINT nID, const QString& text, const QKeySequence& shortcut);
  QAction* AddCommand(QMenu* pMenu, UINT nID, const QString& text);
  // The first entry carrying nID, or null.
  QAction* FindCommand(UINT nID) const;
  // Asks the command chain for the state of every entry of pMenu.
  void UpdateCommandUI(QMenu* pMenu);
  // Runs command nID through the command chain unless its state says disabled.
  // TRUE when a handler ran it.
  BOOL OnCommand(UINT nID);

  // Shows text in the status bar; an empty text brings back the idle text.
  void SetMessageText(const QString& text);
  QString GetIdleText() const;

  // The active frame, then this window's own handlers, then the application's.
  BOOL OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) override;

  // The window's handle for messages from other threads (WindowMessages.h);
  // they reach WindowProc on the user-interface thread.
  HWND GetSafeHwnd() const { return m_handle.GetSafeHwnd(); }
  // Answers a message sent or posted to GetSafeHwnd(); 0 when not handled.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Called by a document frame that is closing: if it is the active one, it is
  // told it is no longer active while it can still act on that.
  void ChildFrameClosing(CMDIChildWnd* pFrame);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void WireMenu(QMenu* pMenu);
  void OnSubWindowActivated(QMdiSubWindow* pWindow);
  void UpdateAllCommands();
  void OnWindowCascade();
  void OnWindowTile();
  void OnWindowArrange();
  void OnViewStatusBar();
  void OnUpdateViewStatusBar(CCmdUI* pCmdUI);

  QMdiArea* m_pMdiArea;
  QLabel* m_pIdleLabel;
  QPointer<CMDIChildWnd> m_pActiveChild;
  CWindowHandle m_handle;
};
