#include "hosts/VNMgr/VNMgrApp.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstdio>

#include "console/entry/KSEntry.h"
#include "hosts/VNMgr/MainFrame.h"
#include "platform/endpoints/MachineServiceStarter.h"
#include "ui/CommandIds.h"
#include "ui/MessageBox.h"

CVNMgrApp::CVNMgrApp() : CWinApp(QStringLiteral("VNMgr")) {
  m_strAppName = QStringLiteral("Vornal");
  m_strHelpFilePath = QStringLiteral("VN4.hlp");
  MapCommand(ID_APP_ABOUT, &CVNMgrApp::OnAppAbout);
}

CVNMgrApp::~CVNMgrApp() { ExitInstance(); }

BOOL CVNMgrApp::InitInstance() {
  // The local machine's service (started here when nobody has); without it the
  // console still runs, only other machines cannot reach this one.
  if (std::string why; vn::EnsureLocalMachineService(&why) != ERROR_SUCCESS)
    std::fprintf(stderr, "VNMgr: the machine service is not running: %s\n", why.c_str());
  InitializeKSDLL();
  m_bInitialized = true;
  RegisterDocTemplates();

  m_pMainFrame = std::make_unique<CMainFrame>();
  m_pMainWnd = m_pMainFrame.get();
  m_pMainFrame->show();
  return TRUE;
}

int CVNMgrApp::ExitInstance() {
  if (!m_bInitialized) return 0;
  m_bInitialized = false;
  // Module windows first, then the main frame, then the module itself.
  CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  m_pMainWnd = nullptr;
  m_pMainFrame.reset();
  TerminateKSDLL();
  return 0;
}

void CVNMgrApp::RegisterDocTemplates() {
  // The host's own windows, made from the module's exported classes, each
  // added with AddDocTemplate as they arrive in the module:
  //   400 manager:  CKSMgrDoc in a CKSMgrFrame with a CKSTreeView
  //   401 result:   CFastReadDoc in a CKSMDIChildWnd with a CFastReadView; also
  //                 stored in pKSRptDocTemplate, through which the module opens
  //                 finished results
  //   402 schedule: CKSScheDoc in a CKSMDIChildWnd with a CKSScheView
  // None of these classes exists yet, so there is nothing to register and
  // pKSRptDocTemplate stays null.
}

void CVNMgrApp::OnAppAbout() {
  AfxMessageBox(QStringLiteral("Vornal 4.0\n\nDisk-space reports for the machines of your network."),
                MB_OK | MB_ICONINFORMATION);
}
