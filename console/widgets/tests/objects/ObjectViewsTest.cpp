// The manager window as a user meets it: the frame with its Object tab and
// remembered placement, the object tree filling as it is expanded and feeding
// the document, the information pane following the selection, the context
// menu, and the two machine dialogs. Real widgets offscreen, machines of the
// test harness on loopback.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/AddPreferredMachineDlg.h"
#include "console/widgets/objects/ChooseServerDlg.h"
#include "console/widgets/objects/KSListView.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "platform/machine/Profile.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

namespace fs = std::filesystem;
using vn::console::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

std::vector<std::string> Texts(const CObjectNode* node) {
  std::vector<std::string> texts;
  for (const auto& child : node->children) texts.push_back(child->Text());
  return texts;
}

std::vector<std::pair<QString, QString>> Rows(const CKSListView* view) {
  std::vector<std::pair<QString, QString>> rows;
  const QTreeWidget* list = view->List();
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows.emplace_back(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1));
  return rows;
}

class ObjectViewsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
    s_net->Add({"SRV2", "LAB", vn::MachineRole::PrimaryDomainController, {"Tools"}});
    ASSERT_TRUE(s_net->StartAll());
    fs::create_directories(s_net->Machine("SRV1").ShareDir("Data") / "Projects" / "Old");
    fs::create_directories(s_net->Machine("SRV1").ShareDir("Data") / "Archive");
  }
  static void TearDownTestSuite() { s_net.reset(); }

  ObjectViewsTest() {
    m_template = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                       RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    m_app->AddDocTemplate(m_template);
  }

  CKSMgrDoc* Open() { return dynamic_cast<CKSMgrDoc*>(m_template->OpenDocumentFile(QString())); }
  static CKSMgrFrame* FrameOf(const CKSMgrDoc* pDoc) {
    return dynamic_cast<CKSMgrFrame*>(pDoc->m_pTreeView->GetParentFrame());
  }
  static void CloseAll(CWinApp* app) {
    app->CloseAllDocuments(FALSE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  // Lets the tree's listings and the pane's readings arrive.
  static bool Settle(CKSMgrDoc* pDoc) {
    return WaitUntil([pDoc] {
      QCoreApplication::processEvents();
      return pDoc->m_pTreeView->Loader().PendingWork() == 0 && pDoc->m_pListView->PendingWork() == 0;
    });
  }
  static bool ExpandAndSettle(CKSMgrDoc* pDoc, const CObjectNode* node) {
    pDoc->m_pTreeView->Expand(node);
    return Settle(pDoc);
  }

  static std::unique_ptr<MachineNetwork> s_net;
  vn::console::testing::ConsoleSession<CMDIFrameWnd> m_session;
  std::unique_ptr<CWinApp>& m_app = m_session.m_app;
  std::unique_ptr<CMDIFrameWnd>& m_mainFrame = m_session.m_mainFrame;
  CMultiDocTemplate* m_template = nullptr;
};

std::unique_ptr<MachineNetwork> ObjectViewsTest::s_net;

TEST_F(ObjectViewsTest, ManagerOpensOnTheObjectTabAndKeepsItsPlacementAndPaneWidth) {
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "Object.pane.tree", 250));
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "wp.rcNormalPosition.left", 10));
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "wp.rcNormalPosition.top", 20));
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "wp.rcNormalPosition.right", 610));
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "wp.rcNormalPosition.bottom", 420));
  ASSERT_TRUE(WriteProfileInt("KSMgrFrame", "wp.showCmd", 3));  // stored maximised: opens normal all the same
  CKSMgrDoc* pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  CKSMgrFrame* pFrame = FrameOf(pDoc);
  ASSERT_NE(pFrame, nullptr);
  ASSERT_EQ(pFrame->Tabs()->count(), 3);
  EXPECT_EQ(pFrame->Tabs()->tabText(0), QStringLiteral("Object"));
  EXPECT_EQ(pFrame->Tabs()->tabText(1), QStringLiteral("Reports"));
  EXPECT_EQ(pFrame->Tabs()->tabText(2), QStringLiteral("Run"));
  EXPECT_EQ(pFrame->Tabs()->currentIndex(), 0);
  EXPECT_EQ(pFrame->ObjectSplitter()->widget(0), pDoc->m_pTreeView);
  EXPECT_EQ(pFrame->ObjectSplitter()->widget(1), pDoc->m_pListView);
  EXPECT_EQ(pFrame->ObjectSplitter()->sizes().constFirst(), 250);
  EXPECT_FALSE(pFrame->isMaximized());
  EXPECT_EQ(pFrame->geometry(), QRect(10, 20, 600, 400));

  // The document: always titled "Vornal", never saved.
  EXPECT_EQ(pDoc->GetTitle(), QStringLiteral("Vornal"));
  pDoc->SetTitle(QStringLiteral("Something else"));
  EXPECT_EQ(pDoc->GetTitle(), QStringLiteral("Vornal"));
  CCmdUI save(ID_FILE_SAVE);
  save.DoUpdate(pFrame, TRUE);
  EXPECT_FALSE(save.m_bEnabled);
  CCmdUI refresh(vn::console::ID_OBJECT_REFRESH);
  refresh.DoUpdate(pFrame, TRUE);
  EXPECT_TRUE(refresh.m_bEnabled) << "Refresh works on the Object tab";

  // Moved, resized, maximised and closed: the normal rectangle and the
  // tree's width are what the next window opens with.
  pFrame->setGeometry(QRect(30, 40, 500, 350));
  pFrame->ObjectSplitter()->setSizes({180, 300});
  pFrame->showMaximized();
  CloseAll(m_app.get());
  EXPECT_EQ(GetProfileInt("KSMgrFrame", "Object.pane.tree", 0), 180u);
  EXPECT_EQ(GetProfileInt("KSMgrFrame", "wp.showCmd", 0), 3u);
  EXPECT_EQ(static_cast<int>(GetProfileInt("KSMgrFrame", "wp.ptMinPosition.x", 0)), -1);
  pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  EXPECT_FALSE(FrameOf(pDoc)->isMaximized());
  EXPECT_EQ(FrameOf(pDoc)->geometry(), QRect(30, 40, 500, 350));
  EXPECT_EQ(FrameOf(pDoc)->ObjectSplitter()->sizes().constFirst(), 180);
}

