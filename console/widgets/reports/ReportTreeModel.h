#pragma once
// The report tree as a Qt item model, for CKSReportTreeView's tree widget: one
// column, the item's text, its image by kind, the choice mark of report sets
// and custom reports as a check box (state 1 = chosen, shown checked; state 2
// = not chosen), and an expand button whenever the item has one or has
// children. The tree is a CObjectTree whose items carry report item kinds
// (console/core/reports/ReportTree.h); the model never copies it and follows it
// as its observer. A click on a check box does not toggle it: it hands the item
// to the choose callback, which moves the mark. Owned by the view; the tree
// must outlive it. User-interface thread only.

#include <QAbstractItemModel>
#include <QIcon>
#include <functional>

#include "console/core/objects/ObjectTree.h"

namespace vn::console {

// Image `index` of the report views' image list: 0 to 9 as ReportItemImage
// gives them per kind, 10 a report of a report set.
QIcon ReportImage(int index);
inline constexpr int kReportOfSetImage = 10;

class CReportTreeModel : public QAbstractItemModel, private CObjectTreeObserver {
 public:
  explicit CReportTreeModel(CObjectTree& tree, QObject* parent = nullptr);
  ~CReportTreeModel() override;

  CObjectNode* Node(const QModelIndex& index) const;
  QModelIndex Index(const CObjectNode* node) const;
  void SetChooseCallback(std::function<void(CObjectNode*)> callback) { m_onChoose = std::move(callback); }

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

  CObjectTree& m_tree;
  std::function<void(CObjectNode*)> m_onChoose;
  QModelIndexList m_reorderFrom;
  std::vector<CObjectNode*> m_reorderNodes;
};

}  // namespace vn::console
