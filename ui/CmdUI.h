#pragma once
// The state of one command while its update handler decides it: enabled,
// checked, text. With an action behind it (a menu entry), the state goes
// straight to the action; without one (a check made before a command runs, or a
// test), it is only recorded in the members.
//
// DoUpdate asks a chain of command targets for the state; a command that has
// neither an update handler that enables it nor a command handler anywhere in
// the chain ends up disabled. User-interface thread only; the action, when
// given, must outlive the CCmdUI.

#include <QString>

#include "platform/core/Win32Types.h"

class CCmdTarget;
class QAction;
class QMenu;

class CCmdUI {
 public:
  explicit CCmdUI(UINT nID = 0, QAction* pAction = nullptr);
  virtual ~CCmdUI();

  virtual void Enable(BOOL bOn = TRUE);
  // 0 unchecked, 1 checked, 2 indeterminate (shown checked).
  virtual void SetCheck(int nCheck = 1);
  virtual void SetText(const QString& text);
  // Called by an update handler that wants the next target of the chain to
  // decide as well.
  void ContinueRouting() { m_bContinueRouting = TRUE; }

  // Lets pTarget (and whatever it routes to) set this command's state. When
  // bDisableIfNoHandler is set and no update handler called Enable, the command
  // is enabled exactly when some target has a command handler for it. Returns
  // TRUE when an update handler took the command.
  BOOL DoUpdate(CCmdTarget* pTarget, BOOL bDisableIfNoHandler);

  UINT m_nID;
  QAction* m_pAction;
  BOOL m_bEnabled = TRUE;
  int m_nCheck = 0;
  QString m_strText;
  BOOL m_bEnableChanged = FALSE;
  BOOL m_bContinueRouting = FALSE;
};

// Adds to `menu` an entry for command nID, set now as pTarget's update
// handlers say (disabled without a handler), that sends the command to
// pTarget when chosen. The entry carries nID as its data.
QAction* AddCommandAction(QMenu& menu, CCmdTarget* pTarget, UINT nID, const QString& text);

// Sends command nID to pTarget when an update handler there takes it and
// enables it (as a key of the command does). TRUE when it ran.
BOOL RunCommandIfEnabled(CCmdTarget* pTarget, UINT nID);
