#pragma once
// The console's main window: the MDI area holding the module's windows, and the
// menus every window shares. File: Exit. View: Status Bar. Window: Cascade,
// Tile, Arrange Icons. Help: Help Topics, Getting Started, About Vornal.
// Exit, Help Topics and About are the application's commands; Status Bar and
// the Window menu the frame's base; Getting Started is handled here by calling
// the module. Owned by the application object; user-interface thread only.

#include "ui/MDIFrameWnd.h"

class CMainFrame : public CMDIFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;

 private:
  void OnHelpGettingStarted();
};
