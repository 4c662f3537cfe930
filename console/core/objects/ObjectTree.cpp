#include "console/core/objects/ObjectTree.h"

#include <algorithm>
#include <unordered_set>

#include "console/core/objects/SelectedObjects.h"
#include "platform/core/AsciiText.h"

namespace vn::console {

CObjectTree::CObjectTree() = default;

CObjectTree::~CObjectTree() = default;

CObjectNode* CObjectTree::Parent(const CObjectNode* node) {
  if (!node || !node->parent || !node->parent->parent) return nullptr;  // the top has no parent itself
  return node->parent;
}

CObjectNode* CObjectTree::NextSibling(const CObjectNode* node) {
  if (!node || !node->parent) return nullptr;
  const auto& siblings = node->parent->children;
  const auto next = static_cast<std::size_t>(node->row) + 1;
  return next < siblings.size() ? siblings[next].get() : nullptr;
}

CObjectNode* CObjectTree::Find(std::uint64_t id) const {
  const auto found = m_byId.find(id);
  return found == m_byId.end() ? nullptr : found->second;
}

std::unique_ptr<CObjectNode> CObjectTree::NewNode(CObjectNode* parent, std::string_view text, int state,
                                                  bool hasButton, KSItemType type, std::int32_t extra) {
  auto node = std::make_unique<CObjectNode>();
  node->data = TreeItemData{type, std::string(text), extra};
  node->state = state;
  node->hasButton = hasButton;
  node->parent = parent;
  node->id = m_nextId++;
  m_byId.emplace(node->id, node.get());
  return node;
}

void CObjectTree::Renumber(CObjectNode* parent, int from) {
  for (std::size_t i = static_cast<std::size_t>(from); i < parent->children.size(); ++i)
    parent->children[i]->row = static_cast<int>(i);
}

CObjectNode* CObjectTree::InsertKSItem(CObjectNode* parent, int position, std::string_view text, int state,
                                       bool hasChildren, KSItemType type, std::int32_t extra) {
  if (!parent) parent = &m_top;
  auto& siblings = parent->children;
  std::size_t at = siblings.size();
  if (position == KS_INSERT_SORT) {
    // Before the first sibling whose text sorts after the new one, as a sorted
    // insertion into a list that may hold unsorted runs (shares, drives) does.
    at = 0;
    while (at < siblings.size() && !LessIgnoringCase(text, siblings[at]->Text())) ++at;
  } else if (position >= 0) {
    at = std::min(static_cast<std::size_t>(position), siblings.size());
  }
  auto node = NewNode(parent, text, state, hasChildren, type, extra);
  CObjectNode* raw = node.get();
  const int row = static_cast<int>(at);
  if (m_observer) m_observer->BeginInsert(parent, row, row);
  siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(at), std::move(node));
  Renumber(parent, row);
  if (m_observer) m_observer->EndInsert();
  return raw;
}

void CObjectTree::AppendItems(CObjectNode* parent, std::span<const NewItem> items, KSItemType type, int state) {
  if (items.empty()) return;
  if (!parent) parent = &m_top;
  const int first = static_cast<int>(parent->children.size());
  if (m_observer) m_observer->BeginInsert(parent, first, first + static_cast<int>(items.size()) - 1);
  parent->children.reserve(parent->children.size() + items.size());
  for (const NewItem& item : items) {
    parent->children.push_back(NewNode(parent, item.text, state, item.hasButton, type, 0));
    if (!item.buttonKnown) parent->children.back()->buttonTest = ButtonTest::Untested;
    parent->children.back()->row = static_cast<int>(parent->children.size()) - 1;
  }
  if (m_observer) m_observer->EndInsert();
}

void CObjectTree::Forget(CObjectNode* node) {
  for (auto& child : node->children) Forget(child.get());
  m_byId.erase(node->id);
}

void CObjectTree::RemoveRows(CObjectNode* parent, int first, int last) {
  if (m_observer) m_observer->BeginRemove(parent, first, last);
  auto& siblings = parent->children;
  for (int i = first; i <= last; ++i) Forget(siblings[static_cast<std::size_t>(i)].get());
  siblings.erase(siblings.begin() + first, siblings.begin() + last + 1);
  Renumber(parent, first);
  if (m_observer) m_observer->EndRemove();
}

void CObjectTree::DeleteItem(CObjectNode* node) {
  if (!node || node == &m_top || !node->parent) return;
  RemoveRows(node->parent, node->row, node->row);
}

void CObjectTree::DeleteChildren(CObjectNode* node) {
  if (node && !node->children.empty()) RemoveRows(node, 0, static_cast<int>(node->children.size()) - 1);
}

void CObjectTree::DeleteAllItems() { DeleteChildren(&m_top); }

void CObjectTree::SetState(CObjectNode* node, int state) {
  if (node->state == state) return;
  node->state = state;
  if (m_observer) m_observer->NodeChanged(node);
}

void CObjectTree::SetButton(CObjectNode* node, bool hasButton) {
  if (node->hasButton == hasButton) return;
  node->hasButton = hasButton;
  if (m_observer) m_observer->NodeChanged(node);
}

void CObjectTree::SetButtonUntested(CObjectNode* node) {
  if (node->buttonTest == ButtonTest::Untested) return;
  node->buttonTest = ButtonTest::Untested;
  if (m_observer) m_observer->NodeChanged(node);  // a shown row is painted again, and so tested
}

int CObjectTree::ClickCheckBox(CObjectNode* node) {
  if (!node || node->state == KS_STATE_NONE) return node ? node->state : KS_STATE_NONE;
  const int state = node->state == KS_STATE_UNCHECKED ? KS_STATE_CHECKED : KS_STATE_UNCHECKED;
  SetState(node, state);
  ResetParentState(node, false);
  ResetChildrenState(node, state == KS_STATE_CHECKED);
  return state;
}

