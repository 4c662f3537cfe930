#pragma once
// "Select template, report set, user filter" (dialog 506): picks a report set
// (mode 1, "Select a Report Set") or a user filter (mode 2, "Select a User
// Filter") stored on a computer. The computer list starts with the initial
// machine; "..." adds a computer from "Select a computer" (the network browse
// list). Choosing a computer fills the name list from its registry: the report
// sets (subkeys of "...\VNReportSet") or the user filters (values of
// "...\User Filter"); the first row is selected, and OK is enabled while a row
// is. OK gives the chosen name and, in mode 2, the filter's stored value.
// In mode 2 "Add..." makes a new filter (OnAdd).
// Registry failures are shown with the system's text for the code; a failure
// to read the chosen filter keeps the dialog open.
//
// Registry work runs on the user-interface thread under a wait cursor. Modal;
// user-interface thread only.

#include <QDialog>
#include <string>

#include "console/widgets/support/KSExport.h"
#include "ui/WindowMessages.h"

class QComboBox;
class QPushButton;
class QTreeWidget;

class KS_EXPORT CSelectReportDlg : public QDialog {
 public:
  enum Mode : int { kReportSet = 1, kUserFilter = 2 };

  // hNotifyWnd is the window told of a filter added through "Add..." (may be
  // null).
  CSelectReportDlg(int nMode, const QString& strMachine, HWND hNotifyWnd = nullptr, QWidget* parent = nullptr);
  ~CSelectReportDlg() override;

  int GetMode() const { return m_nMode; }
  // The computer whose list is shown, the chosen name and (mode 2) its value.
  QString GetMachine() const;
  QString GetName() const { return m_strName; }
  QString GetFilterValue() const { return m_strValue; }

  // Puts a computer into the computer list (once, whatever its letter case)
  // and makes it the current one, which refills the name list.
  void AddComputer(const QString& strMachine);
  // "...": the computer browser; its choice goes through AddComputer.
  void OnBrowse();
  // Refills the name list for the current computer.
  void Fill();
  // "Add..." (mode 2): a new filter from "User Filter" for the current
  // computer; on OK its name goes to the top of the list and the notification
  // window gets WM_KS_USER_FILTER_ADDED (ReportMessages.h).
  void OnAdd();

  QComboBox* ComputerList() const { return m_pComputers; }
  QTreeWidget* NameList() const { return m_pNames; }
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* AddButton() const { return m_pAdd; }
  QPushButton* BrowseButton() const { return m_pBrowse; }

  void accept() override;

 private:
  void UpdateOk();
  static void ShowError(LONG code);

  int m_nMode;
  HWND m_hNotifyWnd;
  QComboBox* m_pComputers;
  QPushButton* m_pBrowse;
  QTreeWidget* m_pNames;
  QPushButton* m_pAdd;
  QPushButton* m_pOk;
  QString m_strName;
  QString m_strValue;
};
