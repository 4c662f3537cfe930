// The object tree's check rules, the paths checked items stand for and the
// selection lists they land in, on trees built by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/objects/MachineInfo.h"
#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/objects/ObjectTree.h"
#include "console/core/objects/SelectedObjects.h"

namespace vn::console {
namespace {

constexpr int C = KS_STATE_CHECKED;
constexpr int U = KS_STATE_UNCHECKED;
constexpr int P = KS_STATE_PARTIAL;

CObjectNode* Add(CObjectTree& tree, CObjectNode* parent, const std::string& text, KSItemType type, int state = U) {
  return tree.InsertKSItem(parent, KS_INSERT_LAST, text, state, true, type);
}

std::vector<int> States(std::initializer_list<const CObjectNode*> nodes) {
  std::vector<int> states;
  for (const CObjectNode* node : nodes) states.push_back(node->state);
  return states;
}

// My Computer / C: / Data / {Old, New}, Data / Sub / {X, Y}
struct FolderTree {
  CObjectTree tree;
  CObjectNode* root = tree.InsertKSItem(nullptr, KS_INSERT_FIRST, "My Computer", KS_STATE_NONE, true, KS_MY_COMPUTER);
  CObjectNode* drive = Add(tree, root, "C:", KS_FIXED_DRIVE);
  CObjectNode* data = Add(tree, drive, "Data", KS_FOLDER);
  CObjectNode* old = Add(tree, data, "Old", KS_FOLDER);
  CObjectNode* sub = Add(tree, data, "Sub", KS_FOLDER);
  CObjectNode* x = Add(tree, sub, "X", KS_FOLDER);
  CObjectNode* y = Add(tree, sub, "Y", KS_FOLDER);
};

TEST(ObjectTreeTest, ChecksPropagateUpAndDownToTheRoot) {
  FolderTree t;
  // One leaf checked: every ancestor with a check box is partly checked, the root has none.
  t.tree.ClickCheckBox(t.x);
  EXPECT_EQ(States({t.x, t.y, t.sub, t.data, t.drive}), (std::vector<int>{C, U, P, P, P}));
  EXPECT_EQ(t.root->state, KS_STATE_NONE);
  // The last unchecked sibling checked: the parent is checked; above it the
  // other branch is still unchecked.
  t.tree.ClickCheckBox(t.y);
  EXPECT_EQ(States({t.sub, t.data, t.drive}), (std::vector<int>{C, P, P}));
  t.tree.ClickCheckBox(t.old);
  EXPECT_EQ(States({t.data, t.drive}), (std::vector<int>{C, C}));
  // Checked -> unchecked takes the subtree with it.
  t.tree.ClickCheckBox(t.data);
  EXPECT_EQ(States({t.data, t.old, t.sub, t.x, t.y, t.drive}), (std::vector<int>{U, U, U, U, U, U}));
  // Partly checked -> unchecked (not checked), with the whole subtree.
  t.tree.ClickCheckBox(t.x);
  ASSERT_EQ(t.data->state, P);
  t.tree.ClickCheckBox(t.data);
  EXPECT_EQ(States({t.data, t.sub, t.x, t.drive}), (std::vector<int>{U, U, U, U}));
  // Unchecked -> checked reaches every descendant.
  t.tree.ClickCheckBox(t.drive);
  EXPECT_EQ(States({t.drive, t.data, t.old, t.sub, t.x, t.y}), (std::vector<int>{C, C, C, C, C, C}));
  // A root has no check box: clicking it changes nothing.
  EXPECT_EQ(t.tree.ClickCheckBox(t.root), KS_STATE_NONE);
}

TEST(ObjectTreeTest, MergingChildrenKeepsChecksAndCountsNoChildrenAsAllChecked) {
  FolderTree t;
  t.tree.ClickCheckBox(t.x);
  // A refresh that finds Y gone leaves X, the only child, checked: Sub becomes checked.
  t.tree.CheckChildren(t.sub, {"x"}, KS_FOLDER);
  ASSERT_EQ(t.sub->children.size(), 1u);
  EXPECT_EQ(t.sub->children[0].get(), t.x) << "a name matching without case keeps the item";
  EXPECT_EQ(States({t.sub, t.data}), (std::vector<int>{C, P}));

  // Old is unchecked and its only child is deleted outside: with no children
  // left it counts as all checked.
  CObjectNode* only = Add(t.tree, t.old, "Only", KS_FOLDER);
  (void)only;
  t.tree.CheckChildren(t.old, {}, KS_FOLDER);
  EXPECT_TRUE(t.old->children.empty());
  EXPECT_EQ(States({t.old, t.data, t.drive}), (std::vector<int>{C, C, C}));

  // New names under a checked item start checked, under a partly checked one unchecked,
  // inserted in sorted place; children of other kinds stay.
  t.tree.CheckChildren(t.sub, {"X", "A"}, KS_FOLDER);
  ASSERT_EQ(t.sub->children.size(), 2u);
  EXPECT_EQ(t.sub->children[0]->Text(), "A");
  EXPECT_EQ(t.sub->children[0]->state, C);
  EXPECT_TRUE(t.sub->children[0]->hasButton);
  t.tree.ClickCheckBox(t.x);
  ASSERT_EQ(t.sub->state, P);
  t.tree.CheckChildren(t.sub, {"X", "A", "B"}, KS_FOLDER);
  EXPECT_EQ(t.sub->children[1]->Text(), "B");
  EXPECT_EQ(t.sub->children[1]->state, U);

  CObjectNode* share = Add(t.tree, t.sub, "Share", KS_SHARE);
  const std::uint64_t xId = t.x->id;
  t.tree.CheckChildren(t.sub, {}, KS_FOLDER);
  ASSERT_EQ(t.sub->children.size(), 1u);
  EXPECT_EQ(t.sub->children[0].get(), share);
  EXPECT_EQ(t.tree.Find(xId), nullptr) << "a deleted item cannot be found again";
}

TEST(ObjectTreeTest, CheckedItemsBecomeObjectPathsPerMachine) {
  CObjectTree tree;
  CObjectNode* mine = tree.InsertKSItem(nullptr, KS_INSERT_LAST, "My Computer", 0, true, KS_MY_COMPUTER);
  CObjectNode* net = tree.InsertKSItem(nullptr, KS_INSERT_LAST, "Microsoft Windows Network", 0, true, KS_NETWORK);
  CObjectNode* preferred = tree.InsertKSItem(nullptr, KS_INSERT_LAST, "Preferred Machines", 0, false,
                                             KS_PREFERRED_MACHINES);
  CObjectNode* c = Add(tree, mine, "C:", KS_FIXED_DRIVE);
  Add(tree, c, "Dir", KS_FOLDER);
  CObjectNode* d = Add(tree, mine, "D:", KS_CDROM_DRIVE);
  CObjectNode* dDir = Add(tree, d, "Dir", KS_FOLDER);
  CObjectNode* dSub = Add(tree, dDir, "Sub", KS_FOLDER);
  Add(tree, dDir, "Other", KS_FOLDER);
  CObjectNode* sales = Add(tree, net, "Sales", KS_DOMAIN);
  Add(tree, sales, "Srv1", KS_MACHINE);
  Add(tree, sales, "Wks1", KS_MACHINE);
  CObjectNode* lab = Add(tree, net, "Lab", KS_DOMAIN);
  CObjectNode* server = Add(tree, lab, "SERVER", KS_MACHINE);
  CObjectNode* share = Add(tree, server, "Share", KS_SHARE);
  CObjectNode* dir = Add(tree, share, "Dir", KS_FOLDER);
  Add(tree, share, "Else", KS_FOLDER);
  CObjectNode* admin = Add(tree, server, "C$", KS_SHARE);
  CObjectNode* typed = Add(tree, preferred, "server", KS_MACHINE);

  EXPECT_EQ(CObjectTree::GetFullPath(c), "C:\\");
  EXPECT_EQ(CObjectTree::GetFullPath(dSub), "D:\\Dir\\Sub");
  EXPECT_EQ(CObjectTree::GetFullPath(share), "\\\\SERVER\\Share");
  EXPECT_EQ(CObjectTree::GetFullPath(dir), "\\\\SERVER\\Share\\Dir") << "domain and network are not in the path";

  tree.ClickCheckBox(c);        // the drive stands for its checked folders
  tree.ClickCheckBox(dSub);
  tree.ClickCheckBox(sales);    // a domain stands for its machines
  tree.ClickCheckBox(dir);
  tree.ClickCheckBox(admin);
  tree.ClickCheckBox(typed);
  CSelectedObjects objects;
  objects.AddObject("stale");
  EXPECT_EQ(tree.SaveObject(objects), 1);
  EXPECT_EQ(objects.LocalObjects(), (std::vector<std::string>{"C:\\", "D:\\Dir\\Sub"}));
  const std::map<std::string, std::vector<std::string>> expected{
      {"SRV1", {"\\\\Srv1"}},
      {"WKS1", {"\\\\Wks1"}},
      // The machine under a domain and the same one typed as a preferred machine share a key.
      {"SERVER", {"\\\\SERVER\\Share\\Dir", "\\\\SERVER\\C$", "\\\\server"}},
  };
  EXPECT_EQ(objects.NetworkObjects(), expected);
  EXPECT_EQ(objects.JoinedObjects("server"), "\\\\SERVER\\Share\\Dir;\\\\SERVER\\C$;\\\\server");

  // Nothing checked: the lists are empty again.
  for (const auto& root : tree.Top()->children) tree.ResetChildrenState(root.get(), false);
  tree.SaveObject(objects);
  EXPECT_FALSE(objects.HasObjects());
}

TEST(ObjectTreeTest, SizesAreWrittenWithOneDecimalAndTheLargestFittingUnit) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0B"},
      {1, "1.0B"},
      {1024, "1,024.0B"},
      {1025, "1.0KB"},
      {1572864, "1.5MB"},  // each step divides again while the value is above 1024
      {1535, "1.5KB"},
      {1048576, "1,024.0KB"},
      {1048577, "1.0MB"},
      {1073741824ULL, "1,024.0MB"},
      {1073741825ULL, "1.0GB"},
      {5497558138880ULL, "5,120.0GB"},
      {1288490189ULL, "1.2GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

TEST(ObjectTreeTest, NamesAreShapedSharesOrderedAndPreferredMachinesStoredWithSeparators) {
  EXPECT_EQ(ShapeName("MYDOMAIN"), "Mydomain");
  EXPECT_EQ(ShapeName("sERVER1"), "Server1");
  EXPECT_EQ(ShapeName(""), "");

  std::vector<std::string> shares{"C$", "zeta", "ADMIN$", "Alpha", "data"};
  SortShares(shares);
  EXPECT_EQ(shares, (std::vector<std::string>{"Alpha", "data", "zeta", "ADMIN$", "C$"}));

  EXPECT_EQ(ParsePreferredMachines("ALPHA;;BETA"), (std::vector<std::string>{"ALPHA", "BETA"}));
  EXPECT_EQ(ParsePreferredMachines(";"), std::vector<std::string>{});
  EXPECT_EQ(FormatPreferredMachines({"ALPHA", "BETA"}), "ALPHA;BETA;");
  EXPECT_EQ(FormatPreferredMachines({}), "");
}

}  // namespace
}  // namespace vn::console
