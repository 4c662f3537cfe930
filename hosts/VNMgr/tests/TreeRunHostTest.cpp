// A report run from the object tree through the host's main window, over the
// test network (and the schedule list the window shows after a batch job): the window starts the run's threads, merges what the server
// sends, keeps the finished event reset until the run's channel closes, and
// at exit cancels a run that is still going without leaving a file behind.
// CONSOLE (this process) and SRV1 run their machine services; SRV1 runs the
// real reporting server as its service "RODuduro".
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/run/RunMessages.h"
#include "console/widgets/schedule/KSScheDoc.h"
#include "console/widgets/schedule/KSScheView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "hosts/VNMgr/MainFrame.h"
#include "platform/ipc/Pipes.h"
#include "platform/core/WideString.h"
#include "platform/ipc/Sync.h"
#include "platform/services/NetSchedule.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/Wait.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

namespace fs = std::filesystem;
using vn::console::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

constexpr int kAllFiles = 7;  // catalogue index of "All Files"

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  if (!node) return nullptr;
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

std::vector<fs::path> FilesIn(const QString& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir.toStdString())) files.push_back(entry.path());
  return files;
}

class TreeRunHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("TESTDOM");
    s_net->Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(s_net->StartAll());
    // Servers send their progress to the console's pipe through its service.
    ASSERT_TRUE(s_net->Start("CONSOLE"));
    const vn::testing::TestMachine& srv1 = s_net->Machine("SRV1");
    std::ofstream(srv1.ShareDir("Data") / "hello.txt") << "hello";
    s_server = vn::testing::InstallReportServer(srv1, VN_VNSRV);
    ASSERT_NE(s_server, nullptr);
    ASSERT_TRUE(vn::testing::StartReportServer(s_server, "SRV1"));

    vn::console::ReportSet set;
    set[kAllFiles].Selected = 1;
    ASSERT_EQ(vn::console::SaveReportSet("", "Daily", set), ERROR_SUCCESS);
  }
  static void TearDownTestSuite() {
    if (s_server) {
      EXPECT_TRUE(vn::testing::StopReportServer(s_server));
      CloseServiceHandle(s_server);
      s_server = nullptr;
    }
    s_net.reset();
  }

  TreeRunHostTest() : m_savedTmp(qgetenv("TMPDIR")) {
    // Merged results go to a directory of the test's own.
    qputenv("TMPDIR", m_tempDir.path().toUtf8());
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text);
      return IDOK;
    });
    m_template = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                       RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    m_app->AddDocTemplate(m_template);
  }
  ~TreeRunHostTest() override {
    EXPECT_TRUE(m_mainFrame->EndRuns(std::chrono::seconds(60)));
    m_session.End();
    AfxSetMessageBoxHook(m_previousHook);
    if (m_savedTmp.isNull())
      qunsetenv("TMPDIR");
    else
      qputenv("TMPDIR", m_savedTmp);
  }

  // The tree, with SRV1's share "Data" current and nothing checked.
  CKSTreeView* OpenTreeAtShare() {
    auto* pDoc = dynamic_cast<CKSMgrDoc*>(m_template->OpenDocumentFile(QString()));
    if (!pDoc || !pDoc->m_pTreeView) return nullptr;
    CKSTreeView* pTree = pDoc->m_pTreeView;
    auto expand = [pTree](CObjectNode* node) -> CObjectNode* {
      if (!node) return nullptr;
      pTree->Expand(node);
      const bool settled = WaitUntil([pTree] {
        QCoreApplication::processEvents();
        return pTree->Loader().PendingWork() == 0;
      });
      return settled ? node : nullptr;
    };
    CObjectNode* network = expand(pTree->Tree().Top()->children[1].get());
    CObjectNode* srv1 = expand(Child(expand(Child(network, "Testdom")), "Srv1"));
    CObjectNode* data = Child(srv1, "Data");
    if (!data) return nullptr;
    pTree->SelectNode(data);
    return pTree;
  }

  // The tree's Run with report set "Daily" of this machine.
  static void RunDaily(CKSTreeView* pTree) {
    QObject guard;
    std::function<void()> answer = [&] {
      if (auto* picker = dynamic_cast<CSelectReportDlg*>(QApplication::activeModalWidget())) {
        const auto daily = picker->NameList()->findItems(QStringLiteral("Daily"), Qt::MatchExactly);
        if (daily.isEmpty()) {
          picker->reject();
        } else {
          picker->NameList()->setCurrentItem(daily.front());
          picker->OkButton()->click();
        }
        return;
      }
      QTimer::singleShot(5, &guard, answer);
    };
    QTimer::singleShot(0, &guard, answer);
    pTree->OnCmdMsg(vn::console::ID_REPORT_RUN, CN_COMMAND, nullptr);
  }

  static std::unique_ptr<MachineNetwork> s_net;
  static SC_HANDLE s_server;
  QTemporaryDir m_tempDir;
  QByteArray m_savedTmp;
  std::vector<QString> m_messages;
  MessageBoxHook m_previousHook;
  vn::console::testing::ConsoleSession<CMainFrame> m_session;
  std::unique_ptr<CWinApp>& m_app = m_session.m_app;
  std::unique_ptr<CMainFrame>& m_mainFrame = m_session.m_mainFrame;
  CMultiDocTemplate* m_template = nullptr;
};

