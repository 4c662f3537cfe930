#include "console/widgets/reports/ReportTreeModel.h"

#include <QApplication>
#include <QStyle>

#include "console/core/reports/ReportTree.h"

namespace vn::console {

QIcon ReportImage(int index) {
  // 0 My Computer, 1 network, 2 domain, 3 machine, 4 "Report Sets", 5 a report
  // set, 6 "Custom Reports", 7 a custom report, 8 "User Filters", 9 a user
  // filter, 10 a report of a set.
  static constexpr QStyle::StandardPixmap kPictures[] = {
      QStyle::SP_ComputerIcon,         QStyle::SP_DriveNetIcon,         QStyle::SP_DirLinkIcon,
      QStyle::SP_ComputerIcon,         QStyle::SP_DirClosedIcon,        QStyle::SP_FileDialogDetailedView,
      QStyle::SP_DirIcon,              QStyle::SP_FileDialogContentsView, QStyle::SP_DirHomeIcon,
      QStyle::SP_FileDialogInfoView,   QStyle::SP_FileIcon};
  const QStyle* style = QApplication::style();
  if (!style || index < 0 || index >= static_cast<int>(std::size(kPictures))) return {};
  return style->standardIcon(kPictures[index]);
}

CReportTreeModel::CReportTreeModel(CObjectTree& tree, QObject* parent) : QAbstractItemModel(parent), m_tree(tree) {
  m_tree.SetObserver(this);
}

CReportTreeModel::~CReportTreeModel() { m_tree.SetObserver(nullptr); }

CObjectNode* CReportTreeModel::Node(const QModelIndex& index) const {
  return index.isValid() ? static_cast<CObjectNode*>(index.internalPointer()) : nullptr;
}

QModelIndex CReportTreeModel::Index(const CObjectNode* node) const {
  if (!node || node == m_tree.Top()) return {};
  return createIndex(node->row, 0, const_cast<CObjectNode*>(node));
}

QModelIndex CReportTreeModel::ParentIndex(CObjectNode* parent) const {
  return parent == m_tree.Top() ? QModelIndex() : Index(parent);
}

QModelIndex CReportTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= node->children.size()) return {};
  return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CReportTreeModel::parent(const QModelIndex& child) const {
  const CObjectNode* node = Node(child);
  if (!node || node->parent == m_tree.Top()) return {};
  return Index(node->parent);
}

int CReportTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  return static_cast<int>(node->children.size());
}

int CReportTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CReportTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return !m_tree.Top()->children.empty();
  const CObjectNode* node = Node(parent);
  return node->hasButton || node->HasChildren();
}

QVariant CReportTreeModel::data(const QModelIndex& index, int role) const {
  const CObjectNode* node = Node(index);
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(node->Text());
    case Qt::DecorationRole:
      return ReportImage(ReportItemImage(node->Type()));
    case Qt::CheckStateRole:
      switch (node->state) {
        case KS_STATE_CHECKED: return Qt::Checked;
        case KS_STATE_UNCHECKED: return Qt::Unchecked;
        default: return {};
      }
    default:
      return {};
  }
}

bool CReportTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  CObjectNode* node = Node(index);
  if (!node || role != Qt::CheckStateRole || node->state == KS_STATE_NONE) return false;
  if (m_onChoose) m_onChoose(node);
  return true;
}

Qt::ItemFlags CReportTreeModel::flags(const QModelIndex& index) const {
  const CObjectNode* node = Node(index);
  if (!node) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (node->state != KS_STATE_NONE) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void CReportTreeModel::BeginInsert(CObjectNode* parent, int first, int last) {
  beginInsertRows(ParentIndex(parent), first, last);
}

void CReportTreeModel::EndInsert() { endInsertRows(); }

void CReportTreeModel::BeginRemove(CObjectNode* parent, int first, int last) {
  beginRemoveRows(ParentIndex(parent), first, last);
}

void CReportTreeModel::EndRemove() { endRemoveRows(); }

void CReportTreeModel::NodeChanged(CObjectNode* node) {
  const QModelIndex at = Index(node);
  emit dataChanged(at, at, {Qt::CheckStateRole, Qt::DecorationRole});
}

void CReportTreeModel::ChildrenChanged(CObjectNode* parent, int first, int last) {
  const QModelIndex at = ParentIndex(parent);
  emit dataChanged(index(first, 0, at), index(last, 0, at), {Qt::CheckStateRole});
}

void CReportTreeModel::BeginReorder(CObjectNode* parent) {
  emit layoutAboutToBeChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  for (const QModelIndex& persistent : persistentIndexList()) {
    m_reorderFrom.push_back(persistent);
    m_reorderNodes.push_back(Node(persistent));
  }
}

void CReportTreeModel::EndReorder(CObjectNode* parent) {
  QModelIndexList to;
  for (CObjectNode* node : m_reorderNodes) to.push_back(Index(node));
  changePersistentIndexList(m_reorderFrom, to);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  emit layoutChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace vn::console
