// The deployment windows and the server property sheet, offscreen, on
// machines of the test harness: the object tree's install, deinstall and
// Properties commands with their wizards and progress window, and the
// property pages' start, stop and auditing through the real service manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "console/core/deploy/ServerDeploy.h"
#include "console/core/deploy/ServerService.h"
#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/core/tests/deploy/DeployTestNetwork.h"
#include "console/widgets/deploy/DeployWindows.h"
#include "console/widgets/deploy/DeployWizards.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/serverprops/ServerPropertySheet.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "console/widgets/tests/ModalDialogs.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "testing/Wait.h"

namespace {

using namespace vn::console;
using vn::console::testing::WithDialog;
using vn::testing::WaitUntil;

// Finishes or cancels a wizard, page by page as a person would.
void Answer(CKSDeployWizard* wizard, bool finish) {
  EXPECT_FALSE(wizard->button(QWizard::BackButton)->isEnabled());
  if (!finish) return wizard->reject();
  wizard->next();
  EXPECT_TRUE(wizard->button(QWizard::BackButton)->isEnabled());
  EXPECT_TRUE(wizard->button(QWizard::FinishButton)->isVisible());
  wizard->accept();
}

class DeployWindowsTest : public ::testing::Test {
 protected:
  DeployWindowsTest() : m_net({"SRV1", "SRV2"}) {
    CKSDeployWindows::SetCompletionPause(0);
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return IDOK;
    });
  }
  ~DeployWindowsTest() override { AfxSetMessageBoxHook(m_previousHook); }

  // Runs `command` of the tree on `machine`, answering the wizard.
  bool Command(CKSTreeView* tree, UINT command, bool finish = true) {
    return WithDialog<CKSDeployWizard>([&] { tree->OnCmdMsg(command, CN_COMMAND, nullptr); },
                                       [finish](CKSDeployWizard* wizard) { Answer(wizard, finish); });
  }

  // A tree with `machine` under its preferred machines, selected.
  CKSTreeView* OpenTreeOn(const std::string& machine) {
    auto* pTemplate = new CMultiDocTemplate(IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc), RUNTIME_CLASS(CKSMgrFrame),
                                            RUNTIME_CLASS(CKSTreeView));
    m_session.m_app->AddDocTemplate(pTemplate);
    auto* pDoc = dynamic_cast<CKSMgrDoc*>(pTemplate->OpenDocumentFile(QString()));
    if (!pDoc || !pDoc->m_pTreeView) return nullptr;
    CKSTreeView* tree = pDoc->m_pTreeView;
    EXPECT_TRUE(WaitUntil([tree] {
      QCoreApplication::processEvents();
      return tree->Loader().PendingWork() == 0;
    }));
    for (const auto& root : tree->Tree().Top()->children) {
      if (root->Type() != KS_PREFERRED_MACHINES) continue;
      tree->SelectNode(tree->Tree().InsertKSItem(root.get(), KS_INSERT_SORT, machine, KS_STATE_UNCHECKED, true,
                                                 KS_MACHINE));
    }
    return tree->SelectedMachine() == machine ? tree : nullptr;
  }

  static CCmdUI State(CKSTreeView* tree, UINT command) {
    CCmdUI state(command);
    state.DoUpdate(tree, TRUE);
    return state;
  }

  vn::testing::DeployTestNetwork m_net;
  vn::console::testing::ConsoleSession<> m_session;
  MessageBoxHook m_previousHook;
  std::vector<std::string> m_messages;
};

TEST_F(DeployWindowsTest, WizardsHaveTheirPagesAndTexts) {
  struct Case {
    CKSDeployWizard::Kind kind;
    QString title;
    std::vector<int> pages;
    QString firstText;
  };
  const Case cases[] = {
      {CKSDeployWizard::Install, QStringLiteral("Server Installation Wizard"), {445, 487},
       QStringLiteral("The Server Installation Wizard will prepare a Vornal server on a remote system.")},
      {CKSDeployWizard::Deinstall, QStringLiteral("Server Deinstallation Wizard"), {446, 489},
       QStringLiteral("The Server Deinstallation Wizard will remove the Vornal server from a remote system.")},
  };
  for (const auto& c : cases) {
    CKSDeployWizard wizard(c.kind);
    EXPECT_EQ(wizard.windowTitle(), c.title);
    std::vector<int> pages;
    for (const int id : wizard.pageIds()) pages.push_back(dynamic_cast<CKSWizardPage*>(wizard.page(id))->TemplateId());
    EXPECT_EQ(pages, c.pages);
    const auto labels = wizard.page(wizard.pageIds().front())->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) { return label->text() == c.firstText; }));
    EXPECT_NE(wizard.page(wizard.pageIds().front())->findChild<QLabel*>(QStringLiteral("wizardBitmap1540")), nullptr);
  }
  CKSInsWizardStart start;
  EXPECT_EQ(start.ServerCheck()->text(), QStringLiteral("Vornal 4.0 Server"));
}

