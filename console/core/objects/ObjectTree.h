#pragma once
// The object tree without its window: items with their kind, text, check state
// and expand button, the three-state check rules and their propagation, and
// the object path each checked item stands for. CKSTreeView shows it; the
// loader (CObjectTreeLoader) fills it. A node is the tree's item handle.
//
// Check rules: a state of 0 means no check box (the roots), which is what stops
// propagation upwards. An item's state summarises its children: all checked
// (including no children at all) -> checked; some checked or partly checked ->
// partly checked; none -> unchecked. Children without a check box count for
// nothing.
//
// Ownership: the tree owns every node; a node pointer is valid until the node
// is deleted (DeleteItem, CheckChildren, DeleteAllItems). Every node also has
// an id that is never reused, for callers that must find it again later (work
// done on other threads). Observers hear of every change so that a model can
// follow. User-interface thread only.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/core/objects/KSItemType.h"

namespace vn::console {

class CSelectedObjects;

// Whether hasButton is known. A folder of a big listing learns whether it has
// subfolders of its own only when its row is first shown: Untested until
// then (no expand button), Testing while the one-level test runs.
enum class ButtonTest : std::uint8_t { Known, Untested, Testing };

struct CObjectNode {
  TreeItemData data;
  int state = KS_STATE_NONE;
  bool hasButton = false;      // shows an expand button (children known or not)
  bool expandedOnce = false;   // was filled (or is being filled) on expansion
  ButtonTest buttonTest = ButtonTest::Known;
  std::uint64_t id = 0;
  CObjectNode* parent = nullptr;   // the tree's hidden top for roots
  int row = 0;                     // index among the parent's children
  std::vector<std::unique_ptr<CObjectNode>> children;

  const std::string& Text() const { return data.name; }
  KSItemType Type() const { return data.type; }
  bool HasChildren() const { return !children.empty(); }
};

// Told of every change of the tree, before and after, as an item model needs.
class CObjectTreeObserver {
 public:
  virtual ~CObjectTreeObserver() = default;
  virtual void BeginInsert(CObjectNode* parent, int first, int last) = 0;
  virtual void EndInsert() = 0;
  virtual void BeginRemove(CObjectNode* parent, int first, int last) = 0;
  virtual void EndRemove() = 0;
  virtual void NodeChanged(CObjectNode* node) = 0;   // state or expand button
  // The states of several children of parent changed at once (rows first..last).
  virtual void ChildrenChanged(CObjectNode* parent, int first, int last) = 0;
  // The children of parent are about to be put in another order / were.
  virtual void BeginReorder(CObjectNode* parent) = 0;
  virtual void EndReorder(CObjectNode* parent) = 0;
};

// Where InsertKSItem puts a new item among its siblings.
enum KSInsertPosition : int { KS_INSERT_FIRST = 0, KS_INSERT_LAST = -1, KS_INSERT_SORT = -2 };

// A child to add in bulk.
struct NewItem {
  std::string text;
  bool hasButton = false;
  bool buttonKnown = true;  // false: the item starts ButtonTest::Untested
};

class CObjectTree {
 public:
  CObjectTree();
  ~CObjectTree();
  CObjectTree(const CObjectTree&) = delete;
  CObjectTree& operator=(const CObjectTree&) = delete;

  void SetObserver(CObjectTreeObserver* observer) { m_observer = observer; }

  // The hidden node whose children are the roots (never shown, never deleted).
  CObjectNode* Top() { return &m_top; }
  const CObjectNode* Top() const { return &m_top; }
  CObjectNode* FirstRoot() { return m_top.children.empty() ? nullptr : m_top.children.front().get(); }
  CObjectNode* LastRoot() { return m_top.children.empty() ? nullptr : m_top.children.back().get(); }
  // The parent, or null for a root.
  static CObjectNode* Parent(const CObjectNode* node);
  static CObjectNode* NextSibling(const CObjectNode* node);
  CObjectNode* Find(std::uint64_t id) const;

