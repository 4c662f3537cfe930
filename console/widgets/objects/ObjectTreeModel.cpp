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

CObjectTreeModel::CObjectTreeModel(CObjectTree& tree, QObject* parent) : CObjectNodeModel(tree, parent) {
  if (QApplication::style()) {
    const QStyle* style = QApplication::style();
    const QStyle::StandardPixmap pictures[] = {
        QStyle::SP_ComputerIcon, QStyle::SP_DriveHDIcon, QStyle::SP_DriveCDIcon, QStyle::SP_DriveNetIcon,
        QStyle::SP_DirClosedIcon, QStyle::SP_DirOpenIcon, QStyle::SP_DriveNetIcon, QStyle::SP_DirLinkIcon,
        QStyle::SP_ComputerIcon, QStyle::SP_DirHomeIcon, QStyle::SP_DriveNetIcon};
    for (std::size_t i = 0; i < m_images.size(); ++i) m_images[i] = style->standardIcon(pictures[i]);
  }
}

CObjectTreeModel::~CObjectTreeModel() = default;

QIcon CObjectTreeModel::NodeImage(const CObjectNode* node) const {
  const bool expanded = node->Type() == KS_FOLDER && node->expandedOnce && node->HasChildren();
  return m_images[static_cast<std::size_t>(ImageIndex(node->Type(), expanded))];
}

void CObjectTreeModel::CheckClicked(CObjectNode* node) {
  const int oldState = node->state;
  Tree().ClickCheckBox(node);
  if (m_onClick) m_onClick(node, oldState);
}

}  // namespace vn::console
