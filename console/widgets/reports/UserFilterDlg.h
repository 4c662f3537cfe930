#pragma once
// "User Filter" (dialog 433): makes a new user filter of a machine, or edits
// an existing one — a name and the accounts it lets through, stored as one
// value of the machine's "User Filter" key (console/core/reports/UserFilters.h).
// OK stores the filter before the dialog closes; GetFilterName() is then the
// (new) filter's name. Modal; user-interface thread only.
//
// An existing filter's name is read-only and its accounts are read when the
// dialog is made; when they cannot be read, exec() shows the system's text
// for the code and answers Rejected without showing the dialog. "Add..."
// opens "Select Users" for the machine and adds the names the list lacks;
// "Remove" takes the selected entries out. OK is enabled while the name and
// the list are not empty. OK refuses, with one message and the dialog kept
// open: a new filter under a name the machine has ("User Filter %s exists.
// Please change the name"), accounts longer together than 1024 characters,
// and any registry failure (the system's text for the code).
//
// Registry work runs on the user-interface thread under a wait cursor.

#include <QDialog>
#include <QStringList>

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"

class QLineEdit;
class QListWidget;
class QPushButton;

class KS_EXPORT CUserFilterDlg : public QDialog {
 public:
  // An empty strFilter makes a new filter.
  CUserFilterDlg(const QString& strMachine, const QString& strFilter, QWidget* parent = nullptr);
  ~CUserFilterDlg() override;

  QString GetMachine() const { return m_strMachine; }
  QString GetFilterName() const;
  QLineEdit* NameEdit() const { return m_pName; }
  QListWidget* AccountList() const { return m_pList; }
  QPushButton* AddButton() const { return m_pAdd; }
  QPushButton* RemoveButton() const { return m_pRemove; }
  QPushButton* OkButton() const { return m_pOk; }
  bool IsNewFilter() const { return m_bNew; }
  QStringList GetAccounts() const;

  // Adds the names of a ";"-joined list that the list lacks (exact match).
  void AddAccounts(const QString& strNames);
  void OnAdd();
  void OnRemove();

  int exec() override;
  void accept() override;

 private:
  void UpdateOk();

  QString m_strMachine;
  bool m_bNew;
  LONG m_loadCode = 0;
  QLineEdit* m_pName;
  QListWidget* m_pList;
  QPushButton* m_pAdd;
  QPushButton* m_pRemove;
  QPushButton* m_pOk;
};
