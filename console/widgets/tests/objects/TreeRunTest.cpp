// Starting a report run from the object tree: the report set picker and the
// computer browser over machines of the test harness, and what the tree's Run
// command hands the main window (a window here that records the records
// instead of starting threads). Real widgets offscreen, the real registry of
// each machine, machines on loopback.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <map>
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
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "platform/ipc/Sync.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/CmdUI.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"
#include "console/widgets/tests/ModalDialogs.h"

namespace {

using vn::console::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

std::vector<QString> Names(const QTreeWidget* list) {
  std::vector<QString> names;
  for (int i = 0; i < list->topLevelItemCount(); ++i) names.push_back(list->topLevelItem(i)->text(0));
  return names;
}

using vn::console::testing::WithDialog;

// Holds every message box text instead of showing it.
class MessageBoxes {
 public:
  MessageBoxes()
      : m_previous(AfxSetMessageBoxHook([this](const QString& text, UINT) {
          texts.push_back(text);
          return IDOK;
        })) {}
  ~MessageBoxes() { AfxSetMessageBoxHook(m_previous); }
  std::vector<QString> texts;

 private:
  MessageBoxHook m_previous;
};

QString SystemText(DWORD code) {
  char text[1025] = {};
  vn::console::GetSystemErrorText(code, text, sizeof text);
  return QString::fromUtf8(text);
}

// A main window that keeps what a run would start with. Answering 0 leaves
// the records to the view that sent them.
class CRecordingFrame : public CMDIFrameWnd {
 public:
  struct Start {
    ReportRunContext context;
    ProgressChannelEntry entry;
  };
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_REPORT_START_RUN) return CMDIFrameWnd::WindowProc(message, wParam, lParam);
    auto [context, entry] = StartRunOf(wParam, lParam);
    starts.push_back({*context, *entry});
    if (!takeOver) return 0;
    delete context;
    delete entry;
    return 1;
  }
  std::vector<Start> starts;
  bool takeOver = false;
};

class TreeRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
    s_net->Add({"SRV2", "LAB", vn::MachineRole::PrimaryDomainController, {"Tools"}});
    ASSERT_TRUE(s_net->StartAll());
    vn::console::ReportSet set;
    set[0].Selected = 1;
    ASSERT_EQ(vn::console::SaveReportSet("", "Daily", set), ERROR_SUCCESS);
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", "Weekly", set), ERROR_SUCCESS);
    ASSERT_EQ(vn::console::SaveReportSet("SRV1", "Audit", set), ERROR_SUCCESS);
    // A user filter of SRV1, stored as the "User Filter" dialog stores it.
    HKEY machine = nullptr;
    HKEY filters = nullptr;
    ASSERT_EQ(vn::console::ConnectMachineRegistry("SRV1", &machine), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(machine, "Software\\Halvard\\Vornal\\4.0\\User Filter", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &filters, nullptr),
              ERROR_SUCCESS);
    const char value[] = "SALES\\alice;SALES\\Domain Admins";
    EXPECT_EQ(RegSetValueExA(filters, "Admins", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(filters);
    vn::console::CloseMachineRegistry(machine);
  }
  static void TearDownTestSuite() { s_net.reset(); }

  TreeRunTest() {
    m_template = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                       RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    m_app->AddDocTemplate(m_template);
  }

  CKSTreeView* OpenTree() {
    auto* pDoc = dynamic_cast<CKSMgrDoc*>(m_template->OpenDocumentFile(QString()));
    if (!pDoc || !pDoc->m_pTreeView) return nullptr;
    CKSTreeView* pTree = pDoc->m_pTreeView;
    return Settle(pTree) ? pTree : nullptr;
  }
  static bool Settle(CKSTreeView* pTree) {
    return WaitUntil([pTree] {
      QCoreApplication::processEvents();
      return pTree->Loader().PendingWork() == 0;
    });
  }
  static CObjectNode* ExpandAndSettle(CKSTreeView* pTree, CObjectNode* node) {
    pTree->Expand(node);
    return Settle(pTree) ? node : nullptr;
  }
  // Runs the tree's Run command, choosing report set `name` on the picker's
  // first computer (or cancelling with an empty name). False when no picker
  // showed.
  static bool Run(CKSTreeView* pTree, const QString& name) {
    return WithDialog<CSelectReportDlg>([pTree] { pTree->OnCmdMsg(vn::console::ID_REPORT_RUN, CN_COMMAND, nullptr); },
                                        [&name](CSelectReportDlg* picker) {
                                          const auto found = picker->NameList()->findItems(name, Qt::MatchExactly);
                                          if (found.isEmpty()) {
                                            picker->reject();
                                            return;
                                          }
                                          picker->NameList()->setCurrentItem(found.front());
                                          picker->OkButton()->click();
                                        });
  }
  static bool RunEnabled(CKSTreeView* pTree) {
    CCmdUI state(vn::console::ID_REPORT_RUN);
    return state.DoUpdate(pTree, TRUE) && state.m_bEnabled;
  }

  static std::unique_ptr<MachineNetwork> s_net;
  vn::console::testing::ConsoleSession<CRecordingFrame> m_session;
  std::unique_ptr<CWinApp>& m_app = m_session.m_app;
  std::unique_ptr<CRecordingFrame>& m_mainFrame = m_session.m_mainFrame;
  CMultiDocTemplate* m_template = nullptr;
};

