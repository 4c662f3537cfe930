#include "console/widgets/run/MailReportDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <cstring>

namespace {

void CopyText(char* target, std::size_t size, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit().left(static_cast<int>(size) - 1);
  std::memset(target, 0, size);
  std::memcpy(target, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

CMailReportDlg::CMailReportDlg(const vn::MailSettings& settings, QWidget* parent)
    : QDialog(parent),
      m_mail(settings),
      m_pTo(new QLineEdit(QString::fromLocal8Bit(settings.MailTo), this)),
      m_pCc(new QLineEdit(QString::fromLocal8Bit(settings.MailCC), this)),
      m_pSubject(new QLineEdit(QString::fromLocal8Bit(settings.MailSubject), this)) {
  setWindowTitle(QStringLiteral("Mail Report To:"));
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Mail To:"), m_pTo);
  form->addRow(QStringLiteral("Mail Cc:"), m_pCc);
  form->addRow(QStringLiteral("Subject: "), m_pSubject);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

CMailReportDlg::~CMailReportDlg() = default;

void CMailReportDlg::accept() {
  CopyText(m_mail.MailTo, sizeof m_mail.MailTo, m_pTo->text());
  CopyText(m_mail.MailCC, sizeof m_mail.MailCC, m_pCc->text());
  CopyText(m_mail.MailSubject, sizeof m_mail.MailSubject, m_pSubject->text());
  QDialog::accept();
}
