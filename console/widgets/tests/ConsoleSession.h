#pragma once
// The console module brought up in a test process the way VNMgr brings it
// up: an application object with the "VNMgr" profile, InitializeKSDLL, and a
// shown main frame of type Frame holding the module's windows. End (or the
// destructor) closes every document and ends the module in the reverse
// order. Tests add the document templates they need to App().

#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <memory>

#include "console/widgets/entry/KSEntry.h"
#include "ui/MDIFrameWnd.h"
#include "ui/WinApp.h"

namespace vn::console::testing {

template <class Frame = CMDIFrameWnd>
class ConsoleSession {
 public:
  ConsoleSession() : m_app(std::make_unique<CWinApp>(QStringLiteral("VNMgr"))) {
    InitializeKSDLL();
    m_mainFrame = std::make_unique<Frame>();
    m_mainFrame->resize(900, 600);
    m_app->m_pMainWnd = m_mainFrame.get();
    m_mainFrame->show();
  }
  ~ConsoleSession() { End(); }
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  // Closes every document (their frames go at once), then the main frame,
  // the module and the application object. Only the first call does
  // anything.
  void End() {
    if (!m_app) return;
    m_app->CloseAllDocuments(FALSE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_app->m_pMainWnd = nullptr;
    m_mainFrame.reset();
    TerminateKSDLL();
    m_app.reset();
  }

  // Both live from construction to End.
  std::unique_ptr<CWinApp> m_app;
  std::unique_ptr<Frame> m_mainFrame;
};

}  // namespace vn::console::testing
