#include "ui/CmdTarget.h"

#include <algorithm>

#include "ui/CmdUI.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

CCmdTarget::CCmdTarget() = default;
CCmdTarget::~CCmdTarget() = default;

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) {
  if (nCode == CN_UPDATE_COMMAND_UI) {
    if (!pCmdUI) return FALSE;
    const auto it = std::find_if(m_updates.begin(), m_updates.end(),
                                 [nID](const UpdateEntry& e) { return nID >= e.first && nID <= e.last; });
    if (it == m_updates.end()) return FALSE;
    pCmdUI->m_bContinueRouting = FALSE;
    it->update(pCmdUI);
    return pCmdUI->m_bContinueRouting ? FALSE : TRUE;
  }
  const auto it = std::find_if(m_commands.begin(), m_commands.end(),
                               [nID](const CommandEntry& e) { return nID >= e.first && nID <= e.last; });
  if (it == m_commands.end()) return FALSE;
  if (nCode == CN_COMMAND) {
    // The handler may destroy this object (a Close command does): copy what
    // the call needs and touch no member afterwards.
    const auto run = it->run;
    run(nID);
  }
  return TRUE;
}
