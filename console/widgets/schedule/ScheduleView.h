#pragma once
// The "Run" tab of the manager window (dialog 410): the selection the other
// two tabs handed over (the objects joined as a job names them, or "No
// Object(s) is selected."; the report machine and name, or "No Report Set is
// selected."), and how to run it:
// - "Run Interactively": Submit starts a run of the report set or custom
//   report on the selected objects through the host (WM_REPORT_START_RUN),
//   with this form as the window that merges the machines' results and the
//   "Report Status" box as the window that shows the progress; Cancel (shown
//   while the run goes) asks the servers to stop. Each report's merged file
//   opens in a result window, which deletes it when it closes.
// - "Run in Batch": the "Schedule Job" group (CScheduleControls); Submit adds
//   the job to this computer's scheduler (ScheduleJob) and posts
//   WM_REPORT_BATCH_SUBMITTED to the main window.
// The frame calls OnTabSelected when the tab becomes current, after it has
// stored the trees' choices in the document; Submit asks it to store them
// again (SetStoreSelection).
//
// Made by the manager frame; its document is the manager document.
// User-interface thread only; the run's threads reach it only through its
// window handles.

#include <functional>
#include <memory>

#include "console/widgets/run/ReportMerge.h"
#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"
#include "ui/View.h"
#include "ui/WindowMessages.h"

class CKSMgrDoc;
class CScheduleControls;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class KS_EXPORT CScheduleView : public CView {
  DECLARE_DYNCREATE(CScheduleView)

 public:
  CScheduleView();
  ~CScheduleView() override;

  CKSMgrDoc* GetDocument() const;
  void OnInitialUpdate() override;

  // The tab became current: shows the document's objects and report.
  void OnTabSelected();
  // How Submit has the frame store the trees' choices in the document.
  void SetStoreSelection(std::function<void()> store) { m_storeSelection = std::move(store); }

  void OnRunInteractively();
  void OnRunInBatch();
  void OnSubmit();
  void OnCancel();
  // Adds the job of the form's choices; 1 when it was added, else 0 after a
  // message box has said why.
  int ScheduleJob();

  HWND GetSafeHwnd() const { return m_notify ? m_notify->GetSafeHwnd() : nullptr; }
  HWND GetStatusHwnd() const { return m_status ? m_status->GetSafeHwnd() : nullptr; }
  // Whether an interactive run of this form is going.
  bool IsRunning() const { return m_bRunning; }

  QRadioButton* InteractiveButton() const { return m_pInteractive; }
  QRadioButton* BatchButton() const { return m_pBatch; }
  QPushButton* SubmitButton() const { return m_pSubmit; }
  QPushButton* CancelButton() const { return m_pCancel; }
  QGroupBox* ScheduleGroup() const { return m_pScheduleGroup; }
  CScheduleControls* Controls() const { return m_pControls; }
  QGroupBox* StatusGroup() const { return m_pStatusGroup; }
  QPlainTextEdit* StatusEdit() const { return m_pStatusEdit; }
  QLabel* ObjectsText() const { return m_pObjects; }
  QLabel* ReportSetText() const { return m_pReportSet; }

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnReportDone();
  void OnChannelClosed();
  void StartInteractiveRun();
  void ShowScheduleControls(bool show);

  QRadioButton* m_pInteractive;
  QRadioButton* m_pBatch;
  QPushButton* m_pSubmit;
  QPushButton* m_pCancel;
  QLabel* m_pObjects;
  QLabel* m_pReportSet;
  QGroupBox* m_pScheduleGroup;
  CScheduleControls* m_pControls;
  QGroupBox* m_pStatusGroup;
  QPlainTextEdit* m_pStatusEdit;
  std::unique_ptr<CWindowHandle> m_notify;  // the run's notify window: this form
  std::unique_ptr<CWindowHandle> m_status;  // the run's status window: the status box
  HANDLE m_hCancelEvent;                    // auto-reset; the user's Cancel
  HANDLE m_hDoneEvent;                      // set by the channel when it closes
  CReportMerge m_merge;
  std::function<void()> m_storeSelection;
  bool m_bRunning = false;
  bool m_bShown = false;
};
