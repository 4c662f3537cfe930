#pragma once
// "Select Users" (dialog 430): picks accounts for a user filter of a machine
// (console/core/reports/UserAccounts.h holds its rules). "List Names from:"
// offers the machine ("\\NAME"), its domain and the other domains with a
// controller; the account list shows the chosen source's global groups and,
// for the machine, its local groups, and its users after "Show Users". "Add"
// appends the selected accounts to "Selected Names:". OK checks every name on
// the machine and closes with GetSelectedNames(), the names joined by ";";
// an empty field ("No user selected") or a name that fails (the system's
// text for its code) keeps the dialog open.
//
// The machine and its domains are asked on the user-interface thread under a
// wait cursor (each listing is a few calls of at most 16 accounts). Failures
// are shown with the system's text for the code. Modal; user-interface
// thread only.

#include <QDialog>
#include <vector>

#include "console/core/reports/UserAccounts.h"
#include "console/widgets/support/KSExport.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class KS_EXPORT CSelectUsersDlg : public QDialog {
 public:
  CSelectUsersDlg(const QString& strMachine, QWidget* parent = nullptr);
  ~CSelectUsersDlg() override;

  QString GetSelectedNames() const;

  // Lists the accounts of the current source (users too when bUsers).
  void FillAccounts(bool bUsers);
  void OnAdd();
  void accept() override;

  QComboBox* SourceList() const { return m_pSources; }
  QTreeWidget* AccountList() const { return m_pAccounts; }
  QLineEdit* SelectedEdit() const { return m_pSelected; }
  QPushButton* ShowUsersButton() const { return m_pShowUsers; }
  QPushButton* AddButton() const { return m_pAdd; }
  QPushButton* OkButton() const { return m_pOk; }

 private:
  QString m_strMachine;
  vn::console::UserSources m_sources;
  QComboBox* m_pSources;
  QTreeWidget* m_pAccounts;
  QPushButton* m_pShowUsers;
  QLineEdit* m_pSelected;
  QPushButton* m_pAdd;
  QPushButton* m_pOk;
};
