// The "Reports" tab as a user meets it, offscreen over two machines of the test
// harness and the console's own registry: the tree filled from each machine's
// store, the list following it, the choice a run takes, new report sets,
// copy and paste between the machines through the real clipboard, delete with
// and without the question, the filter-added message and the information box.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QCheckBox>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/reports/ReportTree.h"
#include "console/core/reports/UserFilters.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/core/reports/ReportGeneratorDll.h"
#include "console/widgets/reports/CustomReportDialog.h"
#include "console/widgets/reports/CustomReportPages.h"
#include "console/widgets/reports/KSReportListView.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/reports/ReportMessages.h"
#include "console/widgets/reports/ReportSetDialog.h"
#include "console/widgets/reports/ReportTreeDialogs.h"
#include "console/widgets/reports/UserFilterDlg.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "platform/machine/Profile.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "console/widgets/tests/ModalDialogs.h"

namespace {

namespace rc = vn::console;
using rc::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;
using Texts = std::vector<std::string>;

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  if (!node) return nullptr;
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

Texts ChildTexts(const CObjectNode* node) {
  Texts texts;
  for (const auto& child : node->children) texts.push_back(child->Text());
  return texts;
}

Texts Rows(const CKSReportListView* view) {
  Texts rows;
  for (int i = 0; i < view->List()->topLevelItemCount(); ++i)
    rows.push_back(view->List()->topLevelItem(i)->text(0).toStdString());
  return rows;
}

std::string SystemText(DWORD code) {
  char text[1025] = {};
  rc::GetSystemErrorText(code, text, sizeof text);
  return text;
}

using vn::console::testing::WithDialog;

// A set of the given catalogue indexes.
rc::ReportSet SetOf(std::initializer_list<int> reports) {
  rc::ReportSet set;
  for (const int index : reports) set[index].Selected = 1;
  return set;
}

std::vector<int> StoredReports(const std::string& machine, const std::string& name) {
  rc::ReportSet set;
  if (rc::LoadReportSet(machine, name, set) != ERROR_SUCCESS) return {-1};
  std::vector<int> reports;
  for (int i = 0; i < rc::ReportSet::size(); ++i)
    if (set[i].Selected) reports.push_back(i);
  return reports;
}

// SALES with its controller SRV1 and a member server WS1; the console is
// CONSOLE of SALES. Each test starts from the same stores.
class ReportTreeViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {}});
    s_net->Add({"WS1", "SALES", vn::MachineRole::Server, {}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  explicit ReportTreeViewTest(int showReportInfo = 0) {
    for (const char* machine : {"SRV1", "WS1", "CONSOLE"}) {
      for (const char* name : {"Daily", "Weekly", "Monthly", "Old", "Daily 2", "Local Set"})
        (void)rc::DeleteReportSet(machine, name);
      for (const char* name : {"Big Files", "Huge", "Old Logs"}) (void)rc::DeleteCustomReport(machine, name);
      for (const char* name : {"Readers", "Night"}) (void)rc::DeleteUserFilter(machine, name);
    }
    EXPECT_EQ(rc::SaveReportSet("SRV1", "Daily", SetOf({0, 2})), ERROR_SUCCESS);
    EXPECT_EQ(rc::SaveReportSet("SRV1", "Weekly", SetOf({1})), ERROR_SUCCESS);
    EXPECT_EQ(rc::SaveReportSet("WS1", "Old", SetOf({4})), ERROR_SUCCESS);
    EXPECT_EQ(rc::SaveReportSet("CONSOLE", "Local Set", SetOf({3})), ERROR_SUCCESS);
    rc::ReportOptions options{};
    EXPECT_EQ(rc::SaveCustomReportOptions("SRV1", "Big Files", options), ERROR_SUCCESS);
    EXPECT_EQ(rc::StoreUserFilter("SRV1", "Readers", {"SALES\\alice", "SALES\\zed"}, true), ERROR_SUCCESS);
    EXPECT_TRUE(WriteProfileInt("VNMgr", "ShowReportInfo", showReportInfo));

    m_session = std::make_unique<rc::testing::ConsoleSession<CMDIFrameWnd>>();
    m_template = new CMultiDocTemplate(rc::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc), RUNTIME_CLASS(CKSMgrFrame),
                                       RUNTIME_CLASS(CKSTreeView));
    m_session->m_app->AddDocTemplate(m_template);
    m_previous = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return m_answer;
    });
    bKSConfirm = TRUE;
  }
  ~ReportTreeViewTest() override {
    AfxSetMessageBoxHook(m_previous);
    m_session.reset();
  }

  void Open() {
    m_pDoc = dynamic_cast<CKSMgrDoc*>(m_template->OpenDocumentFile(QString()));
    ASSERT_NE(m_pDoc, nullptr);
    m_pFrame = dynamic_cast<CKSMgrFrame*>(m_pDoc->m_pTreeView->GetParentFrame());
    ASSERT_NE(m_pFrame, nullptr);
    m_pFrame->Tabs()->setCurrentIndex(1);
    m_pTree = m_pFrame->ReportTreeView();
    m_pList = m_pFrame->ReportListView();
    ASSERT_TRUE(Settle());
  }
  // Lets the tree's and the list's readings arrive.
  [[nodiscard]] bool Settle() {
    return WaitUntil([this] {
      QCoreApplication::processEvents();
      return m_pTree->PendingWork() == 0 && m_pList->PendingWork() == 0;
    });
  }
  [[nodiscard]] CObjectNode* ExpandAndSettle(CObjectNode* node) {
    if (!node) return nullptr;
    m_pTree->Expand(node);
    return Settle() ? node : nullptr;
  }
  // A machine of SALES, expanded.
  CObjectNode* Machine(const std::string& text) {
    CObjectNode* network = m_pTree->Tree().Top()->children.at(1).get();
    CObjectNode* sales = Child(ExpandAndSettle(network), "Sales");
    return ExpandAndSettle(Child(ExpandAndSettle(sales), text));
  }
  CObjectNode* Folder(CObjectNode* machine, const std::string& text) { return ExpandAndSettle(Child(machine, text)); }
  void Select(const CObjectNode* node) {
    m_pTree->SelectNode(node);
    ASSERT_TRUE(Settle());
  }
  BOOL Command(CView* view, UINT nID) { return view->OnCmdMsg(nID, CN_COMMAND, nullptr); }
  bool Enabled(CCmdTarget* target, UINT nID) {
    CCmdUI state(nID);
    state.DoUpdate(target, TRUE);
    return state.m_bEnabled;
  }

  static std::unique_ptr<MachineNetwork> s_net;
  std::unique_ptr<rc::testing::ConsoleSession<CMDIFrameWnd>> m_session;
  CMultiDocTemplate* m_template = nullptr;
  CKSMgrDoc* m_pDoc = nullptr;
  CKSMgrFrame* m_pFrame = nullptr;
  CKSReportTreeView* m_pTree = nullptr;
  CKSReportListView* m_pList = nullptr;
  std::vector<std::string> m_messages;
  int m_answer = IDYES;
  MessageBoxHook m_previous;
};
std::unique_ptr<MachineNetwork> ReportTreeViewTest::s_net;