void CObjectTree::ResetChildrenState(CObjectNode* node, bool checked) {
  // One notification for the children's rows: a big folder is one repaint.
  const int state = checked ? KS_STATE_CHECKED : KS_STATE_UNCHECKED;
  int first = -1;
  int last = -1;
  for (auto& child : node->children) {
    if (child->state == KS_STATE_NONE) continue;  // no check box: neither it nor its subtree
    if (child->state != state) {
      child->state = state;
      if (first < 0) first = child->row;
      last = child->row;
    }
    ResetChildrenState(child.get(), checked);
  }
  if (first >= 0 && m_observer) m_observer->ChildrenChanged(node, first, last);
}

CObjectTree::Summary CObjectTree::Summarise(const CObjectNode* node) {
  Summary summary;
  for (const auto& child : node->children) {
    switch (child->state) {
      case KS_STATE_PARTIAL: summary.allChecked = summary.allUnchecked = false; break;
      case KS_STATE_CHECKED: summary.allUnchecked = false; break;
      case KS_STATE_UNCHECKED: summary.allChecked = false; break;
      default: break;
    }
    if (!summary.allChecked && !summary.allUnchecked) break;
  }
  return summary;
}

int CObjectTree::SummaryState(const Summary& summary) {
  if (summary.allChecked) return KS_STATE_CHECKED;
  return summary.allUnchecked ? KS_STATE_UNCHECKED : KS_STATE_PARTIAL;
}

void CObjectTree::ResetItemState(CObjectNode* node) {
  const int state = SummaryState(Summarise(node));
  SetState(node, state);
  ResetParentState(node, state == KS_STATE_PARTIAL);
}

void CObjectTree::ResetParentState(CObjectNode* node, bool partial) {
  for (CObjectNode* parent = Parent(node); parent && parent->state != KS_STATE_NONE; parent = Parent(parent)) {
    if (partial) {
      SetState(parent, KS_STATE_PARTIAL);
    } else {
      const int state = SummaryState(Summarise(parent));
      SetState(parent, state);
      partial = state == KS_STATE_PARTIAL;
    }
  }
}

void CObjectTree::CheckChildren(CObjectNode* node, const std::vector<std::string>& names, KSItemType type) {
  std::unordered_set<std::string> wanted;
  wanted.reserve(names.size());
  for (const std::string& name : names) wanted.insert(ToUpperAscii(name));

  // Children of this kind that are gone, removed run by run from the end.
  bool removed = false;
  for (int i = static_cast<int>(node->children.size()) - 1; i >= 0;) {
    const CObjectNode* child = node->children[static_cast<std::size_t>(i)].get();
    if (child->Type() != type || wanted.count(ToUpperAscii(child->Text()))) {
      --i;
      continue;
    }
    int first = i;
    while (first > 0) {
      const CObjectNode* before = node->children[static_cast<std::size_t>(first) - 1].get();
      if (before->Type() != type || wanted.count(ToUpperAscii(before->Text()))) break;
      --first;
    }
    RemoveRows(node, first, i);
    removed = true;
    i = first - 1;
  }
  if (removed) ResetItemState(node);

  std::unordered_set<std::string> present;
  present.reserve(node->children.size());
  for (const auto& child : node->children) present.insert(ToUpperAscii(child->Text()));
  const int state = node->state == KS_STATE_CHECKED ? KS_STATE_CHECKED : KS_STATE_UNCHECKED;
  std::vector<std::string> added;
  for (const std::string& name : names)
    if (present.insert(ToUpperAscii(name)).second) added.push_back(name);
  if (node->children.empty()) {
    // Nothing to merge with: sorted once and appended in one step.
    std::stable_sort(added.begin(), added.end(),
                     [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
    std::vector<NewItem> items;
    items.reserve(added.size());
    for (std::string& name : added) items.push_back({std::move(name), true});
    AppendItems(node, items, type, state);
  } else {
    for (const std::string& name : added) InsertKSItem(node, KS_INSERT_SORT, name, state, true, type, 0);
  }
}

void CObjectTree::CheckObject(const CObjectNode* first, CSelectedObjects& objects) const {
  for (const CObjectNode* item = first; item; item = NextSibling(item)) {
    switch (item->state) {
      case KS_STATE_CHECKED:
        if (item->Type() == KS_DOMAIN) {
          if (item->HasChildren()) CheckObject(item->children.front().get(), objects);
        } else if (item->Type() == KS_MACHINE) {
          objects.AddObject(item->Text());
        } else if (IsDriveItem(item->Type()) || item->Type() == KS_SHARE || item->Type() == KS_FOLDER) {
          objects.AddObject(GetFullPath(item));
        }
        break;
      case KS_STATE_UNCHECKED:
        break;
      default:  // no check box, or partly checked: look below
        if (item->HasChildren()) CheckObject(item->children.front().get(), objects);
        break;
    }
  }
}

int CObjectTree::SaveObject(CSelectedObjects& objects) const {
  objects.RemoveAllObject();
  if (!m_top.children.empty()) CheckObject(m_top.children.front().get(), objects);
  return 1;
}

std::string CObjectTree::GetFullPath(const CObjectNode* node) {
  if (!node) return {};
  if (IsDriveItem(node->Type())) return node->Text() + "\\";
  std::string path = node->Text();
  for (const CObjectNode* parent = Parent(node); parent; parent = Parent(parent)) {
    if (IsDriveItem(parent->Type())) return parent->Text() + "\\" + path;
    if (parent->Type() == KS_MACHINE) return "\\\\" + parent->Text() + "\\" + path;
    path = parent->Text() + "\\" + path;
  }
  return path;
}

}  // namespace vn::console
