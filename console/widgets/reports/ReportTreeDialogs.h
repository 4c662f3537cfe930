#pragma once
// The two small dialogs of the report tree.
//
// CReportExistsDlg, "Report Set Exists" (dialog 505): a pasted report set or
// custom report meets one of the same name on the destination machine. It
// says "Report %s exists." with the name and offers "Replace the existing
// report" (chosen at first) or "Save the report as:" with a name field. OK is
// disabled while the second is chosen with an empty name; with a name that the
// destination has too, OK says "Report Set %s exists." and the dialog stays
// open. Cancel skips the report.
//
// CReportInfoDlg, "Report" (dialog 508): which report is now current, string
// 64423 "The current selected report set is %s\%s.", with a check box for not
// showing the box again.
//
// Modal; user-interface thread only. The existence test reads the destination
// machine's registry on the user-interface thread under a wait cursor.

#include <QDialog>
#include <QString>

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "%s" = the name that the destination has already.
inline constexpr char kReportNameExistsFormat[] = "Report Set %s exists.";

class KS_EXPORT CReportExistsDlg : public QDialog {
 public:
  // strName: the report's name; strMachine and nKeyFormatId (IDS_REPORT_SET_KEY_FMT
  // or IDS_CUSTOM_REPORT_KEY_FMT): where a new name is looked up.
  CReportExistsDlg(const QString& strName, const QString& strMachine, UINT nKeyFormatId, QWidget* parent = nullptr);
  ~CReportExistsDlg() override;

  // After OK: true for "Replace the existing report"; else GetNewName() is the name to save as.
  bool IsReplace() const;
  QString GetNewName() const;

  QRadioButton* ReplaceButton() const { return m_pReplace; }
  QRadioButton* SaveAsButton() const { return m_pSaveAs; }
  QLineEdit* NameEdit() const { return m_pName; }
  QPushButton* OkButton() const { return m_pOk; }
  QString Text() const { return m_strText; }

  void accept() override;

 private:
  void UpdateControls();

  QString m_strMachine;
  UINT m_nKeyFormatId;
  QString m_strText;
  QRadioButton* m_pReplace;
  QRadioButton* m_pSaveAs;
  QLineEdit* m_pName;
  QPushButton* m_pOk;
};

class KS_EXPORT CReportInfoDlg : public QDialog {
 public:
  CReportInfoDlg(const QString& strMachine, const QString& strReport, QWidget* parent = nullptr);
  ~CReportInfoDlg() override;

  QString Text() const { return m_strText; }
  QCheckBox* DontShowBox() const { return m_pDontShow; }
  bool IsDontShowChecked() const;

 private:
  QString m_strText;
  QCheckBox* m_pDontShow;
};