std::unique_ptr<MachineNetwork> TreeRunHostTest::s_net;
SC_HANDLE TreeRunHostTest::s_server = nullptr;

TEST_F(TreeRunHostTest, TreeRunMergesTheServersResultAndEnablesRunAgainWhenItEnds) {
  CKSTreeView* pTree = OpenTreeAtShare();
  ASSERT_NE(pTree, nullptr);
  HANDLE finished = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReportFinishedEventName);
  ASSERT_NE(finished, nullptr);
  RunDaily(pTree);
  ASSERT_EQ(m_mainFrame->OpenRuns(), 1);
  EXPECT_NE(WaitForSingleObject(finished, 0), WAIT_OBJECT_0) << "reset while the run goes on";
  ASSERT_TRUE(WaitUntil(
      [this] {
        QCoreApplication::processEvents();
        return m_mainFrame->OpenRuns() == 0;
      },
      std::chrono::seconds(120)));
  EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_OBJECT_0);
  CloseHandle(finished);
  EXPECT_TRUE(m_messages.empty()) << m_messages.front().toStdString();

  // No result window in this host: the merged file stays, named in the status bar.
  const fs::path kept = m_mainFrame->GetKeptResult();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.parent_path(), fs::path(m_tempDir.path().toStdString()));
  std::ifstream in(kept, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("hello.txt"), std::string::npos) << text;
  EXPECT_EQ(FilesIn(m_tempDir.path()), (std::vector<fs::path>{kept})) << "one file per report, nothing else";
  fs::remove(kept);
}

TEST_F(TreeRunHostTest, EndingWhileARunGoesOnCancelsItAndKeepsNothing) {
  CKSTreeView* pTree = OpenTreeAtShare();
  ASSERT_NE(pTree, nullptr);
  RunDaily(pTree);
  ASSERT_EQ(m_mainFrame->OpenRuns(), 1);
  EXPECT_TRUE(m_mainFrame->EndRuns(std::chrono::seconds(60)));
  EXPECT_EQ(m_mainFrame->OpenRuns(), 0);
  EXPECT_TRUE(m_mainFrame->GetKeptResult().empty());
  EXPECT_TRUE(FilesIn(m_tempDir.path()).empty());
  // A frame that is ending takes no new run.
  RunDaily(pTree);
  EXPECT_EQ(m_mainFrame->OpenRuns(), 0);
  HANDLE finished = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReportFinishedEventName);
  ASSERT_NE(finished, nullptr);
  EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_OBJECT_0);
  CloseHandle(finished);
}

}  // namespace

namespace {

// A job added from the run form shows this computer's schedule list: the
// first time in a new window, then the same window read again.
TEST_F(TreeRunHostTest, ABatchSubmittedShowsThisComputersScheduleList) {
  auto* pTemplate = new CMultiDocTemplate(vn::console::IDR_KSSCHETYPE, RUNTIME_CLASS(CKSScheDoc),
                                          RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CKSScheView));
  m_app->AddDocTemplate(pTemplate);
  m_mainFrame->SetScheduleTemplate(pTemplate);
  const auto addJob = [](const char* command) {
    std::u16string wide = vn::ToWide(command);
    AT_INFO info{3'600'000, 0, 0, 0, wide.data()};
    DWORD id = 0;
    return NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &id) == 0;
  };
  ASSERT_TRUE(addJob("VN /rs \"Daily\" /on \"C:\\\\\""));
  const auto list = [] {
    const auto open = CKSScheView::m_mapSchedule.find("CONSOLE");
    return open == CKSScheView::m_mapSchedule.end() ? nullptr : open->second;
  };

  PostMessageA(m_mainFrame->GetSafeHwnd(), WM_REPORT_BATCH_SUBMITTED, 0, 0);
  ASSERT_TRUE(WaitUntil([&] {
    QCoreApplication::processEvents();
    return list() != nullptr;
  }));
  CKSScheView* first = list();
  ASSERT_EQ(first->Rows().size(), 1u);
  EXPECT_EQ(first->Rows()[0].cells[1], "Daily");

  ASSERT_TRUE(addJob("backup.sh"));
  PostMessageA(m_mainFrame->GetSafeHwnd(), WM_REPORT_BATCH_SUBMITTED, 0, 0);
  ASSERT_TRUE(WaitUntil([&] {
    QCoreApplication::processEvents();
    return first->Rows().size() == 2;
  }));
  EXPECT_EQ(list(), first);
  EXPECT_EQ(pTemplate->GetDocuments().size(), 1u);
}

}  // namespace
