// A folder of thousands of subfolders in the object tree, as a user expands
// it: one listing, rows added in steps, and the one-level test (does a
// subfolder have subfolders of its own?) asked only for the rows that are
// shown. The checks behave as on a small folder. The tree view offscreen over
// this machine's drive C: of the test harness.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/objects/SelectedObjects.h"
#include "console/widgets/objects/KSTreeView.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/MessageBox.h"

namespace {

namespace fs = std::filesystem;
using vn::console::ButtonTest;
using vn::console::CObjectNode;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

// More than the rows added per step, and far more than the tests done with
// the listing.
constexpr int kFolders = 6000;

std::string FolderName(int i) {
  std::string digits = std::to_string(i);
  return "Folder" + std::string(5 - digits.size(), '0') + digits;
}

// Every seventh folder has a subfolder of its own.
bool HasInner(int i) { return i % 7 == 3; }
int NextWithInner(int from) { return from + (10 - from % 7) % 7; }

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

class LazyTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("LAZY");
    const fs::path big = s_net->Console().driveC / "Big";
    for (int i = 0; i < kFolders; ++i) {
      fs::create_directories(big / FolderName(i));
      if (HasInner(i)) fs::create_directory(big / FolderName(i) / "Inner");
    }
    fs::create_directories(s_net->Console().driveC / "Small");  // so that C: stays partly checked
  }
  static void TearDownTestSuite() { s_net.reset(); }

  void SetUp() override {
    m_previousHook = AfxSetMessageBoxHook([](const QString&, UINT) { return IDOK; });
    m_view = std::make_unique<CKSTreeView>();
    m_view->resize(300, 400);
    m_view->show();
    m_view->OnInitialUpdate();
    ASSERT_TRUE(Settle());
    m_drive = Child(m_view->Tree().FirstRoot(), "C:");
    ASSERT_NE(m_drive, nullptr);
    m_view->Expand(m_drive);
    ASSERT_TRUE(Settle());
    m_big = Child(m_drive, "Big");
    ASSERT_NE(m_big, nullptr);
  }
  void TearDown() override {
    m_view.reset();
    AfxSetMessageBoxHook(m_previousHook);
  }

  bool Settle() {
    return WaitUntil([this] {
      QApplication::processEvents();
      return m_view->Loader().PendingWork() == 0;
    });
  }
  // Lets the loader work until `big` holds some of its children but not all.
  bool UntilPartlyFilled() {
    return WaitUntil([this] {
      QApplication::processEvents();
      return !m_big->children.empty();
    }) && m_big->children.size() < static_cast<std::size_t>(kFolders);
  }
  QModelIndex IndexOf(const CObjectNode* node) const {
    const CObjectNode* parent = vn::console::CObjectTree::Parent(node);
    return m_view->TreeWidget()->model()->index(node->row, 0, parent ? IndexOf(parent) : QModelIndex());
  }
  // The row of `node` at the top of the view, painted, and the loader done
  // with what it showed.
  bool ShowAndSettle(const CObjectNode* node) {
    m_view->TreeWidget()->scrollTo(IndexOf(node), QAbstractItemView::PositionAtTop);
    m_view->TreeWidget()->viewport()->repaint();
    return Settle();
  }
  // Big empty and collapsed again, as before its first expansion, then expanded.
  void ExpandAfresh() {
    m_view->TreeWidget()->collapse(IndexOf(m_big));
    m_view->Tree().DeleteChildren(m_big);
    m_big->expandedOnce = false;
    m_view->Expand(m_big);
  }

  MessageBoxHook m_previousHook;
  std::unique_ptr<CKSTreeView> m_view;
  CObjectNode* m_drive = nullptr;
  CObjectNode* m_big = nullptr;
  static std::unique_ptr<MachineNetwork> s_net;
};

std::unique_ptr<MachineNetwork> LazyTreeTest::s_net;

