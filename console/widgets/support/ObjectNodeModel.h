#pragma once
// A CObjectTree as a Qt item model: one column, the item's text, its image,
// its check box (checked, unchecked, partly checked, or none), and an expand
// button whenever the item has one or has children. The model never copies
// the tree; it follows it as the tree's observer. What an item's image is and
// what a click on its check box does are the derived model's. Owned by its
// view; the tree must outlive it. User-interface thread only.

#include <QAbstractItemModel>
#include <QIcon>
#include <vector>

#include "console/core/objects/ObjectTree.h"

namespace vn::console {

class CObjectNodeModel : public QAbstractItemModel, private CObjectTreeObserver {
 public:
  explicit CObjectNodeModel(CObjectTree& tree, QObject* parent = nullptr);
  ~CObjectNodeModel() override;

  CObjectNode* Node(const QModelIndex& index) const;
  QModelIndex Index(const CObjectNode* node) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // A check box click: hands the item to CheckClicked (the state the widget
  // proposes is not taken).
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 protected:
  CObjectTree& Tree() const { return m_tree; }
  virtual QIcon NodeImage(const CObjectNode* node) const = 0;
  // The check box of node (which has one) was clicked.
  virtual void CheckClicked(CObjectNode* node) = 0;

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

  CObjectTree& m_tree;
  QModelIndexList m_reorderFrom;
  std::vector<CObjectNode*> m_reorderNodes;
};

}  // namespace vn::console
