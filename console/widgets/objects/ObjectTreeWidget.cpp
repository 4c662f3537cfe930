#include "console/widgets/objects/ObjectTreeWidget.h"

#include <QPaintEvent>

#include "console/widgets/support/ObjectNodeModel.h"

namespace vn::console {

CObjectTreeWidget::CObjectTreeWidget(QWidget* parent) : QTreeView(parent) {}

void CObjectTreeWidget::paintEvent(QPaintEvent* event) {
  QTreeView::paintEvent(event);
  const auto* nodes = dynamic_cast<const CObjectNodeModel*>(model());
  if (!m_onShownUntested || !nodes) return;
  // The rows of the viewport, top to bottom: a screenful, whatever the tree holds.
  std::vector<std::uint64_t> untested;
  const int bottom = viewport()->height();
  for (QModelIndex index = indexAt(QPoint(0, 0)); index.isValid(); index = indexBelow(index)) {
    if (visualRect(index).top() >= bottom) break;
    const CObjectNode* node = nodes->Node(index);
    if (node && node->buttonTest == ButtonTest::Untested) untested.push_back(node->id);
  }
  if (!untested.empty()) m_onShownUntested(std::move(untested));
}

}  // namespace vn::console