std::unique_ptr<MachineNetwork> TreeRunTest::s_net;

TEST_F(TreeRunTest, PickerListsTheReportSetsOrFiltersOfTheChosenComputer) {
  MessageBoxes boxes;
  CSelectReportDlg picker(CSelectReportDlg::kReportSet, QStringLiteral("CONSOLE"));
  EXPECT_EQ(picker.windowTitle(), QStringLiteral("Select a Report Set"));
  EXPECT_FALSE(picker.AddButton()->isEnabled());
  EXPECT_EQ(Names(picker.NameList()), (std::vector<QString>{QStringLiteral("Daily")}));
  ASSERT_NE(picker.NameList()->currentItem(), nullptr) << "the first row is selected";
  EXPECT_TRUE(picker.OkButton()->isEnabled());

  // Another computer, by name as "..." would add it: its own sets, first selected.
  picker.AddComputer(QStringLiteral("SRV1"));
  EXPECT_EQ(picker.GetMachine(), QStringLiteral("SRV1"));
  std::vector<QString> names = Names(picker.NameList());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("Audit"), QStringLiteral("Weekly")}));
  EXPECT_EQ(picker.NameList()->selectedItems().size(), 1);
  picker.AddComputer(QStringLiteral("srv1"));
  EXPECT_EQ(picker.ComputerList()->count(), 2) << "a computer is listed once, whatever its letter case";

  // A computer without report sets, and one that is not there.
  picker.AddComputer(QStringLiteral("SRV2"));
  EXPECT_TRUE(Names(picker.NameList()).empty());
  EXPECT_FALSE(picker.OkButton()->isEnabled());
  EXPECT_TRUE(boxes.texts.empty()) << "no sets stored is no failure";
  HKEY absent = nullptr;
  const LONG code = vn::console::ConnectMachineRegistry("NOSUCH", &absent);
  ASSERT_NE(code, ERROR_SUCCESS);
  picker.AddComputer(QStringLiteral("NOSUCH"));
  EXPECT_EQ(boxes.texts, (std::vector<QString>{SystemText(static_cast<DWORD>(code))}));
  EXPECT_FALSE(picker.OkButton()->isEnabled());

  // Back to SRV1: the chosen row is the answer, with its computer.
  picker.ComputerList()->setCurrentIndex(1);
  const auto weekly = picker.NameList()->findItems(QStringLiteral("Weekly"), Qt::MatchExactly);
  ASSERT_EQ(weekly.size(), 1);
  picker.NameList()->setCurrentItem(weekly.front());
  picker.OkButton()->click();
  EXPECT_EQ(picker.result(), QDialog::Accepted);
  EXPECT_EQ(picker.GetMachine(), QStringLiteral("SRV1"));
  EXPECT_EQ(picker.GetName(), QStringLiteral("Weekly"));

  // User filters: value names, and the chosen filter's accounts.
  CSelectReportDlg filters(CSelectReportDlg::kUserFilter, QStringLiteral("SRV1"));
  EXPECT_EQ(filters.windowTitle(), QStringLiteral("Select a User Filter"));
  EXPECT_EQ(Names(filters.NameList()), (std::vector<QString>{QStringLiteral("Admins")}));
  filters.OkButton()->click();
  EXPECT_EQ(filters.result(), QDialog::Accepted);
  EXPECT_EQ(filters.GetName(), QStringLiteral("Admins"));
  EXPECT_EQ(filters.GetFilterValue(), QStringLiteral("SALES\\alice;SALES\\Domain Admins"));
}

