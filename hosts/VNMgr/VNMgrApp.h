#pragma once
// The console host's application object: profile "VNMgr", help file "VN4.hlp".
// InitInstance brings the module up in the order it requires (the module is
// already loaded, since the host links it), registers the host's document
// templates, shows the main frame and opens the manager window in it, then
// (from the event loop) the report wizard while "VNMgr" / "VNWIZARD_POPUP"
// asks for it; ExitInstance closes every module window,
// then ends the module. One per process, on the user-interface thread, made
// after the Qt application object.

#include <memory>

#include "ui/WinApp.h"

class CMainFrame;
class CMultiDocTemplate;

class CVNMgrApp : public CWinApp {
 public:
  CVNMgrApp();
  ~CVNMgrApp() override;

  [[nodiscard]] BOOL InitInstance() override;
  // Safe to call more than once; only the first call does anything. Report
  // runs still going are cancelled first (see CMainFrame::EndRuns).
  [[nodiscard]] int ExitInstance() override;
  // A run did not end at exit: its threads are still in the process, which
  // must then end without running its static destructors.
  bool RunsLeft() const { return m_bRunsLeft; }

 private:
  void RegisterDocTemplates();
  void OnAppAbout();
  // File Open: a result file from disk, in a result window.
  void OnFileOpen();

  std::unique_ptr<CMainFrame> m_pMainFrame;
  CMultiDocTemplate* m_pManagerTemplate = nullptr;  // owned by the template list
  CMultiDocTemplate* m_pScheduleTemplate = nullptr;  // likewise
  bool m_bInitialized = false;
  bool m_bRunsLeft = false;
};
