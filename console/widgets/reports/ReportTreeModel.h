#pragma once
// The report tree as a Qt item model, for CKSReportTreeView's tree widget
// (CObjectNodeModel: one column, text, image, check box, expand button): the
// image by the item's report kind, the choice mark of report sets
// and custom reports as a check box (state 1 = chosen, shown checked; state 2
// = not chosen), and an expand button whenever the item has one or has
// children. The tree is a CObjectTree whose items carry report item kinds
// (console/core/reports/ReportTree.h); the model never copies it and follows it
// as its observer. A click on a check box does not toggle it: it hands the item
// to the choose callback, which moves the mark. Owned by the view; the tree
// must outlive it. User-interface thread only.

#include <QIcon>
#include <functional>

#include "console/widgets/support/ObjectNodeModel.h"

namespace vn::console {

// Image `index` of the report views' image list: 0 to 9 as ReportItemImage
// gives them per kind, 10 a report of a report set.
QIcon ReportImage(int index);
inline constexpr int kReportOfSetImage = 10;

class CReportTreeModel : public CObjectNodeModel {
 public:
  explicit CReportTreeModel(CObjectTree& tree, QObject* parent = nullptr);
  ~CReportTreeModel() override;

  void SetChooseCallback(std::function<void(CObjectNode*)> callback) { m_onChoose = std::move(callback); }

 private:
  QIcon NodeImage(const CObjectNode* node) const override;
  void CheckClicked(CObjectNode* node) override;

  std::function<void(CObjectNode*)> m_onChoose;
};

}  // namespace vn::console
