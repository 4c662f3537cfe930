#include "console/widgets/entry/KSEntry.h"

#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSModule.h"
#include "console/widgets/graphs/GraphDoc.h"
#include "console/widgets/graphs/GraphView.h"
#include "console/widgets/grid/GridLibrary.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "platform/machine/Machine.h"
#include "ui/DynLinkLibrary.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

BOOL bKSConfirm = TRUE;
BOOL bVNPopupWizard = TRUE;
BOOL bShowReportInfo = TRUE;
CMultiDocTemplate* pGraphDocTemplate = nullptr;
CMultiDocTemplate* pKSRptDocTemplate = nullptr;

namespace {

constexpr char kManagementSection[] = "Management";
constexpr char kConfirmDeleteEntry[] = "Confirm_Delete";
constexpr char kVNMgrSection[] = "VNMgr";
constexpr char kShowReportInfoEntry[] = "ShowReportInfo";
constexpr char kWizardPopupEntry[] = "VNWIZARD_POPUP";

}  // namespace

void InitializeKSDLL() {
  vn::console::InitGridLibrary();

  CWinApp* pApp = AfxGetApp();
  if (!pApp) return;  // called out of order: nothing to join, flags keep their defaults

  new CDynLinkLibrary(KSDLL);  // the application owns it from here on

  pGraphDocTemplate = new CMultiDocTemplate(vn::console::IDR_GRAPHTYPE, RUNTIME_CLASS(CGraphDoc),
                                            RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CGraphView));
  pApp->AddDocTemplate(pGraphDocTemplate);

  bKSConfirm = static_cast<BOOL>(pApp->GetProfileInt(kManagementSection, kConfirmDeleteEntry, 1));
  bShowReportInfo = static_cast<BOOL>(pApp->GetProfileInt(kVNMgrSection, kShowReportInfoEntry, 1));
  bVNPopupWizard = static_cast<BOOL>(pApp->GetProfileInt(kVNMgrSection, kWizardPopupEntry, 1));
}

void TerminateKSDLL() {
  vn::console::TerminateGridLibrary();

  CWinApp* pApp = AfxGetApp();
  if (!pApp) return;
  // Settings are kept as best the profile can: one that cannot be written
  // costs the next start its choice, and there is nobody left to tell.
  (void)pApp->WriteProfileInt(kVNMgrSection, kShowReportInfoEntry, bShowReportInfo);
  (void)pApp->WriteProfileInt(kVNMgrSection, kWizardPopupEntry, bVNPopupWizard);
}

void KSGettingStarted() {
  if (CWinApp* pApp = AfxGetApp())
    pApp->WinHelp(vn::console::kHelpCommandBase + vn::console::ID_HELP_GETTING_STARTED, HELP_CONTEXT);
}

void ShowVNWizard(BOOL* pShowAtStartup) {
  // A name of up to 15 characters, as the wizard's location; the empty string
  // when it cannot be had.
  char name[16] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) name[0] = '\0';
  (void)RunReportWizard(AfxGetMainWnd(), QString::fromLatin1(name), pShowAtStartup);
}
