#include "console/widgets/support/ObjectNodeModel.h"

namespace vn::console {

CObjectNodeModel::CObjectNodeModel(CObjectTree& tree, QObject* parent) : QAbstractItemModel(parent), m_tree(tree) {
  m_tree.SetObserver(this);
}

CObjectNodeModel::~CObjectNodeModel() { m_tree.SetObserver(nullptr); }

CObjectNode* CObjectNodeModel::Node(const QModelIndex& index) const {
  return index.isValid() ? static_cast<CObjectNode*>(index.internalPointer()) : nullptr;
}

QModelIndex CObjectNodeModel::Index(const CObjectNode* node) const {
  if (!node || node == m_tree.Top()) return {};
  return createIndex(node->row, 0, const_cast<CObjectNode*>(node));
}

QModelIndex CObjectNodeModel::ParentIndex(CObjectNode* parent) const {
  return parent == m_tree.Top() ? QModelIndex() : Index(parent);
}

QModelIndex CObjectNodeModel::index(int row, int column, const QModelIndex& parent) const {
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= node->children.size()) return {};
  return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CObjectNodeModel::parent(const QModelIndex& child) const {
  const CObjectNode* node = Node(child);
  if (!node || node->parent == m_tree.Top()) return {};
  return Index(node->parent);
}

int CObjectNodeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  return static_cast<int>(node->children.size());
}

int CObjectNodeModel::columnCount(const QModelIndex&) const { return 1; }

bool CObjectNodeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return !m_tree.Top()->children.empty();
  const CObjectNode* node = Node(parent);
  return node->hasButton || node->HasChildren();
}


QVariant CObjectNodeModel::data(const QModelIndex& index, int role) const {
  const CObjectNode* node = Node(index);
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(node->Text());
    case Qt::DecorationRole:
      return NodeImage(node);
    case Qt::CheckStateRole:
      switch (node->state) {
        case KS_STATE_CHECKED: return Qt::Checked;
        case KS_STATE_UNCHECKED: return Qt::Unchecked;
        case KS_STATE_PARTIAL: return Qt::PartiallyChecked;
        default: return {};
      }
    default:
      return {};
  }
}


bool CObjectNodeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  CObjectNode* node = Node(index);
  if (!node || role != Qt::CheckStateRole || node->state == KS_STATE_NONE) return false;
  CheckClicked(node);
  return true;
}

Qt::ItemFlags CObjectNodeModel::flags(const QModelIndex& index) const {
  const CObjectNode* node = Node(index);
  if (!node) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (node->state != KS_STATE_NONE) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void CObjectNodeModel::BeginInsert(CObjectNode* parent, int first, int last) {
  beginInsertRows(ParentIndex(parent), first, last);
}

void CObjectNodeModel::EndInsert() { endInsertRows(); }

void CObjectNodeModel::BeginRemove(CObjectNode* parent, int first, int last) {
  beginRemoveRows(ParentIndex(parent), first, last);
}

void CObjectNodeModel::EndRemove() { endRemoveRows(); }

void CObjectNodeModel::NodeChanged(CObjectNode* node) {
  const QModelIndex at = Index(node);
  emit dataChanged(at, at, {Qt::CheckStateRole, Qt::DecorationRole});
}

void CObjectNodeModel::ChildrenChanged(CObjectNode* parent, int first, int last) {
  const QModelIndex at = ParentIndex(parent);
  emit dataChanged(index(first, 0, at), index(last, 0, at), {Qt::CheckStateRole});
}

void CObjectNodeModel::BeginReorder(CObjectNode* parent) {
  emit layoutAboutToBeChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  for (const QModelIndex& persistent : persistentIndexList()) {
    m_reorderFrom.push_back(persistent);
    m_reorderNodes.push_back(Node(persistent));
  }
}

void CObjectNodeModel::EndReorder(CObjectNode* parent) {
  QModelIndexList to;
  for (CObjectNode* node : m_reorderNodes) to.push_back(Index(node));
  changePersistentIndexList(m_reorderFrom, to);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  emit layoutChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace vn::console
