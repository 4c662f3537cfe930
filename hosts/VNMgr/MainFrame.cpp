#include "hosts/VNMgr/MainFrame.h"

#include <QKeySequence>
#include <QMenu>

#include "console/entry/KSEntry.h"
#include "console/grid/GridView.h"
#include "console/results/FastReadView.h"
#include "console/support/Resources.h"
#include "ui/CommandIds.h"

CMainFrame::CMainFrame() {
  using vn::console::ID_HELP_GETTING_STARTED;
  setWindowTitle(QStringLiteral("Vornal"));
  resize(1024, 720);

  QMenu* pFile = AddMenu(QStringLiteral("&File"));
  AddCommand(pFile, ID_FILE_OPEN, QStringLiteral("&Open..."), QKeySequence::Open);
  // The result window's: its document saves, its grid prints.
  AddCommand(pFile, ID_FILE_SAVE, QStringLiteral("&Save\tCtrl+S"), QKeySequence::Save);
  AddCommand(pFile, ID_FILE_SAVE_AS, QStringLiteral("&Save As..."));
  pFile->addSeparator();
  AddCommand(pFile, ID_FILE_PRINT, QStringLiteral("&Print..."), QKeySequence::Print);
  AddCommand(pFile, CGridView::ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"));
  AddCommand(pFile, ID_FILE_PAGE_SETUP, QStringLiteral("Page Set&up..."));
  pFile->addSeparator();
  AddCommand(pFile, ID_APP_EXIT, QStringLiteral("E&xit"));

  // The result window's file commands (the Delete key is its own).
  QMenu* pEdit = AddMenu(QStringLiteral("&Edit"));
  AddCommand(pEdit, CFastReadView::ID_KS_DELETE, QStringLiteral("&Delete"));
  AddCommand(pEdit, CFastReadView::ID_EDIT_COPY, QStringLiteral("&Copy to..."));
  AddCommand(pEdit, CFastReadView::ID_MOVE_TO, QStringLiteral("&Move to..."));
  pEdit->addSeparator();
  AddCommand(pEdit, CFastReadView::ID_GRAPH, QStringLiteral("&Graph..."));

  QMenu* pView = AddMenu(QStringLiteral("&View"));
  AddCommand(pView, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
  pView->addSeparator();
  AddCommand(pView, CGridView::ID_VIEW_ZOOMIN, QStringLiteral("Zoom &In"));
  AddCommand(pView, CGridView::ID_VIEW_ZOOMOUT, QStringLiteral("Zoom &out"));
  AddCommand(pView, CGridView::ID_VIEW_100, QStringLiteral("100%"));
  AddCommand(pView, CGridView::ID_VIEW_PROPERTIES, QStringLiteral("&Display Settings..."));

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
