#pragma once
// The schedule list (template 402): every job of one machine's scheduler in a
// read-only grid on light yellow, eight columns ("Object(s)", "Memorized
// Report", "JobId", "Day(s)of Week", "Day(s) of Month", "Time of Day",
// "Command", "Errors"), the jobs this system made decoded into their objects
// and report set. It reads the jobs again every minute (timer 125) unless a
// dialog or a deletion is at work on it.
//
// Edit commands: "&Modify\tCtrl+M" (33309, or a double-click on a row) opens
// "Modify Job" on the row's job, and "&Delete\tCtrl+D" (57632) deletes it
// (asking "Delete job N.  Are you sure?" while bKSConfirm is set). Jobs are
// changed in the scheduler of the computer the console runs on, where the
// console adds them; a list of another machine is for reading, and both
// commands stay disabled there, so that a job of this computer that happens
// to carry the same number is never touched from it.
//
// m_mapSchedule finds the open list of a machine: the upper-case machine
// name to its view, entered at first showing and removed when the view goes.
// User-interface thread only.

#include <QString>
#include <map>
#include <string>
#include <vector>

#include "console/core/schedule/ScheduleModel.h"
#include "console/widgets/grid/GridModel.h"
#include "console/widgets/grid/MyGridView.h"
#include "console/widgets/support/KSExport.h"

class CCmdUI;
class CKSScheDoc;
class QTimer;

class KS_EXPORT CKSScheView : public CMyGridView, public CGridSource {
  DECLARE_DYNCREATE(CKSScheView)

 public:
  enum : UINT {
    ID_EDTSCHED_MODIFY = 33309,
    ID_EDIT_CLEAR = 0xE120,
  };

  CKSScheView();
  ~CKSScheView() override;

  static std::map<std::string, CKSScheView*> m_mapSchedule;

  CKSScheDoc* GetDocument() const;
  void OnInitialUpdate() override;

  // Reads the machine's jobs again into the rows.
  void UpdateGrid();
  void StopTimer();
  void ResumeTimer();
  void OnTimer(UINT nIDEvent);

  void OnEdtschedModify();
  void OnUpdateEdtschedModify(CCmdUI* pCmdUI);
  void OnDelete();
  void OnUpdateDelete(CCmdUI* pCmdUI);
  void OnLButtonDblClkRowCol(int row, int column);

  const std::string& GetMachineName() const { return m_strMachine; }
  // Whether the list is of the computer the console runs on.
  bool IsLocalMachine() const { return m_bLocal; }
  const std::vector<vn::console::ScheduleListRow>& Rows() const { return m_rows; }
  bool IsTimerRunning() const { return m_bTimerRunning; }
  bool IsBusy() const { return m_bBusy; }

  // CGridSource: row 0 the titles, then one row per job.
  int GridRowCount() const override;
  int GridColumnCount() const override;
  void GridRow(int row, std::vector<GridCell>& cells) override;

 private:
  // The job of grid row `row`, or 0 for the titles' row and rows past the end.
  DWORD JobOfRow(int row) const;
  void ModifyRow(int row);
  void SetHeader();
  void FitColumns(bool shrinkDays);

  std::string m_strMachine;
  bool m_bLocal = false;
  std::vector<vn::console::ScheduleListRow> m_rows;
  QTimer* m_pTimer;
  bool m_bTimerRunning = false;
  bool m_bBusy = false;
  bool m_bShown = false;
};
