#pragma once
// The right pane of the "Reports" tab: a one-column list ("Information") of
// what the item selected in the report tree holds. For a root, domain, machine
// or folder: one row per child of the item, with its text and image. For a
// user filter: one row with its stored account names (none when empty). For a
// report set: one row per report stored in it. A custom report shows nothing.
// The registry is read off the user-interface thread; the rows appear when they
// arrive, if the item is still the one shown.
//
// Double-click (and "&Properties" of context menu 486): a child of a root,
// domain or machine is selected in the tree; a user filter of "User Filters" is
// edited; a user filter shown is edited and read again; a report set of
// "Report Sets" is edited; a report of a report set opens the report set
// editor on that report and the rows are read again on OK. "&Delete" asks "Are
// you sure you want to delete the selected item(s)?" while bKSConfirm is set
// and deletes the items of the selected rows in row order, stopping at the
// first failure; "&Copy" puts the selected report sets or custom reports on
// the clipboard as one record; "&Paste" pastes into the folder shown.
//
// It follows the report tree only: updates from other views are ignored.
// Owned by its frame; user-interface thread only.

#include <QPoint>
#include <cstdint>
#include <memory>
#include <vector>

#include "console/widgets/support/KSExport.h"
#include "ui/View.h"

class CCmdUI;
class CKSMgrDoc;
class CKSReportTreeView;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace vn::console {
class CBackgroundWork;
struct CObjectNode;
}  // namespace vn::console

class KS_EXPORT CKSReportListView : public CView {
  DECLARE_DYNCREATE(CKSReportListView)

 public:
  CKSReportListView();
  ~CKSReportListView() override;

  CKSMgrDoc* GetDocument() const;
  void OnInitialUpdate() override;
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  QTreeWidget* List() const { return m_pList; }
  // The tree item shown (0 for none), and readings not yet shown.
  std::uint64_t ShownItem() const { return m_nItem; }
  int PendingWork() const;
  // The tree item a row stands for (null for rows of a filter or report set).
  vn::console::CObjectNode* RowNode(const QTreeWidgetItem* row) const;
  // What a double-click on the row does.
  void OpenRow(QTreeWidgetItem* row);
  // The context menu for the selected rows; the caller owns it.
  std::unique_ptr<QMenu> CreateContextMenu();

 private:
  CKSReportTreeView* Tree() const;
  vn::console::CObjectNode* ShownNode() const;
  std::vector<vn::console::CObjectNode*> SelectedNodes() const;
  void Fill(const vn::console::CObjectNode* node);
  void Refill();
  void OnContextMenu(const QPoint& pos);
  void OnProperties();
  void OnUpdateProperties(CCmdUI* pCmdUI);
  void OnDelete();
  void OnUpdateDelete(CCmdUI* pCmdUI);
  void OnCopy();
  void OnUpdateCopy(CCmdUI* pCmdUI);
  void OnPaste();
  void OnUpdatePaste(CCmdUI* pCmdUI);

  QTreeWidget* m_pList;
  std::unique_ptr<vn::console::CBackgroundWork> m_pWork;
  std::uint64_t m_nItem = 0;
};
