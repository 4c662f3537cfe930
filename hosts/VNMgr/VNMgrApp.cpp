#include "hosts/VNMgr/VNMgrApp.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/schedule/KSScheDoc.h"
#include "console/widgets/schedule/KSScheView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "hosts/VNMgr/MainFrame.h"
#include "platform/endpoints/MachineServiceStarter.h"
#include "platform/machine/Machine.h"
#include "ui/CommandIds.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"

namespace {

// How long the console waits at exit for report runs to end once cancelled.
constexpr std::chrono::seconds kRunEndLimit{10};

}  // namespace

CVNMgrApp::CVNMgrApp() : CWinApp(QStringLiteral("VNMgr")) {
  m_strAppName = QStringLiteral("Vornal");
  m_strHelpFilePath = QStringLiteral("VN4.hlp");
  MapCommand(ID_APP_ABOUT, &CVNMgrApp::OnAppAbout);
  MapCommand(ID_FILE_OPEN, &CVNMgrApp::OnFileOpen);
}

// For a host that ended without ExitInstance: the cleanup, not the code, counts here.
CVNMgrApp::~CVNMgrApp() { (void)ExitInstance(); }

BOOL CVNMgrApp::InitInstance() {
  // The local machine's own service, started here when nobody has. Without it
  // other machines cannot reach this one, and a service of another home
  // answering in its place would mislead every call: the console does not start.
  std::string why;
  bool started = false;
  switch (vn::EnsureLocalMachineService(&why, &started)) {
    case ERROR_SUCCESS:
      if (started) {
        const auto home = vn::MachineHome();
        std::fprintf(stderr,
                     "VNMgr: started the machine service of %s (home %s); it keeps running after the console "
                     "ends, stop it with: kill $(cat %s)\n",
                     vn::LocalComputerName().c_str(), home.c_str(), (home / "vnmachined.pid").c_str());
      }
      break;
    case ERROR_SERVICE_DISABLED:  // starting switched off: the console runs without it
      break;
    default:
      std::fprintf(stderr, "VNMgr: cannot have this machine's service: %s\n", why.c_str());
      return FALSE;
  }
  InitializeKSDLL();
  m_bInitialized = true;
  RegisterDocTemplates();

  m_pMainFrame = std::make_unique<CMainFrame>();
  m_pMainWnd = m_pMainFrame.get();
  m_pMainFrame->SetScheduleTemplate(m_pScheduleTemplate);
  m_pMainFrame->show();
  // The manager window opens with the console.
  if (m_pManagerTemplate) m_pManagerTemplate->OpenDocumentFile(QString());
  // The report wizard follows once the windows are up, while the host's flag
  // asks for it (so at a newcomer's first start); its check box sets the flag,
  // which the module writes back at exit.
  QTimer::singleShot(0, m_pMainFrame.get(), [] {
    if (bVNPopupWizard) ShowVNWizard(&bVNPopupWizard);
  });
  return TRUE;
}

int CVNMgrApp::ExitInstance() {
  if (!m_bInitialized) return 0;
  m_bInitialized = false;
  // Runs still going are cancelled; their last messages are answered while
  // the windows still exist.
  if (m_pMainFrame && !m_pMainFrame->EndRuns(kRunEndLimit)) {
    m_bRunsLeft = true;
    std::fprintf(stderr, "VNMgr: a report run did not end after it was cancelled; it is left behind\n");
  }
  // Module windows first, then the main frame, then the module itself.
  CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  m_pMainWnd = nullptr;
  m_pMainFrame.reset();
  pKSRptDocTemplate = nullptr;  // the template list it belongs to goes with the application
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
  //   402 schedule: CKSScheDoc in a CKSMDIChildWnd with a CKSScheView; the
  //                 main frame opens a machine's list through it
  m_pManagerTemplate = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                             RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
  AddDocTemplate(m_pManagerTemplate);
  pKSRptDocTemplate = new CMultiDocTemplate(vn::console::IDR_KSRPTTYPE, RUNTIME_CLASS(CFastReadDoc),
                                            RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CFastReadView));
  AddDocTemplate(pKSRptDocTemplate);
  m_pScheduleTemplate = new CMultiDocTemplate(vn::console::IDR_KSSCHETYPE, RUNTIME_CLASS(CKSScheDoc),
                                              RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CKSScheView));
  AddDocTemplate(m_pScheduleTemplate);
}

void CVNMgrApp::OnFileOpen() {
  // A result saved earlier. Opened from disk, it is never deleted on close and
  // allows no file commands.
  if (!pKSRptDocTemplate) return;
  QString filter;
  pKSRptDocTemplate->GetDocString(filter, CDocTemplate::filterName);
  const QString path = QFileDialog::getOpenFileName(m_pMainWnd, QString(), QString(), filter);
  if (!path.isEmpty()) pKSRptDocTemplate->OpenDocumentFile(path);
}

void CVNMgrApp::OnAppAbout() {
  AfxMessageBox(QStringLiteral("Vornal 4.0\n\nDisk-space reports for the machines of your network."),
                MB_OK | MB_ICONINFORMATION);
}
