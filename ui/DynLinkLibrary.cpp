#include "ui/DynLinkLibrary.h"

#include "ui/ExtensionModule.h"
#include "ui/HelpFileInfo.h"
#include "ui/WinApp.h"

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state) : m_state(state) {
  if (CWinApp* pApp = AfxGetApp(); pApp && state.bInitialized) pApp->AddLibrary(this);
}

CDynLinkLibrary::~CDynLinkLibrary() {
  if (CWinApp* pApp = AfxGetApp()) pApp->RemoveLibrary(this);
}

BOOL AfxLoadString(UINT nID, QString& rString) {
  rString.clear();
  const CWinApp* pApp = AfxGetApp();
  if (!pApp) return FALSE;
  for (const CDynLinkLibrary* pLibrary : pApp->GetLibraries()) {
    const AFX_EXTENSION_MODULE& module = pLibrary->GetModule();
    if (!module.pfnLoadString || (module.pfnHasString && !module.pfnHasString(nID))) continue;
    const std::string_view text = module.pfnLoadString(nID);
    if (text.empty() && !module.pfnHasString) continue;
    rString = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return TRUE;
  }
  return FALSE;
}

const HelpFileInfo* AfxFindHelpFile(const QString& path) {
  const CWinApp* pApp = AfxGetApp();
  if (!pApp) return nullptr;
  for (const CDynLinkLibrary* pLibrary : pApp->GetLibraries()) {
    const HelpFileInfo* pHelp = pLibrary->GetModule().pHelpFile;
    if (pHelp && (path.isEmpty() || pHelp->Matches(path))) return pHelp;
  }
  return nullptr;
}