TEST_F(ObjectViewsTest, TreeFillsAsItExpandsFeedsTheDocumentAndDrivesTheInformationPane) {
  CKSMgrDoc* pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  CKSTreeView* pTree = pDoc->m_pTreeView;
  QAbstractItemModelTester tester(pTree->TreeWidget()->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_TRUE(Settle(pDoc));
  vn::console::CObjectTree& tree = pTree->Tree();
  CObjectNode* mine = tree.FirstRoot();
  EXPECT_EQ(Texts(tree.Top()),
            (std::vector<std::string>{"My Computer", "Microsoft Windows Network", "Preferred Machines"}));
  EXPECT_EQ(Texts(mine), (std::vector<std::string>{"C:", "D:", "S:"})) << "My Computer opens expanded";
  EXPECT_EQ(pTree->GetSelectedNode(), mine);
  EXPECT_EQ(pTree->LocalComputerName(), "CONSOLE");
  EXPECT_EQ(Rows(pDoc->m_pListView).at(0).first, QStringLiteral("Processor"));
  EXPECT_EQ(pDoc->m_pListView->List()->headerItem()->text(1), QStringLiteral("Value"));

  pTree->SelectNode(Child(mine, "C:"));
  ASSERT_TRUE(Settle(pDoc));
  const auto driveRows = Rows(pDoc->m_pListView);
  ASSERT_GE(driveRows.size(), 3u);
  EXPECT_EQ(driveRows[0], std::make_pair(QStringLiteral("Drive"), QStringLiteral("C:")));
  EXPECT_EQ(driveRows[1], std::make_pair(QStringLiteral("Storage Type"), QStringLiteral("Fixed")));

  // Down the network to a share's folders.
  CObjectNode* network = tree.Top()->children[1].get();
  ASSERT_TRUE(ExpandAndSettle(pDoc, network));
  CObjectNode* sales = Child(network, "Sales");
  ASSERT_NE(sales, nullptr);
  ASSERT_TRUE(ExpandAndSettle(pDoc, sales));
  CObjectNode* srv1 = Child(sales, "Srv1");
  ASSERT_NE(srv1, nullptr);
  ASSERT_TRUE(ExpandAndSettle(pDoc, srv1));
  CObjectNode* data = Child(srv1, "Data");
  ASSERT_NE(data, nullptr);
  ASSERT_TRUE(ExpandAndSettle(pDoc, data));
  EXPECT_EQ(Texts(data), (std::vector<std::string>{"Archive", "Projects"}));
  pTree->SelectNode(data);
  ASSERT_TRUE(Settle(pDoc));
  const auto shareRows = Rows(pDoc->m_pListView);
  ASSERT_EQ(shareRows.size(), 4u);
  EXPECT_EQ(shareRows[0].second, QStringLiteral("\\\\Srv1\\Data"));
  EXPECT_EQ(shareRows[1], std::make_pair(QStringLiteral("Total Directories"), QStringLiteral("2")));

  // Clicking check boxes through the widget's model, then handing the checks to the document.
  QAbstractItemModel* model = pTree->TreeWidget()->model();
  const QModelIndex projects =
      model->index(1, 0, model->index(data->row, 0, model->index(srv1->row, 0, model->index(sales->row, 0, model->index(1, 0)))));
  ASSERT_EQ(projects.data().toString(), QStringLiteral("Projects"));
  ASSERT_TRUE(model->setData(projects, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(model->data(projects, Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model->index(data->row, 0, model->index(srv1->row, 0, model->index(sales->row, 0, model->index(1, 0))))
                .data(Qt::CheckStateRole)
                .toInt(),
            Qt::PartiallyChecked);
  EXPECT_FALSE(model->index(0, 0).data(Qt::CheckStateRole).isValid()) << "roots have no check box";
  ASSERT_TRUE(model->setData(model->index(0, 0, model->index(0, 0)), Qt::Checked, Qt::CheckStateRole));  // C:
  EXPECT_EQ(FrameOf(pDoc)->SaveObjectData(), 1);
  EXPECT_EQ(pDoc->LocalObjects(), (std::vector<std::string>{"C:\\"}));
  ASSERT_EQ(pDoc->NetworkObjects().count("SRV1"), 1u);
  EXPECT_EQ(pDoc->NetworkObjects().at("SRV1"), (std::vector<std::string>{"\\\\Srv1\\Data\\Projects"}));
  EXPECT_EQ(pDoc->CanRunReport(), 0) << "objects alone, no report chosen";

  // Checking a domain whose machines were never listed lists them, checked.
  CObjectNode* lab = Child(network, "Lab");
  ASSERT_TRUE(lab != nullptr && lab->children.empty());
  ASSERT_TRUE(model->setData(model->index(lab->row, 0, model->index(1, 0)), Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(Settle(pDoc));
  ASSERT_EQ(Texts(lab), (std::vector<std::string>{"Srv2"}));
  EXPECT_EQ(lab->children[0]->state, KS_STATE_CHECKED);
  pTree->SaveObject();
  EXPECT_EQ(pDoc->NetworkObjects().at("SRV2"), (std::vector<std::string>{"\\\\Srv2"}));

  // Clear Selections unchecks everything; nothing is selected for a run then.
  EXPECT_TRUE(pTree->OnCmdMsg(vn::console::ID_CLEAR_SELECTIONS, CN_COMMAND, nullptr));
  pTree->SaveObject();
  EXPECT_FALSE(pDoc->HasObjects());

  // A folder removed outside disappears on F5's refresh; a share missing from
  // the tree comes back in share order, ordinary shares first.
  fs::remove_all(s_net->Machine("SRV1").ShareDir("Data") / "Archive");
  const std::vector<std::string> shares = Texts(srv1);
  pTree->Tree().DeleteItem(Child(srv1, "C$"));
  CObjectNode* stray = pTree->Tree().InsertKSItem(srv1, vn::console::KS_INSERT_FIRST, "Zeta$", KS_STATE_UNCHECKED,
                                                  true, KS_SHARE);
  const std::uint64_t strayId = stray->id;
  EXPECT_TRUE(pTree->OnCmdMsg(vn::console::ID_OBJECT_REFRESH, CN_COMMAND, nullptr));
  ASSERT_TRUE(Settle(pDoc));
  EXPECT_EQ(Texts(data), (std::vector<std::string>{"Projects"}));
  EXPECT_EQ(Texts(srv1), shares);
  EXPECT_EQ(pTree->Tree().Find(strayId), nullptr);
  EXPECT_EQ(Child(srv1, "Data"), data) << "kept, with its folders";
  fs::create_directories(s_net->Machine("SRV1").ShareDir("Data") / "Archive");
}

TEST_F(ObjectViewsTest, ContextMenuOffersTheCommandsThatApplyToTheItem) {
  CKSMgrDoc* pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  CKSTreeView* pTree = pDoc->m_pTreeView;
  ASSERT_TRUE(Settle(pDoc));
  auto entries = [pTree] {
    std::vector<std::pair<QString, bool>> result;
    const std::unique_ptr<QMenu> menu = pTree->CreateContextMenu();
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) result.emplace_back(action->text(), action->isEnabled());
    return result;
  };
  using Entries = std::vector<std::pair<QString, bool>>;
  EXPECT_EQ(entries(), (Entries{{QStringLiteral("&Refresh\tF5"), true},
                                {QStringLiteral("C&lear Selections"), true},
                                {QStringLiteral("&New..."), false},
                                {QStringLiteral("&Delete\tDel"), false},
                                {QStringLiteral("Run..."), true},
                                // My Computer: this machine is a Windows NT machine without the server.
                                {QStringLiteral("&Install Server..."), true},
                                {QStringLiteral("&Deinstall Server..."), false},
                                {QStringLiteral("Pr&operties..."), false}}));

  CObjectNode* preferred = pTree->Tree().LastRoot();
  pTree->SelectNode(preferred);
  EXPECT_TRUE(entries()[2].second) << "New on the preferred machines root";
  CObjectNode* typed = pTree->Tree().InsertKSItem(preferred, vn::console::KS_INSERT_SORT, "Srv2", KS_STATE_UNCHECKED,
                                                  true, KS_MACHINE);
  pTree->SelectNode(typed);
  EXPECT_FALSE(entries()[2].second);
  EXPECT_TRUE(entries()[3].second) << "Delete on a preferred machine";
  pTree->SelectNode(Child(pTree->Tree().FirstRoot(), "C:"));
  EXPECT_FALSE(entries()[3].second) << "a drive is not deleted";

  // Closing the window stores the preferred machines.
  CloseAll(m_app.get());
  EXPECT_EQ(GetProfileString("VNMgr", "Preferred Machines"), QStringLiteral("Srv2;"));
  pDoc = Open();
  ASSERT_NE(pDoc, nullptr);
  pTree = pDoc->m_pTreeView;
  ASSERT_EQ(Texts(pTree->Tree().LastRoot()), (std::vector<std::string>{"Srv2"}));
  pTree->SelectNode(pTree->Tree().LastRoot()->children[0].get());
  EXPECT_TRUE(pTree->OnCmdMsg(vn::console::ID_OBJECT_DELETE, CN_COMMAND, nullptr));
  EXPECT_TRUE(pTree->Tree().LastRoot()->children.empty());
  CloseAll(m_app.get());
  EXPECT_EQ(GetProfileString("VNMgr", "Preferred Machines"), QString());
}

TEST_F(ObjectViewsTest, MachineDialogsEnableTheirButtonsOnlyForAName) {
  CChooseServerDlg chooser;
  EXPECT_FALSE(chooser.OkButton()->isEnabled());
  QTreeWidget* tree = chooser.Tree();
  ASSERT_GE(tree->topLevelItemCount(), 3);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Domain")) << "containers before machines";
  QTreeWidgetItem* machine = nullptr;
  for (int i = 1; i < tree->topLevelItemCount(); ++i)
    if (tree->topLevelItem(i)->text(0) == QStringLiteral("SRV1")) machine = tree->topLevelItem(i);
  ASSERT_NE(machine, nullptr);
  tree->setCurrentItem(machine);
  EXPECT_EQ(chooser.GetComputerName(), QStringLiteral("SRV1"));
  EXPECT_TRUE(chooser.OkButton()->isEnabled());
  tree->setCurrentItem(tree->topLevelItem(0));
  EXPECT_TRUE(chooser.GetComputerName().isEmpty());
  EXPECT_FALSE(chooser.OkButton()->isEnabled());
  chooser.ComputerEdit()->textEdited(QStringLiteral("X"));
  EXPECT_TRUE(chooser.OkButton()->isEnabled());
  chooser.ComputerEdit()->textEdited(QString());
  EXPECT_FALSE(chooser.OkButton()->isEnabled());
  tree->expandItem(tree->topLevelItem(0));
  QTreeWidgetItem* root = tree->topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), QStringLiteral("LAB"));
  EXPECT_EQ(root->child(1)->text(0), QStringLiteral("SALES"));
  tree->expandItem(root->child(0));
  ASSERT_EQ(root->child(0)->childCount(), 1);
  EXPECT_EQ(root->child(0)->child(0)->text(0), QStringLiteral("SRV2"));

  std::vector<QString> messages;
  const MessageBoxHook previous = AfxSetMessageBoxHook([&messages](const QString& text, UINT) {
    messages.push_back(text);
    return IDOK;
  });
  CAddPreferredMachineDlg add;
  EXPECT_EQ(add.NameEdit()->maxLength(), 17);
  add.NameEdit()->setText(QStringLiteral("NOSUCH"));
  add.OnSave();
  EXPECT_EQ(add.result(), QDialog::Rejected);
  EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("NOSUCH is not a NT workstation or server")}));
  add.NameEdit()->setText(QStringLiteral("srv2"));
  add.OnSave();
  EXPECT_EQ(add.result(), QDialog::Accepted);
  EXPECT_EQ(add.GetMachineName(), QStringLiteral("srv2")) << "a typed name keeps its case";
  AfxSetMessageBoxHook(previous);
}

}  // namespace
