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

CReportTreeModel::CReportTreeModel(CObjectTree& tree, QObject* parent) : CObjectNodeModel(tree, parent) {}

CReportTreeModel::~CReportTreeModel() = default;

QIcon CReportTreeModel::NodeImage(const CObjectNode* node) const { return ReportImage(ReportItemImage(node->Type())); }

void CReportTreeModel::CheckClicked(CObjectNode* node) {
  if (m_onChoose) m_onChoose(node);
}

}  // namespace vn::console
