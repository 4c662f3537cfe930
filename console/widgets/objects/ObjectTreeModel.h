#pragma once
// The object tree as a Qt item model, for CKSTreeView's tree widget
// (CObjectNodeModel: one column, text, image, check box, expand button): the
// image by the item's kind, an open folder for a folder expanded with
// children. A check box toggled through the model applies the tree's click
// rule (not the state the widget proposes). Owned by the view; the tree must
// outlive it. User-interface thread only.

#include <QIcon>
#include <array>
#include <functional>

#include "console/widgets/support/ObjectNodeModel.h"

namespace vn::console {

class CObjectTreeModel : public CObjectNodeModel {
 public:
  explicit CObjectTreeModel(CObjectTree& tree, QObject* parent = nullptr);
  ~CObjectTreeModel() override;

  // Called after a check box click was applied to node (the view adds what
  // a click means beyond the check rules).
  void SetClickCallback(std::function<void(CObjectNode*, int oldState)> callback) { m_onClick = std::move(callback); }

 private:
  QIcon NodeImage(const CObjectNode* node) const override;
  void CheckClicked(CObjectNode* node) override;

  std::array<QIcon, 11> m_images;
  std::function<void(CObjectNode*, int)> m_onClick;
};

}  // namespace vn::console
