#pragma once
// "Add Preferred Machine": asks for a machine name (at most 17 characters),
// offers "..." to pick one from "Choose a Windows NT Server", and closes with
// Save only for a name that answers as a Windows NT machine; any other name
// is refused with "%s is not a NT workstation or server" and the dialog stays.
// Modal; user-interface thread only.

#include <QDialog>

#include "console/widgets/support/KSExport.h"

class QLineEdit;
class QPushButton;

class KS_EXPORT CAddPreferredMachineDlg : public QDialog {
 public:
  explicit CAddPreferredMachineDlg(QWidget* parent = nullptr);
  ~CAddPreferredMachineDlg() override;

  QString GetMachineName() const;
  QLineEdit* NameEdit() const { return m_pName; }
  QPushButton* SaveButton() const { return m_pSave; }
  // "Save": closes with Accepted for a Windows NT machine.
  void OnSave();
  // "...": the server chooser; its machine goes into the edit.
  void OnBrowse();

 private:
  QLineEdit* m_pName;
  QPushButton* m_pSave;
};
