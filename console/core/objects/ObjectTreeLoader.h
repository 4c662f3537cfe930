#pragma once
// Fills the object tree and keeps it current: the roots and the preferred
// machines at first show, each item's children on its first expansion
// (PopulateTreeNode), and Refresh, which merges what the machines hold now
// into what the tree shows without losing the user's checks and revisits only
// what was expanded.
//
// Listing is done off the user-interface thread, on the loader's own threads:
// a machine that is switched off or drops packets keeps its node empty until
// the platform gives up on it (its connection time-out), and the window stays
// responsive meanwhile. Results are applied on the user-interface thread, in
// the order they arrive, to the node that asked for them if it still exists
// (an item deleted meanwhile simply drops its result). Failures are empty
// lists: the node gets no children and, after its first expansion, loses its
// expand button.
//
// Owned by the tree's view, with the tree outliving it; user-interface thread
// only. Destroying the loader waits for listings still running (at most the
// platform's connection time-out) and drops their results.

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/core/objects/BackgroundWork.h"
#include "console/core/objects/ObjectTree.h"

namespace vn::console {

class CObjectTreeLoader : public QObject {
 public:
  explicit CObjectTreeLoader(CObjectTree& tree, QObject* parent = nullptr);
  ~CObjectTreeLoader() override;

  // "My Computer" first (expand button, no check box), then "Microsoft
  // Windows Network" (expand button), then "Preferred Machines" (no expand
  // button) with its stored machines.
  void InsertRoots();
  // The first expansion of node: starts listing its children. Nothing when it
  // was expanded before.
  void PopulateTreeNode(CObjectNode* node);
  // Merges the current drives, network and folders into every item that was
  // expanded at least once.
  void Refresh();
  void GetPreferences(CObjectNode* root);
  // Stores the children of the last root as the preferred machines.
  void SavePreferences();

  // Folders whose rows are shown without knowing whether they have
  // subfolders (ButtonTest::Untested): tests them off the user-interface
  // thread and gives those that have subfolders their expand button. Ids of
  // nodes gone or known already are passed over.
  void TestButtons(const std::vector<std::uint64_t>& ids);

  // Listings and tests started and not yet applied, and big listings still
  // being added to the tree.
  int PendingWork() const { return m_work.Pending() + m_turnsPending; }
  // Called on the user-interface thread after node's children were first
  // filled (also when nothing was found).
  void SetPopulatedCallback(std::function<void(CObjectNode*)> callback) { m_onPopulated = std::move(callback); }

 private:
  template <class Result>
  void Run(const CObjectNode* node, std::function<Result()> work, std::function<void(CObjectNode*, Result&)> apply);
  void FinishPopulate(CObjectNode* node);
  // Adds the folders from `from` on to node `id`, a step per event loop turn.
  void AppendFolders(std::uint64_t id, std::shared_ptr<const std::vector<NewItem>> items, std::size_t from);
  void RefreshMyComputer(CObjectNode* root);
  void RefreshFolder(CObjectNode* item);
  void GiveButton(CObjectNode* folder);
  void RefreshNetworkItem(CObjectNode* item);
  void RefreshNetworkChildren(CObjectNode* item);
  int ChildState(const CObjectNode* node) const;

  CObjectTree& m_tree;
  CBackgroundWork m_work;
  std::function<void(CObjectNode*)> m_onPopulated;
  int m_turnsPending = 0;
};

}  // namespace vn::console