  // Inserts an item under parent (null = a root) at `position` (an index, or
  // one of KS_INSERT_*; sorted = case-insensitive text order among all
  // siblings). A non-zero state becomes its check state; hasChildren gives it
  // an expand button before its children are known.
  CObjectNode* InsertKSItem(CObjectNode* parent, int position, std::string_view text, int state, bool hasChildren,
                            KSItemType type, std::int32_t extra = 0);
  // Appends many children of one kind at once, in the given order, all with
  // `state` (one notification: big folders).
  void AppendItems(CObjectNode* parent, std::span<const NewItem> items, KSItemType type, int state);
  // FreeNode and removal: the item with its subtree.
  void DeleteItem(CObjectNode* node);
  void DeleteChildren(CObjectNode* node);
  void DeleteAllItems();

  // Puts node's children in the order `less` gives (stable).
  template <class Less>
  void SortChildren(CObjectNode* node, Less less);

  void SetState(CObjectNode* node, int state);
  void SetButton(CObjectNode* node, bool hasButton);
  // Whether node has subfolders is to be asked again when its row is shown.
  void SetButtonUntested(CObjectNode* node);

  // A click on the check box: checked -> unchecked, unchecked -> checked,
  // partly checked -> unchecked; then the parents and the subtree follow.
  // Returns the new state (the item's own state when it has no check box).
  int ClickCheckBox(CObjectNode* node);
  void ResetItemState(CObjectNode* node);
  void ResetParentState(CObjectNode* node, bool partial);
  void ResetChildrenState(CObjectNode* node, bool checked);
  // Makes node's children of `type` equal to `names` (case-insensitive):
  // children of that type not named are deleted (and node recomputed), names
  // that match no child of any type become new sorted children with an expand
  // button, checked when node is checked, else unchecked.
  void CheckChildren(CObjectNode* node, const std::vector<std::string>& names, KSItemType type);

  // Adds the objects of every checked item of the sibling run from `first`
  // (and below) to `objects`: a machine by name, a drive, share or folder by
  // its path; a checked domain by its checked machines.
  void CheckObject(const CObjectNode* first, CSelectedObjects& objects) const;
  // Empties `objects` and fills it from every root. Returns 1.
  int SaveObject(CSelectedObjects& objects) const;
  // The object path: "C:\" for a drive, "C:\Dir\Sub", "\\SERVER\Share\Dir".
  static std::string GetFullPath(const CObjectNode* node);

 private:
  struct Summary {
    bool allChecked = true;
    bool allUnchecked = true;
  };
  static Summary Summarise(const CObjectNode* node);
  static int SummaryState(const Summary& summary);
  std::unique_ptr<CObjectNode> NewNode(CObjectNode* parent, std::string_view text, int state, bool hasButton,
                                       KSItemType type, std::int32_t extra);
  void Forget(CObjectNode* node);
  void RemoveRows(CObjectNode* parent, int first, int last);
  static void Renumber(CObjectNode* parent, int from);

  CObjectNode m_top;
  std::unordered_map<std::uint64_t, CObjectNode*> m_byId;
  std::uint64_t m_nextId = 1;
  CObjectTreeObserver* m_observer = nullptr;
};

template <class Less>
void CObjectTree::SortChildren(CObjectNode* node, Less less) {
  auto& children = node->children;
  auto byNode = [&less](const std::unique_ptr<CObjectNode>& a, const std::unique_ptr<CObjectNode>& b) {
    return less(*a, *b);
  };
  if (std::is_sorted(children.begin(), children.end(), byNode)) return;
  if (m_observer) m_observer->BeginReorder(node);
  std::stable_sort(children.begin(), children.end(), byNode);
  Renumber(node, 0);
  if (m_observer) m_observer->EndReorder(node);
}

}  // namespace vn::console
