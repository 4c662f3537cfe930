#pragma once
// "Mail Report To:" (dialog 432): the mail settings of one report — the To and
// Cc lists (names joined by ";"), the subject, and the mail login (profile and
// password, kept scrambled in the block). Made on a copy of a report's
// MailSettings; after OK the caller copies GetMailSettings() back into its
// record. Modal; user-interface thread only.
//
// The console runs as a system of version 4 and later: the login field is the
// "Profile:" (label 1512), and the password label (1511) and field are
// disabled and empty, so every OK stores an empty password.
//
// Either "..." (1518, 1519) opens the address book of the mail library
// (console/core/run/MapiLibrary.h), loaded for that use only: the lists go to
// the block first; when a profile is given the library is logged on to with
// it (logon interface if needed, new session); the address book shows the
// current names in a To and a Cc field; its answer replaces both lists
// (console/core/run/MailRules.h). Every failure ends in one message box —
// "Loading MAPI DLL" when the library cannot be had, else the text of the
// library's result code, nothing at all when the user cancelled — and the
// dialog keeps the values it had.

#include <QDialog>

#include "console/widgets/support/KSExport.h"
#include "servercomm/KSServerCommunication.h"

class QLabel;
class QLineEdit;
class QPushButton;

class KS_EXPORT CMailReportDlg : public QDialog {
 public:
  explicit CMailReportDlg(const vn::MailSettings& settings, QWidget* parent = nullptr);
  ~CMailReportDlg() override;

  // The block as the dialog left it; holds the edits after OK.
  const vn::MailSettings& GetMailSettings() const { return m_mail; }

  void accept() override;
  // Either "..." button.
  void OnAddressBook();

  QLineEdit* ToEdit() const { return m_pTo; }
  QLineEdit* CcEdit() const { return m_pCc; }
  QLineEdit* SubjectEdit() const { return m_pSubject; }
  QLineEdit* ProfileEdit() const { return m_pProfile; }
  QLineEdit* PasswordEdit() const { return m_pPassword; }
  QLabel* ProfileLabel() const { return m_pProfileLabel; }
  QLabel* PasswordLabel() const { return m_pPasswordLabel; }
  QPushButton* ToBookButton() const { return m_pToBook; }
  QPushButton* CcBookButton() const { return m_pCcBook; }

 private:
  // To, Cc (with their counts), profile and password into the block.
  void StoreLists();
  void StoreLogin();

  vn::MailSettings m_mail;
  QLineEdit* m_pTo;
  QLineEdit* m_pCc;
  QLineEdit* m_pSubject;
  QLineEdit* m_pProfile;
  QLineEdit* m_pPassword;
  QLabel* m_pProfileLabel;
  QLabel* m_pPasswordLabel;
  QPushButton* m_pToBook;
  QPushButton* m_pCcBook;
};