TEST_F(DeployWindowsTest, TreeCommandsFollowTheInstallStateAndDriveTheWizards) {
  CKSTreeView* tree = OpenTreeOn("SRV1");
  ASSERT_NE(tree, nullptr);

  CCmdUI install = State(tree, ID_KSINSTALL_SERVER);
  EXPECT_TRUE(install.m_bEnabled);
  EXPECT_EQ(install.m_strText, QStringLiteral("&Install Server..."));
  EXPECT_FALSE(State(tree, ID_KSDEINSTALL_SERVER).m_bEnabled);
  EXPECT_FALSE(State(tree, ID_PROPERTY).m_bEnabled);

  // A double click on it offers the install too. Cancel changes nothing;
  // Finish installs, with the progress window.
  EXPECT_TRUE(WithDialog<CKSDeployWizard>([&] { tree->OnDoubleClicked(tree->TreeWidget()->currentIndex()); },
                                          [](CKSDeployWizard* w) { Answer(w, false); }));
  ASSERT_TRUE(Command(tree, ID_KSINSTALL_SERVER, /*finish=*/false));
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
  ASSERT_TRUE(Command(tree, ID_KSINSTALL_SERVER));
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();
  EXPECT_EQ(GetServerInstallState("SRV1"), kSameBuild);
  const QWidgetList windows = QApplication::topLevelWidgets();
  EXPECT_TRUE(std::none_of(windows.begin(), windows.end(),
                           [](QWidget* w) { return dynamic_cast<CKSInstallProgressDlg*>(w) && w->isVisible(); }))
      << "the progress window is gone";

  EXPECT_FALSE(State(tree, ID_KSINSTALL_SERVER).m_bEnabled);
  EXPECT_TRUE(State(tree, ID_KSDEINSTALL_SERVER).m_bEnabled);
  EXPECT_TRUE(State(tree, ID_PROPERTY).m_bEnabled);

  ASSERT_EQ(vn::testing::RegPutText("SRV1", kProductKey, "ReleaseBuild", "420"), ERROR_SUCCESS);
  install = State(tree, ID_KSINSTALL_SERVER);
  EXPECT_TRUE(install.m_bEnabled);
  EXPECT_EQ(install.m_strText, QStringLiteral("&Update Server..."));

  ASSERT_TRUE(Command(tree, ID_KSDEINSTALL_SERVER));
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);

  // A machine that cannot be reached qualifies for nothing, and its double
  // click opens no wizard.
  m_net.Net().Stop("SRV1");
  for (const UINT command : {ID_KSINSTALL_SERVER, ID_KSDEINSTALL_SERVER, ID_PROPERTY})
    EXPECT_FALSE(State(tree, command).m_bEnabled) << command;
  bool wizard = WithDialog<CKSDeployWizard>(
      [&] { tree->OnDoubleClicked(tree->TreeWidget()->currentIndex()); }, [](CKSDeployWizard* w) { w->reject(); });
  EXPECT_FALSE(wizard);
}

