#pragma once
// "User Filter" (dialog 433): makes a new user filter of a machine, or edits
// an existing one — a name and the accounts it lets through, stored as one
// value of the machine's "User Filter" key. OK stores the filter before the
// dialog closes; GetFilterName() is then the (new) filter's name. Modal;
// user-interface thread only.

#include <QDialog>

#include "console/widgets/support/KSExport.h"

class QLineEdit;

class KS_EXPORT CUserFilterDlg : public QDialog {
 public:
  // An empty strFilter makes a new filter.
  CUserFilterDlg(const QString& strMachine, const QString& strFilter, QWidget* parent = nullptr);
  ~CUserFilterDlg() override;

  QString GetMachine() const { return m_strMachine; }
  QString GetFilterName() const;
  QLineEdit* NameEdit() const { return m_pName; }

 private:
  QString m_strMachine;
  QLineEdit* m_pName;
};