TEST_F(TreeRunTest, ComputerBrowserOffersTheComputersOfEachDomain) {
  CComputerBrowserDlg browser;
  EXPECT_EQ(browser.windowTitle(), QStringLiteral("Select a computer"));
  QTreeWidget* tree = browser.Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  QTreeWidgetItem* lab = tree->topLevelItem(0);
  QTreeWidgetItem* sales = tree->topLevelItem(1);
  EXPECT_EQ(lab->text(0), QStringLiteral("LAB"));
  EXPECT_EQ(sales->text(0), QStringLiteral("SALES"));
  ASSERT_EQ(lab->childCount(), 1);
  EXPECT_EQ(lab->child(0)->text(0), QStringLiteral("SRV2"));
  std::vector<QString> salesComputers;
  for (int i = 0; i < sales->childCount(); ++i) salesComputers.push_back(sales->child(i)->text(0));
  EXPECT_EQ(salesComputers, (std::vector<QString>{QStringLiteral("CONSOLE"), QStringLiteral("SRV1")}));

  // A domain is no computer: no choice, OK off.
  tree->setCurrentItem(sales);
  EXPECT_FALSE(browser.OkButton()->isEnabled());
  EXPECT_TRUE(browser.GetComputerName().isEmpty());
  EXPECT_TRUE(browser.SelectComputer(QStringLiteral("srv2")));
  EXPECT_TRUE(browser.OkButton()->isEnabled());
  EXPECT_EQ(browser.GetComputerName(), QStringLiteral("SRV2"));
  EXPECT_FALSE(browser.SelectComputer(QStringLiteral("NOSUCH")));

  // "..." of the picker: the browser's computer joins the list and fills it.
  CSelectReportDlg picker(CSelectReportDlg::kReportSet, QStringLiteral("CONSOLE"));
  EXPECT_TRUE(WithDialog<CComputerBrowserDlg>([&picker] { picker.BrowseButton()->click(); },
                                              [](CComputerBrowserDlg* shown) {
                                                EXPECT_TRUE(shown->SelectComputer(QStringLiteral("SRV1")));
                                                shown->OkButton()->click();
                                              }));
  EXPECT_EQ(picker.ComputerList()->count(), 2);
  EXPECT_EQ(picker.GetMachine(), QStringLiteral("SRV1"));
  EXPECT_EQ(Names(picker.NameList()).size(), 2u);
}

