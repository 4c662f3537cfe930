#pragma once
// The left pane of the "Reports" tab: the tree of the report sets, custom
// reports and user filters stored on the local computer ("My Computer") and on
// every machine of the Windows network (domains, then machines), each machine
// with its folders "Report Sets", "Custom Reports" and "User Filters". Item
// kinds and the rules without widgets are in console/core/reports/ReportTree.h;
// the items are a CObjectTree shown through CReportTreeModel.
//
// Folders fill on their first expansion; the registry and the browse list are
// read off the user-interface thread (a machine that does not answer keeps its
// folder empty) and the result is applied to the item that asked, if it still
// exists.
//
// The choice: report sets and custom reports carry a check mark; exactly one
// of them at a time is checked, the one a run uses. Clicking a mark moves it;
// selecting a report set or custom report while none is checked checks it.
// SaveReportData hands it to the document. After each selection of a report
// set or custom report, while bShowReportInfo is set, the "Report" box (508)
// says which one it is; its check box clears the flag.
//
// Commands (context menu 484, keys Del, Ctrl+C, Ctrl+V, double-click for
// Properties): "&New..." on user filters, report sets and their folders;
// "&Properties" of a user filter or report set; "&Delete\tDel" of a user
// filter, report set or custom report (asking "Delete report %s.  Are you
// sure?" while bKSConfirm is set); "&Copy\tCtrl+C" of a report set or custom
// report, as a clipboard record (EncodeReportClip) in the format "Vornal
// ReportSet Format" or "Vornal Custom Report Format"; "&Paste\tCtrl+V" of that
// record onto a "Report Sets" or "Custom Reports" folder, copying each stored
// report from its machine to the folder's (a name the destination has already
// goes through "Report Set Exists", 505, and "Replace the existing report"
// deletes the destination's report before the copy, so that it ends up equal
// to the source; pasting a report onto itself copies nothing). New and
// Properties of custom reports open the custom report designer ("Custom
// Report", CCustomReportDialog).
// Every failure is one message box with the system's text for the code; the
// tree stays as it was.
//
// The window handle (GetSafeHwnd) takes WM_KS_USER_FILTER_ADDED from the user
// filter picker and shows the new filter under its machine.
//
// Every change of selection and every edit ended with OK tell the document's
// other views, with the item's id as the hint (FindNode gives the item back).
// Owned by its frame; user-interface thread only.

#include <QPoint>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "console/core/objects/ObjectTree.h"
#include "console/core/reports/ReportSet.h"
#include "console/widgets/support/KSExport.h"
#include "ui/View.h"
#include "ui/WindowMessages.h"

class CCmdUI;
class CKSMgrDoc;
class QMenu;
class QModelIndex;
class QTreeView;

namespace vn::console {
class CBackgroundWork;
class CReportTreeModel;
}  // namespace vn::console

class KS_EXPORT CKSReportTreeView : public CView {
  DECLARE_DYNCREATE(CKSReportTreeView)

 public:
  CKSReportTreeView();
  ~CKSReportTreeView() override;

  CKSMgrDoc* GetDocument() const;
  void OnInitialUpdate() override;

  // Hands the chosen item (or else a selected report set or custom report) to
  // the document: its machine, name and custom report flag. Returns 1, or 0
  // with the document's machine and name emptied when there is none.
  int SaveReportData();

  vn::console::CObjectNode* FindNode(LPARAM lHint) const;
  vn::console::CObjectNode* GetSelectedNode() const;
  void SelectNode(const vn::console::CObjectNode* node);
  // Expands the item in the widget (and so fills it on its first expansion).
  void Expand(const vn::console::CObjectNode* node);
  // The checked report set or custom report, or null.
  vn::console::CObjectNode* GetChosenNode() const;
  // Moves the check mark to node (a report set or custom report).
  void Choose(vn::console::CObjectNode* node);
  // The machine the item belongs to (empty: nothing is done with it).
  std::string ItemMachine(const vn::console::CObjectNode* node) const;
  // Tells the document's other views about node (hint = its id).
  void NotifyViews(const vn::console::CObjectNode* node);
  // The context menu for the selected item with each entry's state; the
  // caller owns it. Entries carry their command id as data.
  std::unique_ptr<QMenu> CreateContextMenu();
  // Where WM_KS_USER_FILTER_ADDED goes.
  HWND GetSafeHwnd() const;

