#pragma once
// "Mail Report To:" (dialog 432): the mail settings of one report — the To and
// Cc lists (names joined by ";"), the subject, and the mail login (profile and
// password, kept scrambled in the block). Made on a copy of a report's
// MailSettings; after OK the caller copies GetMailSettings() back into its
// record. Modal; user-interface thread only.

#include <QDialog>

#include "console/widgets/support/KSExport.h"
#include "servercomm/KSServerCommunication.h"

class QLineEdit;

class KS_EXPORT CMailReportDlg : public QDialog {
 public:
  explicit CMailReportDlg(const vn::MailSettings& settings, QWidget* parent = nullptr);
  ~CMailReportDlg() override;

  // The block as the dialog left it; holds the edits after OK.
  const vn::MailSettings& GetMailSettings() const { return m_mail; }

  void accept() override;

 private:
  vn::MailSettings m_mail;
  QLineEdit* m_pTo;
  QLineEdit* m_pCc;
  QLineEdit* m_pSubject;
};
