#pragma once
// "Modify Job" (dialog 431): one job of this computer's scheduler, its
// interval, time and days (CScheduleControls) and its command as editable
// text. "Save" replaces the job: the old one is deleted and a new one added
// with the choices (the time as shown, seconds 0 unless changed) and the
// command as typed, so the job gets a new identifier. "Today" at a time
// already past keeps the dialog open with "Selected time is before current
// time". Every other end of Save closes the dialog with OK, so the list
// reads the jobs again; a failure is said in a message box first.
// Modal; user-interface thread only.

#include <QDialog>

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"

class CScheduleControls;
class QLineEdit;

class KS_EXPORT CModifyJobDlg : public QDialog {
 public:
  explicit CModifyJobDlg(DWORD jobId, QWidget* parent = nullptr);
  ~CModifyJobDlg() override;

  // Reads the job and fills the fields; "Error obtaining job information"
  // when it cannot be read (the fields stay empty). Called by exec.
  void OnInitDialog();
  int exec() override;
  void accept() override;

  DWORD GetJobId() const { return m_jobId; }
  // The job that replaced the old one after a successful Save, else 0.
  DWORD GetNewJobId() const { return m_newJobId; }
  CScheduleControls* Controls() const { return m_pControls; }
  QLineEdit* CommandEdit() const { return m_pCommand; }

 private:
  DWORD m_jobId;
  DWORD m_newJobId = 0;
  bool m_bInitialised = false;
  CScheduleControls* m_pControls;
  QLineEdit* m_pCommand;
};
