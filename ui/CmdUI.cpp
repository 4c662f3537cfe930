#include "ui/CmdUI.h"

#include <QAction>
#include <QMenu>

#include "ui/CmdTarget.h"

CCmdUI::CCmdUI(UINT nID, QAction* pAction) : m_nID(nID), m_pAction(pAction) {}

CCmdUI::~CCmdUI() = default;

void CCmdUI::Enable(BOOL bOn) {
  m_bEnabled = bOn ? TRUE : FALSE;
  m_bEnableChanged = TRUE;
  if (m_pAction) m_pAction->setEnabled(m_bEnabled != FALSE);
}

void CCmdUI::SetCheck(int nCheck) {
  m_nCheck = nCheck;
  if (m_pAction) {
    if (nCheck != 0) m_pAction->setCheckable(true);
    m_pAction->setChecked(nCheck != 0);
  }
}

void CCmdUI::SetText(const QString& text) {
  m_strText = text;
  if (m_pAction) m_pAction->setText(text);
}

BOOL CCmdUI::DoUpdate(CCmdTarget* pTarget, BOOL bDisableIfNoHandler) {
  if (!pTarget) return FALSE;
  m_bEnableChanged = FALSE;
  const BOOL bHandled = pTarget->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this);
  if (bDisableIfNoHandler && !m_bEnableChanged) Enable(pTarget->OnCmdMsg(m_nID, CN_COMMAND_PROBE, nullptr));
  return bHandled;
}

QAction* AddCommandAction(QMenu& menu, CCmdTarget* pTarget, UINT nID, const QString& text) {
  QAction* action = menu.addAction(text);
  action->setData(nID);
  CCmdUI state(nID, action);
  state.DoUpdate(pTarget, TRUE);
  QObject::connect(action, &QAction::triggered, action, [pTarget, nID] { pTarget->OnCmdMsg(nID, CN_COMMAND, nullptr); });
  return action;
}

BOOL RunCommandIfEnabled(CCmdTarget* pTarget, UINT nID) {
  CCmdUI state(nID);
  if (!state.DoUpdate(pTarget, TRUE) || !state.m_bEnabled) return FALSE;
  pTarget->OnCmdMsg(nID, CN_COMMAND, nullptr);
  return TRUE;
}
