#pragma once
// The object tree as a Qt item model, for CKSTreeView's tree widget: one
// column, the item's text, its image by kind, its check box (checked,
// unchecked, partly checked, or none), and an expand button whenever the item
// has one or has children. The model never copies the tree; it follows it as
// the tree's observer. A check box toggled through the model applies the
// tree's click rule (not the state the widget proposes). Owned by the view;
// the tree must outlive it. User-interface thread only.

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <functional>

#include "console/core/objects/ObjectTree.h"

namespace vn::console {

class CObjectTreeModel : public QAbstractItemModel, private CObjectTreeObserver {
 public:
  explicit CObjectTreeModel(CObjectTree& tree, QObject* parent = nullptr);
  ~CObjectTreeModel() override;

  CObjectNode* Node(const QModelIndex& index) const;
  QModelIndex Index(const CObjectNode* node) const;
  // Called after a check box click was applied to node (the view adds what
  // a click means beyond the check rules).
  void SetClickCallback(std::function<void(CObjectNode*, int oldState)> callback) { m_onClick = std::move(callback); }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void BeginInsert(CObjectNode* parent, int first, int last) override;
  void EndInsert() override;
  void BeginRemove(CObjectNode* parent, int first, int last) override;
  void EndRemove() override;
  void NodeChanged(CObjectNode* node) override;
  void ChildrenChanged(CObjectNode* parent, int first, int last) override;
  void BeginReorder(CObjectNode* parent) override;
  void EndReorder(CObjectNode* parent) override;
  QModelIndex ParentIndex(CObjectNode* parent) const;
  QIcon Image(const CObjectNode* node, bool expanded) const;

  CObjectTree& m_tree;
  std::array<QIcon, 11> m_images;
  std::function<void(CObjectNode*, int)> m_onClick;
  QModelIndexList m_reorderFrom;
  std::vector<CObjectNode*> m_reorderNodes;
};

}  // namespace vn::console
