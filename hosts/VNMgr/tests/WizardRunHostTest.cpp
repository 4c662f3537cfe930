// A run started from the report wizard's Finish through the host's main
// window, over the test network: the objects checked on its second page and
// the set chosen on its third reach SRV1's real reporting server ("RODuduro")
// through the same run driver as the object tree's runs, and the merged
// result holds what SRV1's share holds. CONSOLE (this process) and SRV1 run
// their machine services.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "hosts/VNMgr/MainFrame.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/Wait.h"
#include "ui/MessageBox.h"

namespace {

namespace fs = std::filesystem;
using vn::console::CObjectNode;
using vn::testing::WaitUntil;

constexpr int kAllFiles = 7;  // catalogue index of "All Files"

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  if (!node) return nullptr;
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

class WizardRunHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<vn::testing::MachineNetwork>("TESTDOM");
    s_net->Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(s_net->StartAll());
    ASSERT_TRUE(s_net->Start("CONSOLE"));  // servers send progress to the console's pipe through it
    const vn::testing::TestMachine& srv1 = s_net->Machine("SRV1");
    std::ofstream(srv1.ShareDir("Data") / "wizard.txt") << "chosen in the wizard";
    s_server = vn::testing::InstallReportServer(srv1, VN_VNSRV);
    ASSERT_NE(s_server, nullptr);
    ASSERT_TRUE(vn::testing::StartReportServer(s_server, "SRV1"));
    vn::console::ReportSet set;
    set[kAllFiles].Selected = 1;
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", "Daily", set), ERROR_SUCCESS);
  }
  static void TearDownTestSuite() {
    if (s_server) {
      EXPECT_TRUE(vn::testing::StopReportServer(s_server));
      CloseServiceHandle(s_server);
      s_server = nullptr;
    }
    s_net.reset();
  }

  WizardRunHostTest() : m_savedTmp(qgetenv("TMPDIR")) {
    qputenv("TMPDIR", m_tempDir.path().toUtf8());  // merged results go to the test's own directory
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return IDOK;
    });
  }
  ~WizardRunHostTest() override {
    EXPECT_TRUE(m_session.m_mainFrame->EndRuns(std::chrono::seconds(60)));
    m_session.End();
    AfxSetMessageBoxHook(m_previousHook);
    if (m_savedTmp.isNull())
      qunsetenv("TMPDIR");
    else
      qputenv("TMPDIR", m_savedTmp);
  }

  static bool Expand(CReportWizardObj* page, const CObjectNode* node) {
    if (!node) return false;
    page->Expand(node);
    return WaitUntil([page] {
      QCoreApplication::processEvents();
      return page->Loader().PendingWork() == 0;
    });
  }

  static std::unique_ptr<vn::testing::MachineNetwork> s_net;
  static SC_HANDLE s_server;
  QTemporaryDir m_tempDir;
  QByteArray m_savedTmp;
  std::vector<std::string> m_messages;
  MessageBoxHook m_previousHook;
  vn::console::testing::ConsoleSession<CMainFrame> m_session;
};

std::unique_ptr<vn::testing::MachineNetwork> WizardRunHostTest::s_net;
SC_HANDLE WizardRunHostTest::s_server = nullptr;

TEST_F(WizardRunHostTest, FinishRunsTheChosenSetOverTheChosenObjectsThroughTheMainWindow) {
  CReportWizard wizard(QStringLiteral("CONSOLE"), TRUE, m_session.m_mainFrame.get());
  wizard.show();
  wizard.next();
  CReportWizardObj* objects = wizard.ObjectsPage();
  CObjectNode* network = objects->Tree().Top()->children.at(1).get();
  ASSERT_TRUE(Expand(objects, network));
  CObjectNode* domain = Child(network, "Testdom");
  ASSERT_TRUE(Expand(objects, domain));
  CObjectNode* srv1 = Child(domain, "Srv1");
  ASSERT_TRUE(Expand(objects, srv1));
  objects->ClickCheck(Child(srv1, "Data"));
  wizard.next();
  CReportWizardRS* sets = wizard.ReportSetPage();
  EXPECT_EQ(sets->SetList()->topLevelItemCount(), 0) << "CONSOLE stores no set";
  sets->AddLocation(QStringLiteral("SRV1"));
  ASSERT_EQ(sets->SetList()->topLevelItemCount(), 1);
  wizard.next();
  ASSERT_EQ(wizard.currentId(), CReportWizard::kFinishPage);
  wizard.button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard.isVisible());
  ASSERT_TRUE(wizard.RunStarted());
  ASSERT_EQ(m_session.m_mainFrame->OpenRuns(), 1);
  ASSERT_TRUE(WaitUntil(
      [this] {
        QCoreApplication::processEvents();
        return m_session.m_mainFrame->OpenRuns() == 0;
      },
      std::chrono::seconds(120)));
  EXPECT_TRUE(m_messages.empty()) << m_messages.front();

  // No result template in this host: the merged file stays, named in the status bar.
  const fs::path kept = m_session.m_mainFrame->GetKeptResult();
  ASSERT_FALSE(kept.empty());
  std::ifstream in(kept, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("wizard.txt"), std::string::npos) << text;
  in.close();
  fs::remove(kept);
}

}  // namespace
