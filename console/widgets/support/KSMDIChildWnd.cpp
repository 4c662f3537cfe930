#include "console/widgets/support/KSMDIChildWnd.h"

#include <algorithm>

#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CKSMDIChildWnd, CMDIChildWnd)

namespace {

constexpr char kModuleHelpFile[] = "VN4.hlp";

// The application's help file path up to and including its last separator,
// followed by the module's help file name.
QString ModuleHelpPath(const QString& appHelpPath) {
  const qsizetype slash =
      std::max(appHelpPath.lastIndexOf(QLatin1Char('\\')), appHelpPath.lastIndexOf(QLatin1Char('/')));
  return appHelpPath.left(slash + 1) + QLatin1String(kModuleHelpFile);
}

}  // namespace

CKSMDIChildWnd::CKSMDIChildWnd() = default;

CKSMDIChildWnd::~CKSMDIChildWnd() = default;

BOOL CKSMDIChildWnd::LoadFrame(UINT nIDResource, CCreateContext* pContext) {
  if (!CMDIChildWnd::LoadFrame(nIDResource, pContext)) return FALSE;
  const CWinApp* pApp = AfxGetApp();
  m_strHelpFilePath = ModuleHelpPath(pApp ? pApp->m_strHelpFilePath : QString());
  return TRUE;
}

void CKSMDIChildWnd::OnMDIActivate(BOOL bActivate, CMDIChildWnd* pActivateWnd, CMDIChildWnd* pDeactivateWnd) {
  CMDIChildWnd::OnMDIActivate(bActivate, pActivateWnd, pDeactivateWnd);
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return;
  if (bActivate) {
    m_strSavedHelpPath = pApp->m_strHelpFilePath;
    pApp->m_strHelpFilePath = m_strHelpFilePath;
  } else if (pDeactivateWnd == this) {
    pApp->m_strHelpFilePath = m_strSavedHelpPath;
  }
}
