#pragma once
// The right-hand pane of the "Object" tab: a two-column table ("Type of
// Information", "Value") of facts about the item selected in the object tree
// (see MachineInfoRows). It follows the tree's selection only: updates from
// other views are ignored. Drive and directory facts may come from another
// machine, so they are read off the user-interface thread; the rows appear
// when they arrive, if the item is still the one selected.
//
// Owned by its frame; user-interface thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "console/core/objects/MachineInfo.h"
#include "console/widgets/support/KSExport.h"
#include "ui/View.h"

class CKSMgrDoc;
class QTreeWidget;

namespace vn::console {
class CBackgroundWork;
}

class KS_EXPORT CKSListView : public CView {
  DECLARE_DYNCREATE(CKSListView)

 public:
  CKSListView();
  ~CKSListView() override;

  CKSMgrDoc* GetDocument() const;
  void OnInitialUpdate() override;
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  QTreeWidget* List() const { return m_pList; }
  // Id of the tree item shown (0 for none), and readings not yet shown.
  std::uint64_t ShownItem() const { return m_nItem; }
  int PendingWork() const;

 private:
  void ShowRows(const std::vector<vn::console::InfoRow>& rows);

  QTreeWidget* m_pList;
  std::unique_ptr<vn::console::CBackgroundWork> m_pWork;
  std::uint64_t m_nItem = 0;
};
