#include "hosts/VNMgr/MainFrame.h"

#include <QKeySequence>
#include <QMenu>

#include "console/entry/KSEntry.h"
#include "console/support/Resources.h"
#include "ui/CommandIds.h"

CMainFrame::CMainFrame() {
  using vn::console::ID_HELP_GETTING_STARTED;
  setWindowTitle(QStringLiteral("Vornal"));
  resize(1024, 720);

  QMenu* pFile = AddMenu(QStringLiteral("&File"));
  AddCommand(pFile, ID_APP_EXIT, QStringLiteral("E&xit"));

  QMenu* pView = AddMenu(QStringLiteral("&View"));
  AddCommand(pView, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));

  QMenu* pWindow = AddMenu(QStringLiteral("&Window"));
  AddCommand(pWindow, ID_WINDOW_CASCADE, QStringLiteral("&Cascade"));
  AddCommand(pWindow, ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile"));
  AddCommand(pWindow, ID_WINDOW_ARRANGE, QStringLiteral("&Arrange Icons"));

  QMenu* pHelp = AddMenu(QStringLiteral("&Help"));
  AddCommand(pHelp, ID_HELP_FINDER, QStringLiteral("&Help Topics"), QKeySequence::HelpContents);
  AddCommand(pHelp, ID_HELP_GETTING_STARTED, QStringLiteral("&Getting Started"));
  pHelp->addSeparator();
  AddCommand(pHelp, ID_APP_ABOUT, QStringLiteral("&About Vornal..."));

  MapCommand(ID_HELP_GETTING_STARTED, &CMainFrame::OnHelpGettingStarted);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::OnHelpGettingStarted() { KSGettingStarted(); }
