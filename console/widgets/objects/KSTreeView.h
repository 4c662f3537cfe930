#pragma once
// The "Object" pane of the manager window: the tree of the local computer's
// drives, the Windows network (domains, machines, their disk shares) and the
// preferred machines, with tri-state check boxes, in which the user picks what
// reports run on. The tree and its rules are CObjectTree; this view shows it
// (CObjectTreeModel in a tree widget), fills it as items are expanded
// (CObjectTreeLoader: other machines are listed off the user-interface
// thread), turns a click on a check box into the check rules, and hands the
// checked objects to the document (SaveObject).
//
// Commands: Refresh (F5), Clear Selections, New (a preferred machine, on the
// "Preferred Machines" root), Delete (a machine under that root), Run (a
// report set over the checked objects, or over the current item when nothing
// is checked), in the context menu as well. A new selection is announced to the document's other
// views with the item's id as the hint (FindNode gives the item back).
//
// On a machine (or "My Computer") that is a Windows NT machine, three more
// commands reach its reporting server: install ("&Install Server..." when it
// has none, "&Update Server..." when its build is older than the console's),
// deinstall and Properties (when it has a server of any build). Their update
// handlers ask the machine each time (NT test, install state). A double
// click on such a machine without a server installs it.
//
// Run builds a ReportRunContext and a ProgressChannelEntry and sends them to
// the application's main window with WM_REPORT_START_RUN; the results go to
// that window too. The main window resets the process's manual-reset event
// "Vornal Report Finished" while a run goes on and sets it when the run's
// channel has closed; the view only looks at it (Run is enabled while it is
// signalled) and creates it, signalled, if it does not exist yet.
//
// Owned by its frame; user-interface thread only. Destroying it stores the
// preferred machines.

#include <QPoint>
#include <cstdint>
#include <memory>
#include <string>

#include "console/core/objects/ObjectTree.h"
#include "console/widgets/support/KSExport.h"
#include "ui/View.h"

class CCmdUI;
class CKSMgrDoc;

// The named event that says no report run from the tree is going on.
inline constexpr char kReportFinishedEventName[] = "Vornal Report Finished";

class QMenu;
class QTreeView;

namespace vn::console {
class CObjectTreeLoader;
class CObjectTreeModel;
}  // namespace vn::console

class KS_EXPORT CKSTreeView : public CView {
  DECLARE_DYNCREATE(CKSTreeView)

 public:
  CKSTreeView();
  ~CKSTreeView() override;

  CKSMgrDoc* GetDocument() const;
  void OnInitialUpdate() override;

  // Rebuilds the document's object lists from the check boxes. Returns 1.
  int SaveObject();
  // The item a selection hint names, or null when it is gone.
  vn::console::CObjectNode* FindNode(LPARAM lHint) const;
  vn::console::CObjectNode* GetSelectedNode() const;
  void SelectNode(const vn::console::CObjectNode* node);
  // Expands the item in the widget (and so fills it on its first expansion).
  void Expand(const vn::console::CObjectNode* node);
  // Builds the context menu for the selected item with each entry's state;
  // the caller owns it. Entries carry their command id as data.
  std::unique_ptr<QMenu> CreateContextMenu();

  // "Run...": rebuilds the selection (or checks the current domain, machine,
  // drive, share or folder when nothing is checked), asks for a report set
  // and hands the run to the main window. Nothing runs when the picker is
  // cancelled or there is no main window to take it.
  void OnRun();
  // Enabled while "Vornal Report Finished" is signalled (looked at, never waited on).
  void OnUpdateRun(CCmdUI* pCmdUI);

  // The machine of the selection: the selected machine's name, or this
  // computer's for "My Computer"; empty when the selection is no machine.
  std::string SelectedMachine() const;
  void OnKsinstallServer();
  void OnUpdateKsinstallServer(CCmdUI* pCmdUI);
  void OnKsdeinstallServer();
  void OnUpdateKsdeinstallServer(CCmdUI* pCmdUI);
  void OnProperty();
  void OnUpdateProperty(CCmdUI* pCmdUI);
  // A double click on an item: a push install for a machine that qualifies.
  void OnDoubleClicked(const QModelIndex& index);

  vn::console::CObjectTree& Tree() { return m_tree; }
  vn::console::CObjectTreeLoader& Loader() { return *m_pLoader; }
  QTreeView* TreeWidget() const { return m_pTreeWidget; }
  const std::string& LocalComputerName() const { return m_strLocalName; }

 private:
  void OnItemExpanded(const QModelIndex& index);
  void OnCurrentChanged(const QModelIndex& current);
  void OnCheckClicked(vn::console::CObjectNode* node, int oldState);
  void OnContextMenu(const QPoint& pos);
  void OnRefresh();
  void OnClearSelections();
  void OnNew();
  void OnUpdateNew(CCmdUI* pCmdUI);
  void OnDelete();
  void OnUpdateDelete(CCmdUI* pCmdUI);
  bool IsPreferredMachine(const vn::console::CObjectNode* node) const;
  // The machine of `node` as SelectedMachine describes it.
  std::string MachineOf(const vn::console::CObjectNode* node) const;
  // The machine's install state when it is a Windows NT machine, else -1.
  int ServerStateOf(const std::string& machine) const;
  // Checks the current item for a run that has nothing checked; false when it
  // is not an object a report runs on.
  [[nodiscard]] bool CheckCurrentItem();
  // Lists a domain's machines now, waiting on the loader (user input held
  // back meanwhile). Returns the domain, or null when it went away.
  vn::console::CObjectNode* PopulateAndWait(vn::console::CObjectNode* node);

  vn::console::CObjectTree m_tree;
  std::unique_ptr<vn::console::CObjectTreeModel> m_pModel;
  std::unique_ptr<vn::console::CObjectTreeLoader> m_pLoader;
  QTreeView* m_pTreeWidget;
  std::string m_strLocalName;
  bool m_bShown = false;
  HANDLE m_hReportFinished = nullptr;
  std::uint64_t m_populatedId = 0;  // the last node the loader finished filling
};