TEST_F(LazyTreeTest, ABigFolderFillsInStepsAndTestsOnlyTheRowsShown) {
  QAbstractItemModelTester tester(m_view->TreeWidget()->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  std::vector<int> inserted;
  QObject::connect(m_view->TreeWidget()->model(), &QAbstractItemModel::rowsInserted,
                   [&inserted](const QModelIndex&, int first, int last) { inserted.push_back(last - first + 1); });
  m_view->Expand(m_big);
  ASSERT_TRUE(Settle());

  ASSERT_EQ(m_big->children.size(), static_cast<std::size_t>(kFolders));
  for (int i : {0, 1, 2999, kFolders - 1}) EXPECT_EQ(m_big->children[static_cast<std::size_t>(i)]->Text(), FolderName(i));
  // Several inserts, none of them the whole folder.
  ASSERT_GE(inserted.size(), 2u);
  EXPECT_LT(*std::max_element(inserted.begin(), inserted.end()), kFolders);
  // Nothing below the big folder was listed.
  EXPECT_TRUE(std::none_of(m_big->children.begin(), m_big->children.end(),
                           [](const auto& child) { return child->expandedOnce || child->HasChildren(); }));

  // The rows a first expansion shows know their expand button; rows far
  // below are not tested yet and show none.
  const QAbstractItemModel* model = m_view->TreeWidget()->model();
  for (int i = 0; i < 30; ++i) {
    const CObjectNode* child = m_big->children[static_cast<std::size_t>(i)].get();
    EXPECT_EQ(child->buttonTest, ButtonTest::Known) << child->Text();
    EXPECT_EQ(child->hasButton, HasInner(i)) << child->Text();
  }
  const CObjectNode* below = m_big->children[4000].get();
  EXPECT_EQ(below->buttonTest, ButtonTest::Untested);
  EXPECT_FALSE(below->hasButton);

  // Scrolled into view, those rows are tested and show the right expanders;
  // rows still out of view stay untested.
  ASSERT_TRUE(ShowAndSettle(m_big->children[3000].get()));
  for (int i = 3000; i < 3010; ++i) {
    const CObjectNode* child = m_big->children[static_cast<std::size_t>(i)].get();
    EXPECT_EQ(child->buttonTest, ButtonTest::Known) << child->Text();
    EXPECT_EQ(child->hasButton, HasInner(i)) << child->Text();
    EXPECT_EQ(model->hasChildren(IndexOf(child)), HasInner(i)) << child->Text();
  }
  EXPECT_EQ(m_big->children[5500]->buttonTest, ButtonTest::Untested);
  // Expanding a tested row lists it.
  CObjectNode* withInner = m_big->children[static_cast<std::size_t>(NextWithInner(3000))].get();
  m_view->Expand(withInner);
  ASSERT_TRUE(Settle());
  ASSERT_EQ(withInner->children.size(), 1u);
  EXPECT_EQ(withInner->children[0]->Text(), "Inner");

  // An untested folder expanded (from a key or a command) is listed like any
  // other and ends known.
  CObjectNode* untested = m_big->children[static_cast<std::size_t>(NextWithInner(5500))].get();
  ASSERT_EQ(untested->buttonTest, ButtonTest::Untested);
  m_view->Expand(untested);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(untested->buttonTest, ButtonTest::Known);
  EXPECT_EQ(untested->children.size(), 1u);
}

TEST_F(LazyTreeTest, ChecksReachTheRowsAddedLaterAndARefreshMeanwhileDoublesNothing) {
  // Checked before it was ever listed: every child arrives checked.
  m_view->Tree().ClickCheckBox(m_big);
  m_view->Expand(m_big);
  ASSERT_TRUE(Settle());
  ASSERT_EQ(m_big->children.size(), static_cast<std::size_t>(kFolders));
  EXPECT_TRUE(std::all_of(m_big->children.begin(), m_big->children.end(),
                          [](const auto& child) { return child->state == KS_STATE_CHECKED; }));
  EXPECT_EQ(m_big->state, KS_STATE_CHECKED);
  vn::console::CSelectedObjects objects;
  m_view->Tree().SaveObject(objects);
  EXPECT_EQ(objects.LocalObjects(), (std::vector<std::string>{"C:\\Big"}));

  // Unchecked while its rows are still coming in: those added after the
  // click arrive unchecked too.
  ExpandAfresh();
  ASSERT_TRUE(UntilPartlyFilled());
  m_view->Tree().ClickCheckBox(m_big);
  ASSERT_EQ(m_big->state, KS_STATE_UNCHECKED);
  ASSERT_TRUE(Settle());
  ASSERT_EQ(m_big->children.size(), static_cast<std::size_t>(kFolders));
  EXPECT_TRUE(std::all_of(m_big->children.begin(), m_big->children.end(),
                          [](const auto& child) { return child->state == KS_STATE_UNCHECKED; }));
  EXPECT_EQ(m_big->state, KS_STATE_UNCHECKED);

  // A refresh that lands while the rows are still coming in leaves each
  // folder once.
  ExpandAfresh();
  ASSERT_TRUE(UntilPartlyFilled());
  m_view->Loader().Refresh();
  ASSERT_TRUE(Settle());
  ASSERT_EQ(m_big->children.size(), static_cast<std::size_t>(kFolders));
  for (std::size_t i = 1; i < m_big->children.size(); ++i)
    ASSERT_LT(m_big->children[i - 1]->Text(), m_big->children[i]->Text());

  // The folder goes while its rows are coming in: the rest is dropped.
  ExpandAfresh();
  ASSERT_TRUE(UntilPartlyFilled());
  m_view->Tree().DeleteItem(m_big);
  m_big = nullptr;
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Child(m_drive, "Big"), nullptr);
}

}  // namespace
