// Help for every window: each topic of the module's help file is a page it
// ships and each link of its pages leads to one; F1 in each tab of the
// manager window, in a dialog and in a wizard page shows its own topic, a
// dialog that names none shows its opener's, and the help file followed is
// the one of the frame that is active. Real widgets offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeView>
#include <memory>
#include <set>

#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/reports/KSReportListView.h"
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/schedule/ScheduleView.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "testing/TempMachineHome.h"
#include "ui/DynLinkLibrary.h"
#include "ui/HelpFileInfo.h"
#include "ui/HelpContext.h"
#include "ui/HelpWindow.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

QString ResourceOf(const QUrl& page) { return QLatin1Char(':') + page.path(); }

// The page F1 in `widget` shows, as a file name with its anchor.
QString PageAfterF1(CWinApp& app, QWidget* widget) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  CHelpWindow* help = app.GetHelpWindow();
  if (!help) return {};
  const QUrl page = help->CurrentPage();
  return page.fileName() + (page.hasFragment() ? QLatin1Char('#') + page.fragment() : QString());
}

TEST(HelpTopicsTest, EveryTopicAndEveryLinkIsAPageTheModuleShips) {
  // The module's help file, as the application finds it once the module has joined.
  vn::testing::TempMachineHome home;
  vn::console::testing::ConsoleSession<CMDIFrameWnd> session;
  const HelpFileInfo* found = AfxFindHelpFile(QStringLiteral("VN4.hlp"));
  ASSERT_NE(found, nullptr);
  const HelpFileInfo& help = *found;
  ASSERT_TRUE(QFile::exists(ResourceOf(help.ContentsPage())));
  std::set<QString> pages;
  for (const HelpTopic& topic : help.topics) {
    const QUrl page = help.FindTopic(topic.dwContext);
    EXPECT_TRUE(QFile::exists(ResourceOf(page))) << topic.dwContext << " " << topic.pszPage;
    pages.insert(page.fileName());
  }
  pages.insert(help.ContentsPage().fileName());
  // Each window and dialog of the module has a topic of its own.
  for (DWORD id : std::initializer_list<DWORD>{vn::console::IDR_KSMGRTYPE, vn::console::IDR_KSRPTTYPE,
                                               vn::console::IDR_KSSCHETYPE, vn::console::IDR_GRAPHTYPE, 467u, 468u, 469u, 411u, 412u, 415u, 430u, 431u, 432u, 433u, 444u,
                   445u, 446u, 477u, 487u, 488u, 489u, 505u, 506u, 508u, 509u, 510u, 511u, 512u})
    EXPECT_FALSE(help.FindTopic(vn::console::kHelpDialogBase + id).isEmpty()) << id;

  const QRegularExpression link(QStringLiteral("href=\"([^\"#]+)(#[^\"]*)?\""));
  for (const QString& name : pages) {
    QFile file(QStringLiteral(":/help/VN4/") + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("<title>"))) << name.toStdString();
    for (auto match = link.globalMatch(text); match.hasNext();) {
      const QString target = match.next().captured(1);
      EXPECT_TRUE(QFile::exists(QStringLiteral(":/help/VN4/") + target))
          << name.toStdString() << " links to " << target.toStdString();
    }
  }
}

TEST(HelpTopicsTest, F1ShowsTheTopicOfTheTabDialogOrPageTheUserIsIn) {
  vn::testing::TempMachineHome home;
  vn::console::testing::ConsoleSession<CMDIFrameWnd> session;
  CWinApp& app = *session.m_app;
  app.m_strHelpFilePath = QStringLiteral("/opt/vornal/help/VNMgr.hlp");
  std::vector<QString> messages;
  const MessageBoxHook previous = AfxSetMessageBoxHook([&messages](const QString& text, UINT) {
    messages.push_back(text);
    return IDOK;
  });
  auto* manager = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                        RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
  app.AddDocTemplate(manager);
  auto* pDoc = dynamic_cast<CKSMgrDoc*>(manager->OpenDocumentFile(QString()));
  ASSERT_NE(pDoc, nullptr);
  auto* frame = dynamic_cast<CKSMgrFrame*>(pDoc->m_pTreeView->GetParentFrame());
  ASSERT_NE(frame, nullptr);
  frame->ActivateFrame();
  EXPECT_EQ(app.m_strHelpFilePath, QStringLiteral("/opt/vornal/help/VN4.hlp")) << "the module's file while active";

  EXPECT_EQ(PageAfterF1(app, frame->TreeView()), QStringLiteral("ObjectTab.html"));
  frame->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(PageAfterF1(app, frame->ReportListView()), QStringLiteral("ReportsTab.html"));
  frame->Tabs()->setCurrentIndex(2);
  EXPECT_EQ(PageAfterF1(app, frame->ScheduleView()), QStringLiteral("RunTab.html"));
  EXPECT_EQ(PageAfterF1(app, frame->Tabs()->tabBar()), QStringLiteral("ManagerWindow.html")) << "the frame's own";

  CSelectReportDlg picker(CSelectReportDlg::kReportSet, QStringLiteral("TESTPC"), nullptr, frame);
  EXPECT_EQ(PageAfterF1(app, &picker), QStringLiteral("ReportDialogs.html"));
  CReportWizard wizard(QString(), TRUE, frame);
  wizard.show();
  wizard.next();
  EXPECT_EQ(PageAfterF1(app, wizard.ObjectsPage()->TreeWidget()), QStringLiteral("ReportWizard.html"));
  // A dialog that names no topic of its own: its opener's.
  CComputerBrowserDlg browser(wizard.ReportSetPage());
  EXPECT_EQ(AfxGetHelpContext(&browser), vn::console::kHelpDialogBase + vn::console::IDD_REPORT_WIZARD_RS);
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();

  // A window with no topic in its chain: the contents page.
  QWidget loose;
  EXPECT_EQ(PageAfterF1(app, &loose), QStringLiteral("Contents.html"));
  AfxSetMessageBoxHook(previous);
}

}  // namespace
