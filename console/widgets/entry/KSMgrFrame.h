#pragma once
// The manager window's frame: the workspace as tabs. "Object": the object tree
// on the left, the machine information list on the right, in a splitter;
// "Reports": the report tree on the left, the report list on the right, in a
// second splitter; "Run": the run form (CScheduleView). It keeps its normal rectangle
// and the two tree columns' widths in the profile (section "KSMgrFrame": the
// "wp." window placement values, "Object.pane.tree" and "Report.pane.tree",
// each default 200 pixels; a report column width that reads as negative is not
// written) and always reopens in its normal show state (the first time, with
// nothing stored, filling the main window's document area). While it is
// active the application's help file is the module's (as CKSMDIChildWnd).
// Commands go to the tree of the tab that shows (the form on "Run"); Refresh
// (F5) is enabled only while the "Object" tab is showing. Moving to "Run"
// hands the selection over: the object tree's checks and the report tree's
// choice go to the document (SaveObjectData, SaveReportData) and the form
// shows them. "&Report Wizard" (Ctrl+W) runs the report wizard for this
// computer with the profile's "VNShowWizard" / "ShowAtStartup" flag (read
// before, written back after); it is enabled on every tab.
//
// Made by the manager template (400) with a CKSTreeView as its view class;
// deletes itself when closed. User-interface thread only.

#include <QRect>

#include "console/widgets/support/KSExport.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "ui/WindowMessages.h"

class CKSListView;
class CKSReportListView;
class CKSReportTreeView;
class CKSTreeView;
class CScheduleView;
class QSplitter;
class QTabWidget;

class KS_EXPORT CKSMgrFrame : public CKSMDIChildWnd {
  DECLARE_DYNCREATE(CKSMgrFrame)

 public:
  CKSMgrFrame();
  ~CKSMgrFrame() override;

  [[nodiscard]] BOOL LoadFrame(UINT nIDResource, CCreateContext* pContext) override;
  BOOL OnCmdMsg(UINT nID, int nCode, CCmdUI* pCmdUI) override;
  // The first time, without a stored placement, the frame fills the MDI area.
  void ActivateFrame() override;

  // Rebuilds the document's object lists from the tree's check boxes. Returns 1.
  int SaveObjectData();
  // Hands the report tree's chosen report set or custom report to the
  // document. 1 when one is chosen, else 0.
  int SaveReportData();

  QTabWidget* Tabs() const { return m_pTabs; }
  QSplitter* ObjectSplitter() const { return m_pObjectSplitter; }
  CKSTreeView* TreeView() const { return m_pTreeView; }
  CKSListView* ListView() const { return m_pListView; }
  QSplitter* ReportSplitter() const { return m_pReportSplitter; }
  CKSReportTreeView* ReportTreeView() const { return m_pReportTreeView; }
  CKSReportListView* ReportListView() const { return m_pReportListView; }
  CScheduleView* ScheduleView() const { return m_pScheduleView; }
  // The tab window's selection notification: for the "Run" tab the
  // selection is handed over (above). Always 0.
  LRESULT OnTabSelected(int index);
  void OnReportWizard();

 protected:
  [[nodiscard]] BOOL OnCreateClient(CCreateContext* pContext) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ReadPlacement();
  void WritePlacement();
  void RememberNormalRect();
  // A tab's splitter and its tree column's width: the stored one until the
  // splitter has been laid out on its shown tab, then the splitter's own.
  struct CPane {
    QSplitter* pSplitter = nullptr;
    int nWidth = 0;
    bool bPlaced = false;
  };
  static void PlacePane(CPane& pane);
  static int PaneWidth(const CPane& pane);

  QTabWidget* m_pTabs = nullptr;
  QSplitter* m_pObjectSplitter = nullptr;
  CKSTreeView* m_pTreeView = nullptr;
  CKSListView* m_pListView = nullptr;
  QSplitter* m_pReportSplitter = nullptr;
  CKSReportTreeView* m_pReportTreeView = nullptr;
  CKSReportListView* m_pReportListView = nullptr;
  CScheduleView* m_pScheduleView = nullptr;
  CPane m_objectPane;
  CPane m_reportPane;
  QRect m_rcNormal;
  bool m_bPlaced = false;
  bool m_bFillArea = false;   // no stored placement: fill the MDI area when first shown
};