TEST_F(TreeRunTest, RunTakesTheCheckedObjectsOrTheCurrentItemAndBuildsTheRunRecords) {
  CKSTreeView* pTree = OpenTree();
  ASSERT_NE(pTree, nullptr);
  vn::console::CObjectTree& tree = pTree->Tree();
  const HWND hMain = m_mainFrame->GetSafeHwnd();

  // Nothing checked and "My Computer" current: no object, no picker.
  pTree->SelectNode(tree.FirstRoot());
  EXPECT_FALSE(Run(pTree, QStringLiteral("Daily")));
  EXPECT_TRUE(m_mainFrame->starts.empty());

  // Nothing checked, a share current: the share is checked and runs.
  CObjectNode* network = ExpandAndSettle(pTree, tree.Top()->children[1].get());
  ASSERT_NE(network, nullptr);
  CObjectNode* sales = ExpandAndSettle(pTree, Child(network, "Sales"));
  ASSERT_NE(sales, nullptr);
  CObjectNode* srv1 = ExpandAndSettle(pTree, Child(sales, "Srv1"));
  ASSERT_NE(srv1, nullptr);
  CObjectNode* data = Child(srv1, "Data");
  ASSERT_NE(data, nullptr);
  pTree->SelectNode(data);
  ASSERT_TRUE(Run(pTree, QStringLiteral("Daily")));
  EXPECT_EQ(data->state, KS_STATE_CHECKED);
  EXPECT_EQ(srv1->state, KS_STATE_PARTIAL);
  ASSERT_EQ(m_mainFrame->starts.size(), 1u);
  {
    const ReportRunContext& context = m_mainFrame->starts[0].context;
    const ProgressChannelEntry& entry = m_mainFrame->starts[0].entry;
    EXPECT_EQ(context.hNotifyWnd, hMain);
    EXPECT_EQ(context.hStatusWnd, nullptr);
    EXPECT_EQ(context.hCancelEvent, nullptr);
    EXPECT_EQ(context.nCustomReport, 0);
    EXPECT_EQ(context.nUserFilter, 0);
    EXPECT_EQ(context.reportMachine, "CONSOLE");
    EXPECT_EQ(context.reportName, "Daily");
    EXPECT_EQ(context.localObjects, "");
    EXPECT_EQ(context.remoteObjects,
              (std::map<std::string, std::vector<std::string>>{{"SRV1", {"\\\\Srv1\\Data"}}}));
    // One start time names both pipes; the channel serves the local name.
    const std::string local = context.szLocalPipeName;
    const std::string remote = context.szRemotePipeName;
    ASSERT_EQ(local.rfind("\\\\.\\pipe\\", 0), 0u) << local;
    EXPECT_EQ(remote, "\\\\CONSOLE\\pipe\\" + local.substr(9));
    EXPECT_EQ(std::string(entry.szPipeName), local);
    EXPECT_EQ(entry.hCancelEvent, nullptr);
    EXPECT_EQ(entry.hDoneEvent, nullptr);
    EXPECT_EQ(entry.hNotifyWnd, nullptr);
    EXPECT_EQ(entry.hStatusWnd, nullptr);
  }

  // With checks the current item does not count: the local drive and the share,
  // each under its machine. Taken over by the main window this time.
  m_mainFrame->takeOver = true;
  CObjectNode* driveC = Child(tree.FirstRoot(), "C:");
  ASSERT_NE(driveC, nullptr);
  tree.ClickCheckBox(driveC);
  pTree->SelectNode(srv1);
  ASSERT_TRUE(Run(pTree, QStringLiteral("Daily")));
  ASSERT_EQ(m_mainFrame->starts.size(), 2u);
  EXPECT_EQ(m_mainFrame->starts[1].context.localObjects, "C:\\");
  EXPECT_EQ(m_mainFrame->starts[1].context.remoteObjects.at("SRV1"), (std::vector<std::string>{"\\\\Srv1\\Data"}));
  EXPECT_NE(std::string(m_mainFrame->starts[1].context.szLocalPipeName),
            std::string(m_mainFrame->starts[0].context.szLocalPipeName))
      << "every run has its own channel";

  // A cancelled picker starts nothing.
  EXPECT_TRUE(Run(pTree, QString()));
  EXPECT_EQ(m_mainFrame->starts.size(), 2u);

  // A domain never listed, current with nothing checked: its machines are
  // listed first and run whole.
  EXPECT_TRUE(pTree->OnCmdMsg(vn::console::ID_CLEAR_SELECTIONS, CN_COMMAND, nullptr));
  CObjectNode* lab = Child(network, "Lab");
  ASSERT_TRUE(lab != nullptr && lab->children.empty());
  pTree->SelectNode(lab);
  ASSERT_TRUE(Run(pTree, QStringLiteral("Daily")));
  ASSERT_EQ(m_mainFrame->starts.size(), 3u);
  EXPECT_EQ(m_mainFrame->starts[2].context.remoteObjects,
            (std::map<std::string, std::vector<std::string>>{{"SRV2", {"\\\\Srv2"}}}));
  ASSERT_EQ(lab->children.size(), 1u);
  EXPECT_EQ(lab->children[0]->state, KS_STATE_CHECKED);
}

TEST_F(TreeRunTest, RunIsOffWhileAReportIsRunning) {
  CKSTreeView* pTree = OpenTree();
  ASSERT_NE(pTree, nullptr);
  HANDLE finished = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReportFinishedEventName);
  ASSERT_NE(finished, nullptr) << "the tree made the event, signalled";
  EXPECT_TRUE(RunEnabled(pTree));
  ASSERT_TRUE(ResetEvent(finished));
  EXPECT_FALSE(RunEnabled(pTree));
  const std::unique_ptr<QMenu> menu = pTree->CreateContextMenu();
  const auto actions = menu->actions();
  const auto found = std::find_if(actions.begin(), actions.end(), [](const QAction* action) {
    return action->data().toUInt() == vn::console::ID_REPORT_RUN;
  });
  ASSERT_NE(found, actions.end());
  const QAction* run = *found;
  EXPECT_EQ(run->text(), QStringLiteral("Run..."));
  EXPECT_FALSE(run->isEnabled());
  ASSERT_TRUE(SetEvent(finished));
  EXPECT_TRUE(RunEnabled(pTree));
  EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_OBJECT_0) << "looking does not reset it";
  CloseHandle(finished);
}

}  // namespace
