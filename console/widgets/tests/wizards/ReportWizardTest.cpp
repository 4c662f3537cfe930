// The report wizard page by page as a user goes through it, offscreen, over
// machines of the test harness: the start page's check box, the objects
// page's tree with Next only while something is checked (a partly checked
// item that does not change), the report set page's locations (this
// computer, another machine, one that cannot be reached) and its column, the
// finish page's summary following changes made after going Back; and the
// manager window's three tabs working together: the hand-over to "Run",
// Refresh and the wizard enabled per tab, and the panes and placement kept
// in the profile.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/reports/KSReportListView.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/schedule/ScheduleView.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "console/widgets/tests/ModalDialogs.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "platform/machine/Profile.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/CmdUI.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

using vn::console::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  if (!node) return nullptr;
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

QStringList Items(const QTreeWidget* list) {
  QStringList items;
  for (int i = 0; i < list->topLevelItemCount(); ++i) items << list->topLevelItem(i)->text(0);
  return items;
}

vn::console::ReportSet OneReport() {
  vn::console::ReportSet set;
  set[7].Selected = 1;
  return set;
}

class WorkspaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data", "Tools"}});
    ASSERT_TRUE(s_net->StartAll());
    ASSERT_EQ(vn::console::SaveReportSet("", "Local Daily", OneReport()), ERROR_SUCCESS);
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", "Weekly", OneReport()), ERROR_SUCCESS);
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", "Audit", OneReport()), ERROR_SUCCESS);
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", std::string(90, 'W'), OneReport()), ERROR_SUCCESS);
  }
  static void TearDownTestSuite() { s_net.reset(); }

  WorkspaceTest() {
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return IDOK;
    });
    m_template = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                       RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    m_session.m_app->AddDocTemplate(m_template);
  }
  ~WorkspaceTest() override {
    m_session.End();
    AfxSetMessageBoxHook(m_previousHook);
  }

  static bool Settle(vn::console::CObjectTreeLoader& loader) {
    return WaitUntil([&loader] {
      QCoreApplication::processEvents();
      return loader.PendingWork() == 0;
    });
  }
  static bool NextEnabled(const CReportWizard& wizard) { return wizard.button(QWizard::NextButton)->isEnabled(); }

  // The wizard on its objects page with SRV1 listed.
  std::unique_ptr<CReportWizard> WizardAtObjects(const QString& location) {
    auto wizard = std::make_unique<CReportWizard>(location, FALSE);
    wizard->show();
    wizard->next();
    CReportWizardObj* page = wizard->ObjectsPage();
    const auto expand = [page](const CObjectNode* node) {
      page->Expand(node);
      return node && Settle(page->Loader());
    };
    CObjectNode* network = page->Tree().Top()->children.at(1).get();
    if (!Settle(page->Loader()) || !expand(network) || !expand(Child(network, "Sales")) || !expand(Srv1(page)))
      return nullptr;
    return wizard;
  }
  CObjectNode* Srv1(CReportWizardObj* page) {
    return Child(Child(page->Tree().Top()->children.at(1).get(), "Sales"), "Srv1");
  }

  CKSMgrFrame* OpenManager() {
    auto* pDoc = dynamic_cast<CKSMgrDoc*>(m_template->OpenDocumentFile(QString()));
    return pDoc && pDoc->m_pTreeView ? dynamic_cast<CKSMgrFrame*>(pDoc->m_pTreeView->GetParentFrame()) : nullptr;
  }
  void CloseAll() {
    m_session.m_app->CloseAllDocuments(FALSE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  static bool Enabled(CCmdTarget* target, UINT nID) {
    CCmdUI state(nID);
    state.DoUpdate(target, TRUE);
    return state.m_bEnabled;
  }

  static std::unique_ptr<MachineNetwork> s_net;
  // No information box after a choice in the report tree (read as the module starts).
  const BOOL m_noReportInfo = WriteProfileInt("VNMgr", "ShowReportInfo", 0);
  vn::console::testing::ConsoleSession<CMDIFrameWnd> m_session;
  CMultiDocTemplate* m_template = nullptr;
  std::vector<std::string> m_messages;
  MessageBoxHook m_previousHook;
};

std::unique_ptr<MachineNetwork> WorkspaceTest::s_net;

TEST_F(WorkspaceTest, WizardPagesCheckWhatTheUserChoseAndTheSummaryFollowsChangesMadeAfterBack) {
  auto wizard = WizardAtObjects(QStringLiteral("CONSOLE"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(wizard->windowTitle(), QStringLiteral("Report Wizard"));
  EXPECT_FALSE(wizard->StartPage()->ShowAtStartupCheck()->isChecked()) << "the caller's flag";
  EXPECT_EQ(wizard->currentId(), CReportWizard::kObjectsPage);
  CReportWizardObj* objects = wizard->ObjectsPage();
  const auto roots = objects->Tree().Top()->children.size();
  ASSERT_EQ(roots, 3u);
  EXPECT_EQ(objects->Tree().Top()->children[0]->Text(), "My Computer");
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
  EXPECT_FALSE(NextEnabled(*wizard)) << "nothing checked yet";

  CObjectNode* srv1 = Srv1(objects);
  ASSERT_NE(srv1, nullptr);
  CObjectNode* data = Child(srv1, "Data");
  CObjectNode* drive = Child(objects->Tree().FirstRoot(), "C:");
  ASSERT_NE(data, nullptr);
  ASSERT_NE(drive, nullptr);
  objects->ClickCheck(data);
  EXPECT_TRUE(NextEnabled(*wizard));
  EXPECT_EQ(srv1->state, KS_STATE_PARTIAL);
  objects->ClickCheck(srv1);
  EXPECT_EQ(srv1->state, KS_STATE_PARTIAL) << "a partly checked item does not change";
  EXPECT_EQ(data->state, KS_STATE_CHECKED);
  objects->ClickCheck(data);
  EXPECT_FALSE(NextEnabled(*wizard)) << "the last object unchecked";
  objects->ClickCheck(data);
  objects->ClickCheck(drive);
  ASSERT_TRUE(NextEnabled(*wizard));
  wizard->next();

  // This computer's sets, the first one selected.
  ASSERT_EQ(wizard->currentId(), CReportWizard::kReportSetPage);
  CReportWizardRS* sets = wizard->ReportSetPage();
  EXPECT_EQ(sets->LocationBox()->currentText(), QStringLiteral("CONSOLE"));
  EXPECT_EQ(Items(sets->SetList()), QStringList{QStringLiteral("Local Daily")});
  EXPECT_TRUE(NextEnabled(*wizard));
  sets->SetList()->clearSelection();
  EXPECT_FALSE(NextEnabled(*wizard)) << "no set selected";
  // Another machine: its sets, and the column widened for the long name.
  const int column = sets->SetList()->columnWidth(0);
  EXPECT_EQ(column, 2 * sets->SetList()->fontMetrics().horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMN")));
  sets->AddLocation(QStringLiteral("SRV1"));
  EXPECT_EQ(Items(sets->SetList()),
            (QStringList{QStringLiteral("Audit"), QStringLiteral("Weekly"), QString(90, QLatin1Char('W'))}));
  EXPECT_EQ(sets->SetList()->columnWidth(0),
            sets->SetList()->fontMetrics().horizontalAdvance(QString(90, QLatin1Char('W'))) + 25);
  EXPECT_EQ(sets->LocationBox()->itemText(0), QStringLiteral("SRV1"));
  // A machine nobody answers for: the system's text, an empty list, no Next.
  sets->AddLocation(QStringLiteral("NOSUCH"));
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_TRUE(sets->SetList()->topLevelItemCount() == 0);
  EXPECT_FALSE(NextEnabled(*wizard));
  // Back to SRV1 through the combo.
  const int srv1Entry = sets->LocationBox()->findText(QStringLiteral("SRV1"));
  ASSERT_GE(srv1Entry, 0);
  sets->LocationBox()->setCurrentIndex(srv1Entry);
  emit sets->LocationBox()->activated(srv1Entry);
  ASSERT_EQ(sets->SetList()->topLevelItemCount(), 3);
  sets->SetList()->setCurrentItem(sets->SetList()->topLevelItem(1));
  ASSERT_TRUE(NextEnabled(*wizard));
  wizard->next();

  ASSERT_EQ(wizard->currentId(), CReportWizard::kFinishPage);
  CReportWizardFinish* finish = wizard->FinishPage();
  EXPECT_EQ(finish->SetText()->text(), QStringLiteral("SRV1\\Weekly"));
  EXPECT_EQ(finish->ObjectsText()->toPlainText(), QStringLiteral("C:\\\n\\\\Srv1\\Data\n"));
  EXPECT_FALSE(finish->SetText()->hasSelectedText());
  EXPECT_TRUE(wizard->button(QWizard::FinishButton)->isVisible());

  // Back to the objects: the drive unchecked, the other share checked.
  wizard->back();
  wizard->back();
  ASSERT_EQ(wizard->currentId(), CReportWizard::kObjectsPage);
  objects->ClickCheck(drive);
  objects->ClickCheck(Child(srv1, "Tools"));
  wizard->next();
  EXPECT_EQ(Items(sets->SetList()).size(), 3) << "the set page keeps its listing";
  wizard->next();
  EXPECT_EQ(finish->ObjectsText()->toPlainText(), QStringLiteral("\\\\Srv1\\Data\n\\\\Srv1\\Tools\n"));
  EXPECT_EQ(wizard->Choice().objects.NetworkObjects().at("SRV1").size(), 2u);

  // Cancel discards the choices and starts nothing; the check box is read all the same.
  wizard->StartPage()->ShowAtStartupCheck()->setChecked(true);
  wizard->reject();
  EXPECT_FALSE(wizard->RunStarted());
  EXPECT_EQ(wizard->ShowAtStartup(), TRUE);
}

TEST_F(WorkspaceTest, ShowVNWizardStoresTheCheckBoxThroughThePointerWhateverTheResult) {
  using vn::console::testing::WithDialog;
  struct Case {
    BOOL before;
    bool toggle;
    BOOL after;
  } const cases[] = {{TRUE, true, FALSE}, {FALSE, true, TRUE}, {TRUE, false, TRUE}};
  for (const Case& c : cases) {
    BOOL flag = c.before;
    const bool seen = WithDialog<CReportWizard>([&flag] { ShowVNWizard(&flag); },
                                                [&c](CReportWizard* wizard) {
                                                  EXPECT_EQ(wizard->ReportSetPage()->LocationBox()->count(), 0);
                                                  QCheckBox* box = wizard->StartPage()->ShowAtStartupCheck();
                                                  EXPECT_EQ(box->isChecked(), c.before != FALSE);
                                                  if (c.toggle) box->toggle();
                                                  wizard->reject();
                                                });
    ASSERT_TRUE(seen);
    EXPECT_EQ(flag, c.after) << c.before << " " << c.toggle;
  }
  // No pointer: the box shows checked and nothing is stored.
  EXPECT_TRUE(WithDialog<CReportWizard>([] { ShowVNWizard(nullptr); },
                                        [](CReportWizard* wizard) {
                                          EXPECT_TRUE(wizard->StartPage()->ShowAtStartupCheck()->isChecked());
                                          wizard->reject();
                                        }));
}

TEST_F(WorkspaceTest, ManagerTabsHandTheSelectionToRunAndEnableCommandsPerTab) {
  CKSMgrFrame* frame = OpenManager();
  ASSERT_NE(frame, nullptr);
  CKSMgrDoc* pDoc = frame->TreeView()->GetDocument();
  ASSERT_TRUE(Settle(frame->TreeView()->Loader()));

  // Nothing checked, nothing chosen: "Run" gets empty lists and cannot run.
  pDoc->AddLocalObject("C:\\stale");
  frame->Tabs()->setCurrentIndex(2);
  EXPECT_FALSE(pDoc->HasObjects());
  EXPECT_EQ(pDoc->CanRunReport(), 0);
  EXPECT_EQ(frame->ScheduleView()->ObjectsText()->text(), QStringLiteral("No Object(s) is selected."));

  // A drive checked on "Object" and a set chosen on "Reports".
  frame->Tabs()->setCurrentIndex(0);
  CObjectNode* drive = Child(frame->TreeView()->Tree().FirstRoot(), "C:");
  ASSERT_NE(drive, nullptr);
  frame->TreeView()->Tree().ClickCheckBox(drive);
  frame->Tabs()->setCurrentIndex(1);
  CKSReportTreeView* reports = frame->ReportTreeView();
  const auto expand = [reports](CObjectNode* node) {
    if (node) reports->Expand(node);
    return WaitUntil([reports] {
      QCoreApplication::processEvents();
      return reports->PendingWork() == 0;
    });
  };
  CObjectNode* mine = reports->Tree().FirstRoot();
  ASSERT_TRUE(expand(mine));
  CObjectNode* folder = Child(mine, "Report Sets");
  ASSERT_TRUE(expand(folder));
  CObjectNode* daily = Child(folder, "Local Daily");
  ASSERT_NE(daily, nullptr);
  reports->Choose(daily);
  EXPECT_FALSE(pDoc->HasObjects()) << "handed over only on the way to Run";
  frame->Tabs()->setCurrentIndex(2);
  EXPECT_EQ(pDoc->LocalObjects(), std::vector<std::string>{"C:\\"});
  EXPECT_EQ(pDoc->m_strReportName, QStringLiteral("Local Daily"));
  EXPECT_NE(pDoc->CanRunReport(), 0);
  // A list ending in a backslash shows it twice, as the job's command line has it.
  EXPECT_EQ(frame->ScheduleView()->ObjectsText()->text(), QStringLiteral("C:\\\\"));
  EXPECT_EQ(frame->ScheduleView()->ReportSetText()->text(), QStringLiteral("CONSOLE\\Local Daily"));

  // Refresh only on "Object"; F5 elsewhere does nothing. The wizard everywhere.
  for (int tab : {0, 1, 2}) {
    frame->Tabs()->setCurrentIndex(tab);
    EXPECT_EQ(Enabled(frame, vn::console::ID_OBJECT_REFRESH), tab == 0) << tab;
    EXPECT_TRUE(Enabled(frame, vn::console::ID_REPORT_WIZARD)) << tab;
  }
  frame->Tabs()->setCurrentIndex(1);
  const std::size_t rootsBefore = frame->TreeView()->Tree().Top()->children.size();
  EXPECT_FALSE(frame->OnCmdMsg(vn::console::ID_OBJECT_REFRESH, CN_COMMAND, nullptr)) << "not taken";
  EXPECT_EQ(frame->TreeView()->Loader().PendingWork(), 0) << "no refresh started";
  EXPECT_EQ(frame->TreeView()->Tree().Top()->children.size(), rootsBefore);

  // The frame's wizard command reads and writes its own profile flag.
  ASSERT_TRUE(WriteProfileInt("VNShowWizard", "ShowAtStartup", 1));
  EXPECT_TRUE(vn::console::testing::WithDialog<CReportWizard>(
      [frame] { frame->OnCmdMsg(vn::console::ID_REPORT_WIZARD, CN_COMMAND, nullptr); },
      [](CReportWizard* wizard) {
        EXPECT_TRUE(wizard->StartPage()->ShowAtStartupCheck()->isChecked());
        wizard->StartPage()->ShowAtStartupCheck()->setChecked(false);
        wizard->reject();
      }));
  EXPECT_EQ(GetProfileInt("VNShowWizard", "ShowAtStartup", 1), 0u);
}

TEST_F(WorkspaceTest, PanesAndPlacementMakeARoundTripThroughTheProfile) {
  // Nothing stored for the report pane: 200 pixels.
  CKSMgrFrame* frame = OpenManager();
  ASSERT_NE(frame, nullptr);
  frame->setGeometry(QRect(15, 25, 640, 420));
  frame->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(frame->ReportSplitter()->sizes().constFirst(), 200);
  EXPECT_EQ(frame->ReportSplitter()->widget(0), frame->ReportTreeView());
  EXPECT_EQ(frame->ReportSplitter()->widget(1), frame->ReportListView());
  frame->Tabs()->setCurrentIndex(0);
  frame->ObjectSplitter()->setSizes({230, 400});
  frame->ReportSplitter()->setSizes({260, 380});
  frame->Tabs()->setCurrentIndex(1);
  frame->showMaximized();
  CloseAll();
  for (const auto& [entry, value] : std::vector<std::pair<const char*, int>>{{"wp.rcNormalPosition.left", 15},
                                                                           {"wp.rcNormalPosition.top", 25},
                                                                           {"wp.rcNormalPosition.right", 655},
                                                                           {"wp.rcNormalPosition.bottom", 445},
                                                                           {"Object.pane.tree", 230},
                                                                           {"Report.pane.tree", 260},
                                                                           {"wp.showCmd", 3}})
    EXPECT_EQ(static_cast<int>(GetProfileInt("KSMgrFrame", entry, -7)), value) << entry;

  frame = OpenManager();
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(frame->isMaximized()) << "reopens normal";
  EXPECT_EQ(frame->geometry(), QRect(15, 25, 640, 420));
  EXPECT_EQ(frame->Tabs()->currentIndex(), 0) << "always on Object";
  EXPECT_EQ(frame->ObjectSplitter()->sizes().constFirst(), 230);
  frame->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(frame->ReportSplitter()->sizes().constFirst(), 260) << "the tab shown later keeps its width too";

  // Closed without ever showing the Reports tab: its stored width is kept as it was.
  frame->Tabs()->setCurrentIndex(0);
  CloseAll();
  frame = OpenManager();
  ASSERT_NE(frame, nullptr);
  CloseAll();
  EXPECT_EQ(GetProfileInt("KSMgrFrame", "Report.pane.tree", 0), 260u);
}

}  // namespace
