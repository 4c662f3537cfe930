#include "console/core/objects/ObjectTreeLoader.h"

#include <QMetaObject>
#include <algorithm>
#include <vector>

#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/support/Resources.h"
#include "platform/core/AsciiText.h"

namespace vn::console {

namespace {

// Several machines may be slow at once; more threads than this only queue up
// in the platform.
constexpr int kListingThreads = 4;

// The subfolders whose one-level test comes with their folder's listing: the
// rows its expansion shows first (and a whole ordinary folder). The others
// are tested when their rows are shown (TestButtons).
constexpr std::size_t kTestedWithListing = 100;

// Rows added to the tree per turn of the event loop: a folder of 100,000
// subfolders fills in steps, and the window answers between them.
constexpr std::size_t kRowsPerTurn = 4096;

std::string Text(UINT id) { return std::string(KSLoadString(id)); }

bool ShareOrder(const CObjectNode& a, const CObjectNode& b) {
  const bool hiddenA = !a.Text().empty() && a.Text().back() == '$';
  const bool hiddenB = !b.Text().empty() && b.Text().back() == '$';
  if (hiddenA != hiddenB) return hiddenB;
  return LessIgnoringCase(a.Text(), b.Text());
}

}  // namespace

CObjectTreeLoader::CObjectTreeLoader(CObjectTree& tree, QObject* parent)
    : QObject(parent), m_tree(tree), m_work(kListingThreads) {}

CObjectTreeLoader::~CObjectTreeLoader() = default;

template <class Result>
void CObjectTreeLoader::Run(const CObjectNode* node, std::function<Result()> work,
                            std::function<void(CObjectNode*, Result&)> apply) {
  const std::uint64_t id = node->id;
  m_work.Run(std::move(work), [this, id, apply = std::move(apply)](Result& result) {
    if (CObjectNode* target = m_tree.Find(id)) apply(target, result);
  });
}

int CObjectTreeLoader::ChildState(const CObjectNode* node) const {
  return node->state == KS_STATE_CHECKED ? KS_STATE_CHECKED : KS_STATE_UNCHECKED;
}

void CObjectTreeLoader::InsertRoots() {
  m_tree.InsertKSItem(nullptr, KS_INSERT_FIRST, Text(IDS_MY_COMPUTER), KS_STATE_NONE, true, KS_MY_COMPUTER);
  m_tree.InsertKSItem(nullptr, KS_INSERT_LAST, Text(IDS_NETWORK_ROOT), KS_STATE_NONE, true, KS_NETWORK);
  CObjectNode* preferred = m_tree.InsertKSItem(nullptr, KS_INSERT_LAST, Text(IDS_PREFERRED_MACHINES), KS_STATE_NONE,
                                               false, KS_PREFERRED_MACHINES);
  GetPreferences(preferred);
}

void CObjectTreeLoader::GetPreferences(CObjectNode* root) {
  for (const std::string& machine : GetPreferredMachines())
    m_tree.InsertKSItem(root, KS_INSERT_SORT, machine, KS_STATE_UNCHECKED, true, KS_MACHINE);
}

void CObjectTreeLoader::SavePreferences() {
  CObjectNode* root = m_tree.LastRoot();
  if (!root) return;
  std::vector<std::string> machines;
  for (const auto& child : root->children) machines.push_back(child->Text());
  SavePreferredMachines(machines);
}

void CObjectTreeLoader::AppendFolders(std::uint64_t id, std::shared_ptr<const std::vector<NewItem>> items,
                                      std::size_t from) {
  CObjectNode* item = m_tree.Find(id);
  if (!item) return;  // deleted meanwhile: the rest goes too
  // A refresh that merged a fresh listing meanwhile has made the children
  // complete; appending the rest would double them.
  if (item->children.size() == from) {
    const std::size_t to = std::min(items->size(), from + kRowsPerTurn);
    m_tree.AppendItems(item, std::span<const NewItem>(items->data() + from, to - from), KS_FOLDER, ChildState(item));
    if (to < items->size()) {
      ++m_turnsPending;
      QMetaObject::invokeMethod(
          this,
          [this, id, items = std::move(items), to]() mutable {
            --m_turnsPending;
            AppendFolders(id, std::move(items), to);
          },
          Qt::QueuedConnection);
      return;
    }
  }
  FinishPopulate(item);
}

void CObjectTreeLoader::TestButtons(const std::vector<std::uint64_t>& ids) {
  std::vector<std::uint64_t> asked;
  std::vector<std::string> paths;
  for (const std::uint64_t id : ids) {
    CObjectNode* node = m_tree.Find(id);
    if (!node || node->buttonTest != ButtonTest::Untested) continue;
    node->buttonTest = ButtonTest::Testing;
    asked.push_back(id);
    paths.push_back(CObjectTree::GetFullPath(node));
  }
  if (asked.empty()) return;
  m_work.Run(
      [paths = std::move(paths)] {
        std::vector<char> has;
        has.reserve(paths.size());
        for (const std::string& path : paths) has.push_back(HasSubfolder(path) ? 1 : 0);
        return has;
      },
      [this, asked = std::move(asked)](std::vector<char>& has) {
        for (std::size_t i = 0; i < asked.size(); ++i) {
          CObjectNode* node = m_tree.Find(asked[i]);
          // Expanded meanwhile: its listing decides.
          if (!node || node->buttonTest != ButtonTest::Testing) continue;
          node->buttonTest = ButtonTest::Known;
          if (has[i]) m_tree.SetButton(node, true);
        }
      });
}

void CObjectTreeLoader::FinishPopulate(CObjectNode* node) {
  if (CObjectTree::Parent(node) && !node->HasChildren()) m_tree.SetButton(node, false);
  if (m_onPopulated) m_onPopulated(node);
}

void CObjectTreeLoader::PopulateTreeNode(CObjectNode* node) {
  if (!node || node->expandedOnce) return;
  node->expandedOnce = true;
  node->buttonTest = ButtonTest::Known;  // the listing tells
  using Names = std::vector<std::string>;
  const std::string text = node->Text();
  switch (node->Type()) {
    case KS_MY_COMPUTER:
      Run<std::vector<DriveEntry>>(node, &ListDrives, [this](CObjectNode* item, std::vector<DriveEntry>& drives) {
        for (const DriveEntry& drive : drives)
          m_tree.InsertKSItem(item, KS_INSERT_LAST, drive.root.substr(0, 2), KS_STATE_UNCHECKED, true, drive.type);
        FinishPopulate(item);
      });
      break;
    case KS_NETWORK:
    case KS_DOMAIN: {
      const bool domain = node->Type() == KS_DOMAIN;
      Run<Names>(
          node,
          [domain, text] {
            Names names;
            GetNetResource(nullptr, domain ? &text : nullptr, nullptr, names, false);
            return names;
          },
          [this, domain](CObjectNode* item, Names& names) {
            m_tree.CheckChildren(item, names, domain ? KS_MACHINE : KS_DOMAIN);
            FinishPopulate(item);
          });
      break;
    }
    case KS_MACHINE:
      Run<Names>(
          node,
          [text] {
            Names shares;
            GetNetShare(text, shares);
            return shares;
          },
          [this](CObjectNode* item, Names& shares) {
            std::vector<NewItem> items;
            for (std::string& share : shares) items.push_back({std::move(share), true});
            m_tree.AppendItems(item, items, KS_SHARE, ChildState(item));
            FinishPopulate(item);
          });
      break;
    case KS_FIXED_DRIVE:
    case KS_REMOTE_DRIVE:
    case KS_CDROM_DRIVE:
    case KS_SHARE:
    case KS_FOLDER: {
      const std::string path = CObjectTree::GetFullPath(node);
      Run<std::vector<FolderEntry>>(
          node, [path] { return ListSubfolders(path, kTestedWithListing); },
          [this](CObjectNode* item, std::vector<FolderEntry>& folders) {
            auto items = std::make_shared<std::vector<NewItem>>();
            items->reserve(folders.size());
            for (FolderEntry& folder : folders)
              items->push_back({std::move(folder.name), folder.hasSubfolder, folder.tested});
            AppendFolders(item->id, std::move(items), 0);
          });
      break;
    }
    default:
      break;  // the preferred machines root holds what the profile gave it
  }
}

void CObjectTreeLoader::Refresh() {
  CObjectNode* top = m_tree.Top();
  if (top->children.size() > 0) RefreshMyComputer(top->children[0].get());
  if (top->children.size() > 1) RefreshNetworkItem(top->children[1].get());
  if (top->children.size() > 2) RefreshNetworkItem(top->children[2].get());
}

void CObjectTreeLoader::RefreshMyComputer(CObjectNode* root) {
  if (!root->expandedOnce) return;
  Run<std::vector<DriveEntry>>(root, &ListDrives, [this](CObjectNode* item, std::vector<DriveEntry>& drives) {
    std::size_t at = 0;
    for (const DriveEntry& drive : drives) {
      for (;;) {
        CObjectNode* child = at < item->children.size() ? item->children[at].get() : nullptr;
        const std::string childRoot = child ? child->Text() + "\\" : std::string();
        if (child && EqualsIgnoringCase(childRoot, drive.root)) {
          if (child->Type() != drive.type) {
            m_tree.DeleteItem(child);
            child = m_tree.InsertKSItem(item, static_cast<int>(at), drive.root.substr(0, 2), KS_STATE_UNCHECKED, true,
                                        drive.type);
          }
          RefreshFolder(child);
          ++at;
          break;
        }
        if (child && LessIgnoringCase(childRoot, drive.root)) {
          m_tree.DeleteItem(child);  // its drive is gone
          continue;
        }
        CObjectNode* added = m_tree.InsertKSItem(item, child ? static_cast<int>(at) : KS_INSERT_LAST,
                                                 drive.root.substr(0, 2), KS_STATE_UNCHECKED, true, drive.type);
        RefreshFolder(added);
        ++at;
        break;
      }
    }
    while (item->children.size() > at) m_tree.DeleteItem(item->children.back().get());
  });
}

void CObjectTreeLoader::RefreshFolder(CObjectNode* item) {
  if (item->buttonTest != ButtonTest::Known) return;  // tested when its row is shown
  const std::string path = CObjectTree::GetFullPath(item);
  if (!item->hasButton && !item->HasChildren()) {
    Run<bool>(item, [path] { return HasSubfolder(path); },
              [this](CObjectNode* folder, bool& has) {
                if (has && !folder->HasChildren()) GiveButton(folder);
              });
    return;
  }
  if (!item->HasChildren()) return;  // filled on its first expansion
  Run<std::vector<FolderEntry>>(item, [path] { return ListSubfolders(path, kTestedWithListing); },
                             [this](CObjectNode* folder, std::vector<FolderEntry>& folders) {
                               std::vector<std::string> names;
                               names.reserve(folders.size());
                               for (const FolderEntry& sub : folders) names.push_back(sub.name);
                               m_tree.CheckChildren(folder, names, KS_FOLDER);
                               // Folders come back sorted, as the children are.
                               std::size_t at = 0;
                               for (const auto& child : folder->children) {
                                 while (at < folders.size() && LessIgnoringCase(folders[at].name, child->Text())) ++at;
                                 const bool listed = at < folders.size() &&
                                                     EqualsIgnoringCase(folders[at].name, child->Text());
                                 if (child->HasChildren()) {
                                   RefreshFolder(child.get());
                                 } else if (!child->hasButton && child->buttonTest == ButtonTest::Known && listed) {
                                   if (!folders[at].tested)
                                     m_tree.SetButtonUntested(child.get());  // asked again when shown
                                   else if (folders[at].hasSubfolder)
                                     GiveButton(child.get());
                                 }
                               }
                             });
}

void CObjectTreeLoader::GiveButton(CObjectNode* folder) {
  // A folder that was empty when first expanded has subfolders now: its next
  // expansion lists them.
  folder->expandedOnce = false;
  m_tree.SetButton(folder, true);
}

void CObjectTreeLoader::RefreshNetworkChildren(CObjectNode* item) {
  std::vector<CObjectNode*> children;
  for (const auto& child : item->children) children.push_back(child.get());
  for (CObjectNode* child : children) RefreshNetworkItem(child);
}

void CObjectTreeLoader::RefreshNetworkItem(CObjectNode* item) {
  using Names = std::vector<std::string>;
  const KSItemType type = item->Type();
  if (type == KS_SHARE || type == KS_FOLDER) {
    RefreshFolder(item);  // covers the folders below it
    return;
  }
  if (!item->expandedOnce && type != KS_PREFERRED_MACHINES) return;
  const std::string text = item->Text();
  switch (type) {
    case KS_NETWORK:
    case KS_DOMAIN: {
      const bool domain = type == KS_DOMAIN;
      Run<Names>(
          item,
          [domain, text] {
            Names names;
            GetNetResource(nullptr, domain ? &text : nullptr, nullptr, names, false);
            return names;
          },
          [this, domain](CObjectNode* node, Names& names) {
            m_tree.CheckChildren(node, names, domain ? KS_MACHINE : KS_DOMAIN);
            RefreshNetworkChildren(node);
          });
      break;
    }
    case KS_MACHINE:
      Run<Names>(
          item,
          [text] {
            Names shares;
            GetNetShare(text, shares);
            return shares;
          },
          [this](CObjectNode* node, Names& shares) {
            m_tree.CheckChildren(node, shares, KS_SHARE);
            m_tree.SortChildren(node, &ShareOrder);
            RefreshNetworkChildren(node);
          });
      break;
    default:
      RefreshNetworkChildren(item);  // the preferred machines root: its machines only
      break;
  }
}

}  // namespace vn::console