TEST_F(DeployWindowsTest, PropertyPagesStartStopAndAuditThroughTheServiceManager) {
  CKSDeployWindows::SetCompletionPause(0);
  ASSERT_TRUE(WithDialog<CKSDeployWizard>([] { KSPushInstall(nullptr, "SRV1"); },
                                          [](CKSDeployWizard* w) { Answer(w, true); }));
  ASSERT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_RUNNING));
  // The version page starts a stopped server before it asks it.
  ASSERT_EQ(StopServerService("SRV1"), 0u);
  ASSERT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_STOPPED));

  CServerPropertySheet sheet("SRV1");
  EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Properties for SRV1"));
  EXPECT_EQ(sheet.Tabs()->count(), 3);
  sheet.InfoPage()->Retrieve();
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();
  const QString version = sheet.InfoPage()->VersionText()->text();
  EXPECT_TRUE(version.startsWith(QStringLiteral("Application Version 4.0 (Build 434) "))) << version.toStdString();

  CServerServicePage* page = sheet.ServicePage();
  page->FillList();
  QTreeWidget* list = page->List();
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->headerItem()->text(3), QStringLiteral("Status"));
  QTreeWidgetItem* row = list->topLevelItem(0);
  EXPECT_EQ(row->text(0), QStringLiteral("RODuduro"));
  EXPECT_EQ(row->text(1), QStringLiteral("Running"));
  EXPECT_EQ(row->text(2), QStringLiteral("Disabled"));
  page->OnClickList();
  EXPECT_FALSE(page->StartButton()->isEnabled());
  EXPECT_TRUE(page->StopButton()->isEnabled());
  EXPECT_TRUE(page->AuditingButton()->isEnabled());

  page->StopButton()->click();
  EXPECT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_STOPPED));
  EXPECT_EQ(row->text(1), QStringLiteral("Stopped"));
  EXPECT_TRUE(page->StartButton()->isEnabled());
  page->StartButton()->click();
  EXPECT_EQ(vn::testing::ServiceState("SRV1"), DWORD{SERVICE_RUNNING});
  EXPECT_EQ(row->text(1), QStringLiteral("Running"));

  page->AuditingButton()->click();
  EXPECT_EQ(vn::testing::RegText("SRV1", kProductKey, "ServerLogging"), "Enabled");
  EXPECT_EQ(row->text(2), QStringLiteral("Enabled"));
  EXPECT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_RUNNING)) << "restarted to take the setting";
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();

  // Mail: the settings the install copied, an edit, written on OK; the
  // password is not used on Windows NT 4.0 and stays as stored.
  ASSERT_EQ(vn::testing::RegPutText("SRV1", kProductKey, "MailInfo", "kept"), ERROR_SUCCESS);
  CServerMailPage* mail = sheet.MailPage();
  mail->Load();
  EXPECT_EQ(mail->SmtpEdit()->text(), QStringLiteral("mail.testdom"));
  EXPECT_EQ(mail->PasswordEdit()->text(), QStringLiteral("kept"));
  EXPECT_FALSE(mail->PasswordEdit()->isEnabled());
  mail->SmtpEdit()->clear();
  QTest::keyClicks(mail->SmtpEdit(), QStringLiteral("smtp.sales"));
  sheet.accept();
  EXPECT_EQ(vn::testing::RegText("SRV1", kMailKey, "SMTP Server"), "smtp.sales");
  EXPECT_EQ(vn::testing::RegText("SRV1", kProductKey, "MailInfo"), "kept");
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();
}

TEST_F(DeployWindowsTest, AMachineWithoutTheServiceShowsNotInstalledAndStartFailsWithTheSystemText) {
  ASSERT_EQ(vn::testing::RegPutText("SRV2", kProductKey, "ServerLogging", "Logging Enabled"), ERROR_SUCCESS);
  CServerServicePage page;
  page.SetMachineName("SRV2");
  page.FillList();
  QTreeWidgetItem* row = page.List()->topLevelItem(0);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->text(1), QStringLiteral("Stopped"));
  EXPECT_EQ(row->text(2), QStringLiteral("Enabled"));
  EXPECT_EQ(row->text(3), QStringLiteral("Not Installed"));
  page.OnClickList();
  ASSERT_TRUE(page.StartButton()->isEnabled());
  page.StartButton()->click();
  ASSERT_EQ(m_messages.size(), 1u);
  char text[260] = {};
  GetSystemErrorText(ERROR_SERVICE_DOES_NOT_EXIST, text, sizeof text);
  EXPECT_EQ(m_messages[0], text);

  CServerInfoPage info;
  info.SetMachineName("SRV2");
  info.Retrieve();
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_TRUE(m_messages[1].ends_with("Unable to retrieve infomation from server.\n")) << m_messages[1];
}

}  // namespace
