#include "console/widgets/objects/ObjectTreeModel.h"

#include <QApplication>
#include <QStyle>

namespace vn::console {
namespace {

// The item image list, in index order: 0 My Computer, 1 fixed drive, 2 CD-ROM,
// 3 remote drive, 4 closed folder, 5 open folder, 6 network, 7 domain,
// 8 machine, 9 preferred machines, 10 share.
int ImageIndex(KSItemType type, bool expanded) {
  switch (type) {
    case KS_MY_COMPUTER: return 0;
    case KS_NETWORK: return 6;
    case KS_DOMAIN: return 7;
    case KS_MACHINE: return 8;
    case KS_FIXED_DRIVE: return 1;
    case KS_REMOTE_DRIVE: return 3;
    case KS_CDROM_DRIVE: return 2;
    case KS_SHARE: return 10;
    case KS_FOLDER: return expanded ? 5 : 4;
    case KS_PREFERRED_MACHINES: return 9;
  }
  return 4;
}

}  // namespace

CObjectTreeModel::CObjectTreeModel(CObjectTree& tree, QObject* parent) : QAbstractItemModel(parent), m_tree(tree) {
  if (QApplication::style()) {
    const QStyle* style = QApplication::style();
    const QStyle::StandardPixmap pictures[] = {
        QStyle::SP_ComputerIcon, QStyle::SP_DriveHDIcon, QStyle::SP_DriveCDIcon, QStyle::SP_DriveNetIcon,
        QStyle::SP_DirClosedIcon, QStyle::SP_DirOpenIcon, QStyle::SP_DriveNetIcon, QStyle::SP_DirLinkIcon,
        QStyle::SP_ComputerIcon, QStyle::SP_DirHomeIcon, QStyle::SP_DriveNetIcon};
    for (std::size_t i = 0; i < m_images.size(); ++i) m_images[i] = style->standardIcon(pictures[i]);
  }
  m_tree.SetObserver(this);
}

CObjectTreeModel::~CObjectTreeModel() { m_tree.SetObserver(nullptr); }

CObjectNode* CObjectTreeModel::Node(const QModelIndex& index) const {
  return index.isValid() ? static_cast<CObjectNode*>(index.internalPointer()) : nullptr;
}

QModelIndex CObjectTreeModel::Index(const CObjectNode* node) const {
  if (!node || node == m_tree.Top()) return {};
  return createIndex(node->row, 0, const_cast<CObjectNode*>(node));
}

QModelIndex CObjectTreeModel::ParentIndex(CObjectNode* parent) const {
  return parent == m_tree.Top() ? QModelIndex() : Index(parent);
}

QModelIndex CObjectTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= node->children.size()) return {};
  return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CObjectTreeModel::parent(const QModelIndex& child) const {
  const CObjectNode* node = Node(child);
  if (!node || node->parent == m_tree.Top()) return {};
  return Index(node->parent);
}

int CObjectTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const CObjectNode* node = parent.isValid() ? Node(parent) : m_tree.Top();
  return static_cast<int>(node->children.size());
}

int CObjectTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CObjectTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return !m_tree.Top()->children.empty();
  const CObjectNode* node = Node(parent);
  return node->hasButton || node->HasChildren();
}

QIcon CObjectTreeModel::Image(const CObjectNode* node, bool expanded) const {
  return m_images[static_cast<std::size_t>(ImageIndex(node->Type(), expanded))];
}

QVariant CObjectTreeModel::data(const QModelIndex& index, int role) const {
  const CObjectNode* node = Node(index);
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(node->Text());
    case Qt::DecorationRole:
      return Image(node, node->Type() == KS_FOLDER && node->expandedOnce && node->HasChildren());
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

bool CObjectTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  CObjectNode* node = Node(index);
  if (!node || role != Qt::CheckStateRole || node->state == KS_STATE_NONE) return false;
  const int oldState = node->state;
  m_tree.ClickCheckBox(node);
  if (m_onClick) m_onClick(node, oldState);
  return true;
}

Qt::ItemFlags CObjectTreeModel::flags(const QModelIndex& index) const {
  const CObjectNode* node = Node(index);
  if (!node) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (node->state != KS_STATE_NONE) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void CObjectTreeModel::BeginInsert(CObjectNode* parent, int first, int last) {
  beginInsertRows(ParentIndex(parent), first, last);
}

void CObjectTreeModel::EndInsert() { endInsertRows(); }

void CObjectTreeModel::BeginRemove(CObjectNode* parent, int first, int last) {
  beginRemoveRows(ParentIndex(parent), first, last);
}

void CObjectTreeModel::EndRemove() { endRemoveRows(); }

void CObjectTreeModel::NodeChanged(CObjectNode* node) {
  const QModelIndex at = Index(node);
  emit dataChanged(at, at, {Qt::CheckStateRole, Qt::DecorationRole});
}

void CObjectTreeModel::ChildrenChanged(CObjectNode* parent, int first, int last) {
  const QModelIndex at = ParentIndex(parent);
  emit dataChanged(index(first, 0, at), index(last, 0, at), {Qt::CheckStateRole});
}

void CObjectTreeModel::BeginReorder(CObjectNode* parent) {
  emit layoutAboutToBeChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  for (const QModelIndex& persistent : persistentIndexList()) {
    m_reorderFrom.push_back(persistent);
    m_reorderNodes.push_back(Node(persistent));
  }
}

void CObjectTreeModel::EndReorder(CObjectNode* parent) {
  QModelIndexList to;
  for (CObjectNode* node : m_reorderNodes) to.push_back(Index(node));
  changePersistentIndexList(m_reorderFrom, to);
  m_reorderFrom.clear();
  m_reorderNodes.clear();
  emit layoutChanged({ParentIndex(parent)}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace vn::console
