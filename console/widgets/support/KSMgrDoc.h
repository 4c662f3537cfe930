#pragma once
// The manager window's document: the selection a report run consumes. It holds
// the objects checked in the object tree (local paths, and per machine under
// its upper-case name its network paths; see CSelectedObjects), the report set
// or custom report chosen in the report tree with the machine that stores it,
// and the pointers through which the manager window's panes find each other
// (each view sets its own when it is made and clears it when it goes).
//
// The selection is not kept anywhere: SaveObject of the tree rebuilds it each
// time a run is prepared. Its title is always "Vornal"; it cannot be saved.
// Made and owned by the manager template (400); user-interface thread only.

#include <QString>

#include "console/core/objects/SelectedObjects.h"
#include "console/widgets/support/KSExport.h"
#include "ui/Document.h"

class CCmdUI;
class CKSListView;
class CKSTreeView;
class CView;

class KS_EXPORT CKSMgrDoc : public CDocument, public vn::console::CSelectedObjects {
  DECLARE_DYNCREATE(CKSMgrDoc)

 public:
  CKSMgrDoc();
  ~CKSMgrDoc() override;

  // 1 when at least one object is selected and a report set or custom report
  // is chosen in the report tree (SaveReportData stored it, and it was not
  // deleted since), else 0.
  int CanRunReport() const;
  // Ignores the title given: the manager is always "Vornal".
  void SetTitle(const QString& title) override;
  void OnCloseDocument() override;

  CKSTreeView* m_pTreeView = nullptr;
  CKSListView* m_pListView = nullptr;
  CView* m_pReportTreeView = nullptr;   // the report tree, when there is one
  CView* m_pReportListView = nullptr;
  CView* m_pScheduleView = nullptr;     // the "Run" tab's form, when there is one
  // The chosen report: its machine (the local computer name for "My
  // Computer"), its name, and 1 for a custom report, 0 for a report set.
  QString m_strReportMachine;
  QString m_strReportName;
  int m_nCustomReport = 0;

 private:
  void OnUpdateFileSave(CCmdUI* pCmdUI);
};
