// Command routing: which handler runs a command, and which menu entries are
// enabled, as the active window changes.
#include <QAction>
#include <QMdiArea>
#include <QMenu>
#include <QStatusBar>

#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/MDIChildWnd.h"
#include "ui/tests/UiTestSupport.h"

namespace vn::ui::testing {
namespace {

class CommandRoutingTest : public DocViewTest {
 protected:
  CTestDoc* Open() { return dynamic_cast<CTestDoc*>(m_template->OpenDocumentFile(QString())); }
  static CTestView* ViewOf(CDocument* pDoc) { return dynamic_cast<CTestView*>(pDoc->GetViews().front()); }
};

TEST_F(CommandRoutingTest, TheFirstHandlerAlongTheChainRunsTheCommand) {
  CTestDoc* pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  CTestView* pView = ViewOf(pDoc);

  // The view and the main frame both handle the shared command: the view wins.
  EXPECT_TRUE(m_mainFrame->OnCommand(ID_TEST_SHARED));
  EXPECT_EQ(pView->m_nSharedCommands, 1);
  EXPECT_EQ(m_mainFrame->m_nSharedCommands, 0);
  // What the view does not handle reaches its document, the main frame and the
  // application in turn.
  EXPECT_TRUE(m_mainFrame->OnCommand(ID_TEST_DOCUMENT));
  EXPECT_EQ(pDoc->m_nCommands, 1);
  EXPECT_TRUE(m_mainFrame->OnCommand(ID_TEST_FRAME));
  EXPECT_EQ(m_mainFrame->m_nFrameCommands, 1);
  EXPECT_TRUE(m_mainFrame->OnCommand(ID_TEST_APP));
  EXPECT_EQ(m_app->m_nAppCommands, 1);
  // Nobody's command, and a command its update handler disables, do not run.
  EXPECT_FALSE(m_mainFrame->OnCommand(ID_TEST_NOBODY));
  EXPECT_FALSE(m_mainFrame->OnCommand(ID_TEST_BLOCKED));
  EXPECT_EQ(m_mainFrame->m_nBlockedCommands, 0);

  // With no document window the main frame gets the shared command.
  m_app->CloseAllDocuments(FALSE);
  FlushDeletes();
  EXPECT_TRUE(m_mainFrame->OnCommand(ID_TEST_SHARED));
  EXPECT_EQ(m_mainFrame->m_nSharedCommands, 1);
  EXPECT_FALSE(m_mainFrame->OnCommand(ID_TEST_DOCUMENT));
}

TEST_F(CommandRoutingTest, CommandsFollowTheActiveWindow) {
  CTestDoc* pFirst = Open();
  CTestDoc* pSecond = Open();
  ASSERT_TRUE(pFirst && pSecond);

  m_mainFrame->OnCommand(ID_TEST_DOCUMENT);
  EXPECT_EQ(pSecond->m_nCommands, 1);

  m_mainFrame->GetMDIClient()->setActiveSubWindow(ViewOf(pFirst)->GetParentFrame());
  m_mainFrame->OnCommand(ID_TEST_DOCUMENT);
  m_mainFrame->OnCommand(ID_TEST_SHARED);
  EXPECT_EQ(pFirst->m_nCommands, 1);
  EXPECT_EQ(ViewOf(pFirst)->m_nSharedCommands, 1);
  EXPECT_EQ(ViewOf(pSecond)->m_nSharedCommands, 0);
}

TEST_F(CommandRoutingTest, MenuEntriesAreUpdatedBeforeTheMenuOpens) {
  QMenu* pMenu = m_mainFrame->AddMenu(QStringLiteral("&Test"));
  QMenu* pSubMenu = pMenu->addMenu(QStringLiteral("&More"));
  const UINT ids[] = {ID_TEST_SHARED, ID_TEST_DOCUMENT, ID_TEST_FRAME, ID_TEST_APP, ID_TEST_NOBODY};
  for (UINT id : ids) m_mainFrame->AddCommand(pMenu, id, QString::number(id));
  QAction* pBlocked = m_mainFrame->AddCommand(pSubMenu, ID_TEST_BLOCKED, QStringLiteral("Blocked"));

  const struct {
    UINT id;
    bool withDocument;
    bool withoutDocument;
  } expected[] = {
      {ID_TEST_SHARED, true, true},  {ID_TEST_DOCUMENT, true, false}, {ID_TEST_FRAME, true, true},
      {ID_TEST_APP, true, true},     {ID_TEST_NOBODY, false, false},
  };

  CTestDoc* pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  Q_EMIT pMenu->aboutToShow();
  Q_EMIT pSubMenu->aboutToShow();
  for (const auto& e : expected) EXPECT_EQ(m_mainFrame->FindCommand(e.id)->isEnabled(), e.withDocument) << e.id;
  EXPECT_FALSE(pBlocked->isEnabled());

  // Choosing an entry runs the command through the chain.
  m_mainFrame->FindCommand(ID_TEST_DOCUMENT)->trigger();
  EXPECT_EQ(pDoc->m_nCommands, 1);

  m_app->CloseAllDocuments(FALSE);
  FlushDeletes();
  Q_EMIT pMenu->aboutToShow();
  for (const auto& e : expected) EXPECT_EQ(m_mainFrame->FindCommand(e.id)->isEnabled(), e.withoutDocument) << e.id;
}

TEST_F(CommandRoutingTest, UpdateHandlerCheckMarksTheEntry) {
  QMenu* pMenu = m_mainFrame->AddMenu(QStringLiteral("&View"));
  QAction* pStatusBar = m_mainFrame->AddCommand(pMenu, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
  Q_EMIT pMenu->aboutToShow();
  EXPECT_TRUE(pStatusBar->isEnabled());
  EXPECT_TRUE(pStatusBar->isChecked());
  EXPECT_EQ(m_mainFrame->GetIdleText(), QStringLiteral("Ready"));

  pStatusBar->trigger();
  EXPECT_TRUE(m_mainFrame->statusBar()->isHidden());
  Q_EMIT pMenu->aboutToShow();
  EXPECT_FALSE(pStatusBar->isChecked());

  // CCmdUI without an action keeps the state for whoever asked.
  CCmdUI state(ID_VIEW_STATUS_BAR);
  state.DoUpdate(m_mainFrame.get(), TRUE);
  EXPECT_EQ(state.m_nCheck, 0);
  EXPECT_TRUE(state.m_bEnabled);
}

}  // namespace
}  // namespace vn::ui::testing