TEST_F(ReportTreeViewTest, TreeFillsFromEachMachinesStoreAndTheListShowsTheSelectedItem) {
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "Report.pane.tree", 240));
  Open();
  QAbstractItemModelTester tester(m_pTree->TreeWidget()->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(m_pFrame->Tabs()->tabText(1), QStringLiteral("Reports"));
  EXPECT_EQ(m_pFrame->ReportSplitter()->widget(0), m_pTree);
  EXPECT_EQ(m_pFrame->ReportSplitter()->widget(1), m_pList);
  EXPECT_EQ(m_pFrame->ReportSplitter()->sizes().constFirst(), 240);
  EXPECT_EQ(m_pDoc->m_pReportTreeView, m_pTree);
  EXPECT_EQ(m_pDoc->m_pReportListView, m_pList);
  EXPECT_FALSE(Enabled(m_pFrame, rc::ID_OBJECT_REFRESH)) << "F5 belongs to the Object tab";
  EXPECT_EQ(m_pFrame->GetActiveView(), m_pTree) << "commands go to the report tree";

  rc::CObjectTree& tree = m_pTree->Tree();
  EXPECT_EQ(ChildTexts(tree.Top()), (Texts{"My Computer", "Microsoft Windows Network"}));
  CObjectNode* mine = tree.FirstRoot();
  EXPECT_EQ(ChildTexts(mine), (Texts{"Report Sets", "Custom Reports", "User Filters"})) << "opens expanded";
  EXPECT_EQ(m_pTree->ItemMachine(Child(mine, "Report Sets")), "CONSOLE");
  CObjectNode* localSets = Folder(mine, "Report Sets");
  EXPECT_EQ(ChildTexts(localSets), Texts{"Local Set"});
  EXPECT_EQ(localSets->children[0]->state, KS_STATE_UNCHECKED);

  CObjectNode* srv1 = Machine("Srv1");
  ASSERT_NE(srv1, nullptr);
  EXPECT_EQ(ChildTexts(srv1), (Texts{"Report Sets", "Custom Reports", "User Filters"}));
  CObjectNode* sets = Folder(srv1, "Report Sets");
  CObjectNode* customs = Folder(srv1, "Custom Reports");
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Weekly"}));
  EXPECT_EQ(ChildTexts(customs), Texts{"Big Files"});
  EXPECT_EQ(ChildTexts(Child(srv1, "User Filters")), Texts{"Readers"});
  EXPECT_EQ(m_pTree->ItemMachine(Child(sets, "Daily")), "Srv1");
  // An empty folder loses its expand button once it was looked into.
  CObjectNode* wsCustoms = Folder(Machine("Ws1"), "Custom Reports");
  ASSERT_NE(wsCustoms, nullptr);
  EXPECT_TRUE(wsCustoms->children.empty());
  EXPECT_FALSE(wsCustoms->hasButton);

  // The list, kind by kind: children of roots and folders, a filter's
  // accounts, the reports of a set, nothing for a custom report.
  EXPECT_EQ(m_pList->List()->headerItem()->text(0), QStringLiteral("Information"));
  const struct {
    CObjectNode* item;
    Texts rows;
  } cases[] = {
      {srv1, {"Report Sets", "Custom Reports", "User Filters"}},
      {sets, {"Daily", "Weekly"}},
      {Child(srv1, "User Filters"), {"Readers"}},
      {Child(Child(srv1, "User Filters"), "Readers"), {"SALES\\alice;SALES\\zed"}},
      {Child(sets, "Daily"), {"Partition Summary", "Space By Directory"}},
      {Child(customs, "Big Files"), {}},
      {tree.Top()->children[1].get(), {"Sales"}},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.item, nullptr);
    Select(c.item);
    Texts rows = Rows(m_pList);
    std::sort(rows.begin(), rows.end());
    Texts expected = c.rows;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected) << c.item->Text();
    EXPECT_EQ(m_pList->ShownItem(), c.item->id);
  }
  // A double-click on a machine's row selects that child in the tree.
  Select(srv1);
  m_pList->OpenRow(m_pList->List()->topLevelItem(0));
  EXPECT_EQ(m_pTree->GetSelectedNode(), sets);

  // The pane's width goes back to the profile.
  m_pFrame->ReportSplitter()->setSizes({210, 300});
  m_session->m_app->CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(GetProfileInt("KSMgrFrame", "Report.pane.tree", 0), 210u);
}