  // The steps of the commands, which the report list's commands share. Each
  // shows its own messages; true when something was stored.
  bool NewUserFilter(vn::console::CObjectNode* node);   // on "User Filters" or a filter
  bool EditUserFilter(vn::console::CObjectNode* filter);
  bool NewReportSet(vn::console::CObjectNode* node);    // on "Report Sets" or a set: the editor
  // What New does with the editor's result: asks before replacing a set of
  // that name, saves, and shows a new set selected under the folder.
  bool SaveNewReportSet(vn::console::CObjectNode* node, const std::string& name, const vn::console::ReportSet& set);
  // The editor on the stored set, on catalogue index nReport (-1: its first
  // report); saved on OK.
  bool EditReportSet(vn::console::CObjectNode* set, int nReport);
  // The custom report designer: a new report on "Custom Reports" or one of
  // its reports (asking before replacing a report of the name typed), or an
  // existing report. After OK the definition is saved, then the options.
  bool NewCustomReport(vn::console::CObjectNode* node);
  bool EditCustomReport(vn::console::CObjectNode* report);
  // Deletes what a user filter, report set or custom report item stands for
  // and then the item, without asking; the code (0 = done).
  [[nodiscard]] LONG DeleteNode(vn::console::CObjectNode* node);
  // Puts one clipboard record with an entry for each report set (or each
  // custom report, after the kind of the first node) of nodes on the clipboard.
  void CopyNodes(std::span<vn::console::CObjectNode* const> nodes);
  // True for a "Report Sets" / "Custom Reports" folder while the clipboard
  // holds a record of its kind.
  bool CanPaste(const vn::console::CObjectNode* folder) const;
  void PasteInto(vn::console::CObjectNode* folder);

  // Readings started and not yet applied.
  int PendingWork() const;
  vn::console::CObjectTree& Tree() { return m_tree; }
  QTreeView* TreeWidget() const { return m_pTreeWidget; }

 private:
  void OnItemExpanded(const QModelIndex& index);
  void OnCurrentChanged(const QModelIndex& current);
  void OnContextMenu(const QPoint& pos);
  void RunIfEnabled(UINT nID);
  void OnNew();
  void OnUpdateNew(CCmdUI* pCmdUI);
  void OnProperties();
  void OnUpdateProperties(CCmdUI* pCmdUI);
  void OnDelete();
  void OnUpdateDelete(CCmdUI* pCmdUI);
  void OnCopy();
  void OnUpdateCopy(CCmdUI* pCmdUI);
  void OnPaste();
  void OnUpdatePaste(CCmdUI* pCmdUI);
  void Populate(vn::console::CObjectNode* node);
  void InsertMachineFolders(vn::console::CObjectNode* machine);
  void FinishPopulate(vn::console::CObjectNode* node);
  // Shows a stored item under its folder (filling the folder first when it
  // never was) and selects it when asked.
  void ShowStoredItem(vn::console::CObjectNode* folder, int kind, const std::string& name, bool select);
  vn::console::CObjectNode* AddUserFilterItem(vn::console::CObjectNode* folder, const std::string& name);
  void OnUserFilterAdded(const std::string& text);
  void ShowReportInfo(const vn::console::CObjectNode* node);
  void ForgetChoice();

  vn::console::CObjectTree m_tree;
  std::unique_ptr<vn::console::CReportTreeModel> m_pModel;
  std::unique_ptr<vn::console::CBackgroundWork> m_pWork;
  std::unique_ptr<CWindowHandle> m_pHandle;
  QTreeView* m_pTreeWidget;
  bool m_bShown = false;
  std::uint64_t m_chosenId = 0;
  // A folder being filled whose item of this name is to be selected then.
  std::uint64_t m_pendingFolder = 0;
  std::string m_strPendingName;
};