TEST_F(ReportTreeViewTest, OneChosenReportAtATimeGoesToTheDocument) {
  Open();
  CObjectNode* srv1 = Machine("Srv1");
  CObjectNode* sets = Folder(srv1, "Report Sets");
  CObjectNode* customs = Folder(srv1, "Custom Reports");
  CObjectNode* daily = Child(sets, "Daily");
  CObjectNode* weekly = Child(sets, "Weekly");
  CObjectNode* big = Child(customs, "Big Files");
  ASSERT_TRUE(daily && weekly && big);

  // Nothing chosen: a folder selected gives the document nothing.
  Select(sets);
  m_pDoc->AddObject("C:\\");
  EXPECT_EQ(m_pFrame->SaveReportData(), 0);
  EXPECT_TRUE(m_pDoc->m_strReportName.isEmpty());
  EXPECT_EQ(m_pDoc->CanRunReport(), 0);

  // The first set selected becomes the choice; later selections leave it.
  Select(weekly);
  EXPECT_EQ(m_pTree->GetChosenNode(), weekly);
  EXPECT_EQ(weekly->state, KS_STATE_CHECKED);
  Select(daily);
  EXPECT_EQ(m_pTree->GetChosenNode(), weekly);
  EXPECT_EQ(daily->state, KS_STATE_UNCHECKED);
  EXPECT_EQ(m_pFrame->SaveReportData(), 1);
  EXPECT_EQ(m_pDoc->m_strReportMachine, QStringLiteral("Srv1"));
  EXPECT_EQ(m_pDoc->m_strReportName, QStringLiteral("Weekly"));
  EXPECT_EQ(m_pDoc->m_nCustomReport, 0);
  EXPECT_EQ(m_pDoc->CanRunReport(), 1);

  // A click on a mark moves it; a click on the chosen one keeps it.
  QAbstractItemModel* model = m_pTree->TreeWidget()->model();
  std::function<QModelIndex(const CObjectNode*)> indexOf = [&](const CObjectNode* node) {
    const CObjectNode* parent = rc::CObjectTree::Parent(node);
    return model->index(node->row, 0, parent ? indexOf(parent) : QModelIndex());
  };
  const QModelIndex bigIndex = indexOf(big);
  ASSERT_EQ(bigIndex.data().toString(), QStringLiteral("Big Files"));
  ASSERT_TRUE(model->setData(bigIndex, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(bigIndex.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(weekly->state, KS_STATE_UNCHECKED);
  ASSERT_TRUE(model->setData(bigIndex, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(big->state, KS_STATE_CHECKED);
  EXPECT_FALSE(indexOf(sets).data(Qt::CheckStateRole).isValid()) << "folders carry no mark";
  EXPECT_EQ(m_pFrame->SaveReportData(), 1);
  EXPECT_EQ(m_pDoc->m_strReportName, QStringLiteral("Big Files"));
  EXPECT_EQ(m_pDoc->m_nCustomReport, 1);

  // Deleting the chosen report (no question asked) leaves none chosen.
  bKSConfirm = FALSE;
  Select(big);
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  EXPECT_TRUE(m_messages.empty());
  EXPECT_FALSE(rc::RegistryKeyExists("SRV1", "Big Files", rc::IDS_CUSTOM_REPORT_KEY_FMT));
  EXPECT_EQ(m_pTree->GetChosenNode(), nullptr);
  EXPECT_EQ(m_pTree->GetSelectedNode(), customs);
  EXPECT_FALSE(customs->hasButton);
  EXPECT_EQ(m_pDoc->CanRunReport(), 0);
  EXPECT_EQ(m_pFrame->SaveReportData(), 0);
}

TEST_F(ReportTreeViewTest, CommandsApplyToTheirKindsAndNewSetsAreStoredAndShown) {
  Open();
  CObjectNode* srv1 = Machine("Srv1");
  CObjectNode* sets = Folder(srv1, "Report Sets");
  CObjectNode* customs = Folder(srv1, "Custom Reports");
  CObjectNode* filters = Child(srv1, "User Filters");
  // New, Properties, Delete, Copy, Paste by the kind selected (the clipboard
  // holds nothing of ours yet).
  QApplication::clipboard()->clear();
  const struct {
    CObjectNode* item;
    std::vector<bool> enabled;
  } cases[] = {
      {srv1, {false, false, false, false, false}},
      {filters, {true, false, false, false, false}},
      {Child(filters, "Readers"), {true, true, true, false, false}},
      {sets, {true, false, false, false, false}},
      {Child(sets, "Daily"), {true, true, true, true, false}},
      {customs, {true, false, false, false, false}},
      {Child(customs, "Big Files"), {true, true, true, true, false}},
  };
  for (const auto& c : cases) {
    Select(c.item);
    std::vector<bool> enabled;
    const std::unique_ptr<QMenu> menu = m_pTree->CreateContextMenu();
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) enabled.push_back(action->isEnabled());
    EXPECT_EQ(enabled, c.enabled) << c.item->Text();
  }

  // The editor cancelled stores nothing.
  Select(sets);
  EXPECT_TRUE(WithDialog<CReportSetDialog>([&] { Command(m_pTree, rc::ID_OBJECT_NEW); },
                                           [](CReportSetDialog* dialog) { dialog->reject(); }));
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Weekly"}));

  // What OK does with the editor's set: stored, shown sorted and selected.
  ASSERT_TRUE(m_pTree->SaveNewReportSet(sets, "Monthly", SetOf({5, 7})));
  EXPECT_EQ(StoredReports("SRV1", "Monthly"), (std::vector<int>{5, 7}));
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Monthly", "Weekly"}));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(m_pTree->GetSelectedNode(), Child(sets, "Monthly"));
  // The same name again: asked first; No keeps the stored set, Yes replaces it
  // without a second item.
  m_answer = IDNO;
  EXPECT_FALSE(m_pTree->SaveNewReportSet(sets, "Monthly", SetOf({9})));
  EXPECT_EQ(m_messages, Texts{"The report set Monthly already exists.\nDo you want to replace it?\n"});
  EXPECT_EQ(StoredReports("SRV1", "Monthly"), (std::vector<int>{5, 7}));
  m_answer = IDYES;
  EXPECT_TRUE(m_pTree->SaveNewReportSet(sets, "Monthly", SetOf({9})));
  EXPECT_EQ(StoredReports("SRV1", "Monthly"), std::vector<int>{9});
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Monthly", "Weekly"}));
  // A name the store refuses: the system's text, nothing shown.
  m_messages.clear();
  EXPECT_FALSE(m_pTree->SaveNewReportSet(sets, "A\\B", SetOf({1})));
  EXPECT_EQ(m_messages, Texts{SystemText(ERROR_INVALID_NAME)});

  // On a folder never opened: it is filled with the stored sets and the new one.
  CObjectNode* ws1 = Machine("Ws1");
  CObjectNode* wsSets = Child(ws1, "Report Sets");
  ASSERT_FALSE(wsSets->expandedOnce);
  ASSERT_TRUE(m_pTree->SaveNewReportSet(wsSets, "Monthly", SetOf({2})));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(ChildTexts(wsSets), (Texts{"Monthly", "Old"}));
  EXPECT_EQ(m_pTree->GetSelectedNode(), Child(wsSets, "Monthly"));
}

TEST_F(ReportTreeViewTest, CopyOnOneMachineAndPasteOnAnotherWithReplaceAndRename) {
  Open();
  CObjectNode* sets = Folder(Machine("Srv1"), "Report Sets");
  CObjectNode* customs = Folder(Machine("Srv1"), "Custom Reports");
  CObjectNode* wsSets = Folder(Machine("Ws1"), "Report Sets");
  CObjectNode* wsCustoms = Folder(Machine("Ws1"), "Custom Reports");

  Select(Child(sets, "Daily"));
  ASSERT_TRUE(Command(m_pTree, rc::ID_REPORT_COPY));
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  ASSERT_NE(clip, nullptr);
  ASSERT_TRUE(clip->hasFormat(QStringLiteral("Vornal ReportSet Format")));
  const QByteArray bytes = clip->data(QStringLiteral("Vornal ReportSet Format"));
  const auto entries = rc::DecodeReportClip(std::span<const char>(bytes.constData(), std::size_t(bytes.size())));
  ASSERT_TRUE(entries && entries->size() == 1);
  EXPECT_EQ(entries->front().text, "Srv1\\Daily");

  // Paste only where the kind fits.
  Select(wsCustoms);
  EXPECT_FALSE(Enabled(m_pTree, rc::ID_REPORT_PASTE));
  Select(wsSets);
  ASSERT_TRUE(Enabled(m_pTree, rc::ID_REPORT_PASTE));
  ASSERT_TRUE(Command(m_pTree, rc::ID_REPORT_PASTE));
  EXPECT_EQ(StoredReports("WS1", "Daily"), (std::vector<int>{0, 2}));
  EXPECT_EQ(ChildTexts(wsSets), (Texts{"Daily", "Old"}));
  EXPECT_EQ(Rows(m_pList), (Texts{"Daily", "Old"})) << "the folder shown is refilled";

  // Again: the name exists. "Save the report as:" needs a name the machine lacks.
  ASSERT_TRUE(WithDialog<CReportExistsDlg>([&] { Command(m_pTree, rc::ID_REPORT_PASTE); },
                                           [this](CReportExistsDlg* dialog) {
                                             EXPECT_EQ(dialog->Text(), QStringLiteral("Report Daily exists."));
                                             EXPECT_TRUE(dialog->IsReplace());
                                             dialog->SaveAsButton()->setChecked(true);
                                             EXPECT_FALSE(dialog->OkButton()->isEnabled());
                                             dialog->NameEdit()->setText(QStringLiteral("Old"));
                                             ASSERT_TRUE(dialog->OkButton()->isEnabled());
                                             dialog->OkButton()->click();
                                             EXPECT_EQ(m_messages, Texts{"Report Set Old exists."});
                                             EXPECT_TRUE(dialog->isVisible());
                                             dialog->NameEdit()->setText(QStringLiteral("Daily 2"));
                                             dialog->OkButton()->click();
                                           }));
  EXPECT_EQ(StoredReports("WS1", "Daily 2"), (std::vector<int>{0, 2}));
  EXPECT_EQ(StoredReports("WS1", "Old"), std::vector<int>{4});
  EXPECT_EQ(ChildTexts(wsSets), (Texts{"Daily", "Daily 2", "Old"}));

  // Replace: the source's current content, no new item; Cancel: nothing.
  ASSERT_EQ(rc::SaveReportSet("SRV1", "Daily", SetOf({6})), ERROR_SUCCESS);
  ASSERT_TRUE(WithDialog<CReportExistsDlg>([&] { Command(m_pTree, rc::ID_REPORT_PASTE); },
                                           [](CReportExistsDlg* dialog) { dialog->OkButton()->click(); }));
  EXPECT_EQ(StoredReports("WS1", "Daily"), std::vector<int>{6});
  EXPECT_EQ(ChildTexts(wsSets), (Texts{"Daily", "Daily 2", "Old"}));
  ASSERT_EQ(rc::SaveReportSet("SRV1", "Daily", SetOf({8})), ERROR_SUCCESS);
  ASSERT_TRUE(WithDialog<CReportExistsDlg>([&] { Command(m_pTree, rc::ID_REPORT_PASTE); },
                                           [](CReportExistsDlg* dialog) { dialog->reject(); }));
  EXPECT_EQ(StoredReports("WS1", "Daily"), std::vector<int>{6});

  // Onto the machine it came from with Replace: nothing copied, nothing added.
  Select(sets);
  m_messages.clear();
  ASSERT_TRUE(WithDialog<CReportExistsDlg>([&] { Command(m_pTree, rc::ID_REPORT_PASTE); },
                                           [](CReportExistsDlg* dialog) { dialog->OkButton()->click(); }));
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Weekly"}));
  EXPECT_EQ(StoredReports("SRV1", "Daily"), std::vector<int>{8});
  EXPECT_TRUE(m_messages.empty());

  // Custom reports go through their own format; the list copies several rows as one record.
  Select(Child(customs, "Big Files"));
  ASSERT_TRUE(Command(m_pTree, rc::ID_REPORT_COPY));
  EXPECT_FALSE(QApplication::clipboard()->mimeData()->hasFormat(QStringLiteral("Vornal ReportSet Format")));
  Select(wsCustoms);
  ASSERT_TRUE(Command(m_pTree, rc::ID_REPORT_PASTE));
  EXPECT_TRUE(rc::RegistryKeyExists("WS1", "Big Files", rc::IDS_CUSTOM_REPORT_KEY_FMT));
  EXPECT_EQ(ChildTexts(wsCustoms), Texts{"Big Files"});
  EXPECT_TRUE(wsCustoms->hasButton);

  Select(sets);
  for (int i = 0; i < m_pList->List()->topLevelItemCount(); ++i) m_pList->List()->topLevelItem(i)->setSelected(true);
  ASSERT_TRUE(Command(m_pList, rc::ID_REPORT_COPY));
  const QByteArray two = QApplication::clipboard()->mimeData()->data(QStringLiteral("Vornal ReportSet Format"));
  const auto both = rc::DecodeReportClip(std::span<const char>(two.constData(), std::size_t(two.size())));
  ASSERT_TRUE(both && both->size() == 2);
  EXPECT_EQ((*both)[0].text, "Srv1\\Daily");
  EXPECT_EQ((*both)[1].text, "Srv1\\Weekly");
  Select(Folder(m_pTree->Tree().FirstRoot(), "Report Sets"));
  ASSERT_TRUE(Command(m_pList, rc::ID_REPORT_PASTE));
  EXPECT_EQ(StoredReports("CONSOLE", "Weekly"), std::vector<int>{1});
  EXPECT_EQ(Rows(m_pList), (Texts{"Daily", "Local Set", "Weekly"}));
}

TEST_F(ReportTreeViewTest, DeleteAsksWhileConfirmIsOnAndTheListDeletesItsRows) {
  Open();
  CObjectNode* srv1 = Machine("Srv1");
  CObjectNode* sets = Folder(srv1, "Report Sets");
  CObjectNode* filters = Child(srv1, "User Filters");

  // The question, answered No then Yes.
  Select(Child(sets, "Weekly"));
  m_answer = IDNO;
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  EXPECT_EQ(m_messages, Texts{"Delete report Weekly.  Are you sure?"});
  EXPECT_TRUE(rc::RegistryKeyExists("SRV1", "Weekly", rc::IDS_REPORT_SET_KEY_FMT));
  EXPECT_EQ(ChildTexts(sets), (Texts{"Daily", "Weekly"}));
  m_answer = IDYES;
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  EXPECT_FALSE(rc::RegistryKeyExists("SRV1", "Weekly", rc::IDS_REPORT_SET_KEY_FMT));
  EXPECT_EQ(ChildTexts(sets), Texts{"Daily"});
  EXPECT_EQ(m_pTree->GetSelectedNode(), sets);
  EXPECT_EQ(Rows(m_pList), Texts{"Daily"});

  // A user filter, asked about in the same words; its folder ends empty.
  m_messages.clear();
  Select(Child(filters, "Readers"));
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  EXPECT_EQ(m_messages, Texts{"Delete report Readers.  Are you sure?"});
  std::string value;
  EXPECT_EQ(rc::ReadUserFilter("SRV1", "Readers", &value), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(filters->children.empty());

  // The list: one question for all selected rows, each row's item deleted.
  ASSERT_TRUE(m_pTree->SaveNewReportSet(sets, "Old", SetOf({2})));
  ASSERT_TRUE(Settle());
  Select(sets);
  m_messages.clear();
  ASSERT_EQ(Rows(m_pList), (Texts{"Daily", "Old"}));
  for (int i = 0; i < 2; ++i) m_pList->List()->topLevelItem(i)->setSelected(true);
  EXPECT_TRUE(Command(m_pList, rc::ID_OBJECT_DELETE));
  EXPECT_EQ(m_messages, Texts{"Are you sure you want to delete the selected item(s)?"});
  EXPECT_TRUE(sets->children.empty());
  EXPECT_FALSE(sets->hasButton);
  EXPECT_TRUE(Rows(m_pList).empty());
  EXPECT_FALSE(rc::RegistryKeyExists("SRV1", "Daily", rc::IDS_REPORT_SET_KEY_FMT));

  // Without the question; a machine that does not answer keeps its item and says why.
  bKSConfirm = FALSE;
  m_messages.clear();
  CObjectNode* wsSets = Folder(Machine("Ws1"), "Report Sets");
  Select(Child(wsSets, "Old"));
  s_net->Stop("WS1");
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  ASSERT_TRUE(s_net->Start("WS1"));
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(ChildTexts(wsSets), Texts{"Old"});
  m_messages.clear();
  EXPECT_TRUE(Command(m_pTree, rc::ID_OBJECT_DELETE));
  EXPECT_TRUE(m_messages.empty());
  EXPECT_TRUE(wsSets->children.empty());
}

TEST_F(ReportTreeViewTest, DoubleClickOpensWhatEachKindOfRowStandsFor) {
  Open();
  CObjectNode* srv1 = Machine("Srv1");
  CObjectNode* sets = Folder(srv1, "Report Sets");
  CObjectNode* customs = Folder(srv1, "Custom Reports");
  CObjectNode* filters = Child(srv1, "User Filters");
  const auto row = [this](const char* text) {
    for (int i = 0; i < m_pList->List()->topLevelItemCount(); ++i)
      if (m_pList->List()->topLevelItem(i)->text(0) == QLatin1String(text)) return m_pList->List()->topLevelItem(i);
    return static_cast<QTreeWidgetItem*>(nullptr);
  };
  // A set of "Report Sets", and a report of a set: the editor on the stored set.
  Select(sets);
  QString edited;
  EXPECT_TRUE(WithDialog<CReportSetDialog>([&] { m_pList->OpenRow(row("Weekly")); },
                                           [&](CReportSetDialog* dialog) {
                                             edited = dialog->GetName();
                                             dialog->reject();
                                           }));
  EXPECT_EQ(edited, QStringLiteral("Weekly"));
  Select(Child(sets, "Daily"));
  EXPECT_TRUE(WithDialog<CReportSetDialog>([&] { m_pList->OpenRow(row("Space By Directory")); },
                                           [&](CReportSetDialog* dialog) {
                                             edited = dialog->GetName();
                                             dialog->reject();
                                           }));
  EXPECT_EQ(edited, QStringLiteral("Daily"));
  // A set that is gone says so and opens nothing.
  ASSERT_EQ(rc::DeleteReportSet("SRV1", "Daily"), ERROR_SUCCESS);
  EXPECT_FALSE(WithDialog<CReportSetDialog>([&] { m_pList->OpenRow(row("Space By Directory")); },
                                            [](CReportSetDialog* dialog) { dialog->reject(); }));
  EXPECT_EQ(m_messages.size(), 1u);

  // A filter of "User Filters", a filter shown, and Properties in the tree:
  // "User Filter" on that filter of that machine.
  const auto filterDialog = [](const std::function<void()>& action) {
    QString opened;
    WithDialog<CUserFilterDlg>(action, [&](CUserFilterDlg* dialog) {
      opened = dialog->GetMachine() + QLatin1Char('\\') + dialog->GetFilterName();
      dialog->reject();
    });
    return opened.toStdString();
  };
  Select(filters);
  EXPECT_EQ(filterDialog([&] { m_pList->OpenRow(row("Readers")); }), "Srv1\\Readers");
  Select(Child(filters, "Readers"));
  EXPECT_EQ(filterDialog([&] { m_pList->OpenRow(row("SALES\\alice;SALES\\zed")); }), "Srv1\\Readers");
  EXPECT_EQ(filterDialog([&] { Command(m_pTree, rc::ID_REPORT_PROPERTIES); }), "Srv1\\Readers");
  // A custom report's row opens the designer on it.
  Select(customs);
  QString designed;
  m_messages.clear();
  EXPECT_TRUE(WithDialog<CCustomReportDialog>([&] { m_pList->OpenRow(row("Big Files")); },
                                              [&](CCustomReportDialog* dialog) {
                                                designed = dialog->NameEdit()->text();
                                                EXPECT_TRUE(dialog->NameEdit()->isReadOnly());
                                                dialog->reject();
                                              }));
  EXPECT_EQ(designed, QStringLiteral("Big Files"));
  EXPECT_TRUE(m_messages.empty()) << "options without a definition open quietly";
  // New on the folder: the designed report is stored on SRV1 with its
  // definition and shown under the folder.
  Select(customs);
  ASSERT_TRUE(WithDialog<CCustomReportDialog>([&] { Command(m_pTree, rc::ID_OBJECT_NEW); },
                                              [](CCustomReportDialog* dialog) {
                                                EXPECT_FALSE(dialog->OkButton()->isEnabled());
                                                dialog->NameEdit()->setText(QStringLiteral("Old Logs"));
                                                emit dialog->NameEdit()->textEdited(QStringLiteral("Old Logs"));
                                                dialog->QueryPage(false)->QueryEdit()->setText(
                                                    QStringLiteral("RevisedDays > 365"));
                                                dialog->OkButton()->click();
                                              }));
  vn::console::ReportGeneratorDll stored;
  ASSERT_EQ(stored.LoadReportDefinition("SRV1", "Old Logs"), 0) << stored.LoadMessage();
  EXPECT_EQ(stored.QueryText(), "RevisedDays > 365");
  EXPECT_NE(Child(customs, "Old Logs"), nullptr);

  // New on a filter: the new filter is shown under the folder and selected.
  Select(Child(filters, "Readers"));
  ASSERT_TRUE(WithDialog<CUserFilterDlg>([&] { Command(m_pTree, rc::ID_OBJECT_NEW); },
                                         [](CUserFilterDlg* dialog) {
                                           EXPECT_TRUE(dialog->IsNewFilter());
                                           dialog->NameEdit()->setText(QStringLiteral("Night"));
                                           dialog->AddAccounts(QStringLiteral("SALES\\carol"));
                                           dialog->accept();
                                         }));
  EXPECT_EQ(ChildTexts(filters), (Texts{"Night", "Readers"}));
  EXPECT_EQ(m_pTree->GetSelectedNode(), Child(filters, "Night"));
  std::string value;
  EXPECT_EQ(rc::ReadUserFilter("SRV1", "Night", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, "SALES\\carol");
}

TEST_F(ReportTreeViewTest, FiltersMadeInThePickerJoinTheirMachinesFolder) {
  Open();
  CObjectNode* ws1 = Machine("Ws1");
  CObjectNode* mine = m_pTree->Tree().FirstRoot();
  const auto post = [this](const char* text) {
    char* copy = new char[std::strlen(text) + 1];
    std::strcpy(copy, text);
    if (!PostMessageA(m_pTree->GetSafeHwnd(), WM_KS_USER_FILTER_ADDED, 0, reinterpret_cast<LPARAM>(copy))) delete[] copy;
    QCoreApplication::processEvents();
  };
  post("WS1\\Night");
  post("CONSOLE\\Night");
  post("SRV1\\Night");  // a machine never opened: nothing to add to
  post("no backslash");
  EXPECT_EQ(ChildTexts(Child(ws1, "User Filters")), Texts{"Night"});
  EXPECT_EQ(ChildTexts(Child(mine, "User Filters")), Texts{"Night"});
  EXPECT_TRUE(Child(ws1->parent, "Srv1")->children.empty());
  post("WS1\\Night");
  EXPECT_EQ(ChildTexts(Child(ws1, "User Filters")), Texts{"Night"}) << "once only";
}

// The information box, shown while "ShowReportInfo" is set.
class ReportInfoTest : public ReportTreeViewTest {
 protected:
  ReportInfoTest() : ReportTreeViewTest(1) {}
};

TEST_F(ReportInfoTest, InformationBoxComesBackUntilItsCheckBoxIsUsed) {
  Open();
  CObjectNode* sets = Folder(Machine("Srv1"), "Report Sets");
  CObjectNode* localSets = Folder(m_pTree->Tree().FirstRoot(), "Report Sets");
  const auto select = [this](CObjectNode* node, bool tick) {
    QString text;
    const bool shown = WithDialog<CReportInfoDlg>([&] { m_pTree->SelectNode(node); },
                                                  [&](CReportInfoDlg* dialog) {
                                                    text = dialog->Text();
                                                    dialog->DontShowBox()->setChecked(tick);
                                                    dialog->accept();
                                                  });
    return shown ? text.toStdString() : std::string();
  };
  EXPECT_EQ(select(Child(sets, "Daily"), false), "The current selected report set is Srv1\\Daily.");
  EXPECT_EQ(select(Child(localSets, "Local Set"), true), "The current selected report set is CONSOLE\\Local Set.");
  // Gone for the rest of the run, and for the next run too.
  EXPECT_FALSE(WithDialog<CReportInfoDlg>([&] { m_pTree->SelectNode(Child(sets, "Weekly")); },
                                          [](CReportInfoDlg* dialog) { dialog->accept(); }));
  m_session.reset();
  EXPECT_EQ(GetProfileInt("VNMgr", "ShowReportInfo", 1), 0u);
}

}  // namespace
