#include "console/widgets/run/MailReportDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <string>
#include <vector>

#include "console/core/run/MailRules.h"
#include "console/core/run/MapiLibrary.h"
#include "console/core/support/Resources.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"

namespace {

// Field limits of dialog 432.
constexpr int kListLimit = 255;
constexpr int kLoginLimit = 80;

void CopyText(char* target, std::size_t size, const QString& text) {
  const QByteArray bytes = text.toUtf8().left(static_cast<int>(size) - 1);
  std::memset(target, 0, size);
  std::memcpy(target, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QLineEdit* MakeEdit(const QString& text, int limit, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(limit);
  edit->setText(text);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

void ShowMapiError(ULONG code) {
  const std::string_view text = vn::console::MapiErrorText(code);
  if (!text.empty()) AfxMessageBox(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CMailReportDlg::CMailReportDlg(const vn::MailSettings& settings, QWidget* parent)
    : QDialog(parent),
      m_mail(settings),
      m_pTo(MakeEdit(QString::fromUtf8(settings.MailTo), kListLimit, "edit1513", this)),
      m_pCc(MakeEdit(QString::fromUtf8(settings.MailCC), kListLimit, "edit1514", this)),
      m_pSubject(MakeEdit(QString::fromUtf8(settings.MailSubject), kListLimit, "edit1515", this)),
      m_pProfile(MakeEdit(QString::fromStdString(vn::console::ReadMailLogin(settings.MailProfile)), kLoginLimit,
                          "edit1516", this)),
      m_pPassword(MakeEdit(QString(), kLoginLimit, "edit1517", this)),
      m_pProfileLabel(new QLabel(QStringLiteral("Profile:"), this)),
      m_pPasswordLabel(new QLabel(QStringLiteral("Password:"), this)),
      m_pToBook(new QPushButton(QStringLiteral("..."), this)),
      m_pCcBook(new QPushButton(QStringLiteral("..."), this)) {
  setWindowTitle(QStringLiteral("Mail Report To:"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_MAIL_REPORT);
  m_pPassword->setEchoMode(QLineEdit::Password);
  m_pPassword->setEnabled(false);
  m_pPasswordLabel->setEnabled(false);
  m_pProfileLabel->setBuddy(m_pProfile);
  m_pPasswordLabel->setBuddy(m_pPassword);
  m_pToBook->setObjectName(QStringLiteral("button1518"));
  m_pCcBook->setObjectName(QStringLiteral("button1519"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("Mail To:"), this), 0, 0);
  grid->addWidget(m_pTo, 0, 1);
  grid->addWidget(m_pToBook, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Mail Cc:"), this), 1, 0);
  grid->addWidget(m_pCc, 1, 1);
  grid->addWidget(m_pCcBook, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Subject: "), this), 2, 0);
  grid->addWidget(m_pSubject, 2, 1, 1, 2);
  grid->addWidget(m_pProfileLabel, 3, 0);
  grid->addWidget(m_pProfile, 3, 1, 1, 2);
  grid->addWidget(m_pPasswordLabel, 4, 0);
  grid->addWidget(m_pPassword, 4, 1, 1, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  grid->addWidget(buttons, 5, 0, 1, 3);
  connect(buttons, &QDialogButtonBox::accepted, this, &CMailReportDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_pToBook, &QPushButton::clicked, this, &CMailReportDlg::OnAddressBook);
  connect(m_pCcBook, &QPushButton::clicked, this, &CMailReportDlg::OnAddressBook);
}

CMailReportDlg::~CMailReportDlg() = default;

void CMailReportDlg::StoreLists() {
  CopyText(m_mail.MailTo, sizeof m_mail.MailTo, m_pTo->text());
  CopyText(m_mail.MailCC, sizeof m_mail.MailCC, m_pCc->text());
  m_mail.MailToCount = vn::console::CountMailNames(m_mail.MailTo);
  m_mail.MailCCCount = vn::console::CountMailNames(m_mail.MailCC);
}

void CMailReportDlg::StoreLogin() {
  vn::console::StoreMailLogin(m_mail.MailProfile, m_pProfile->text().toStdString());
  vn::console::StoreMailLogin(m_mail.MailPassword, m_pPassword->text().toStdString());
}

void CMailReportDlg::accept() {
  StoreLists();
  CopyText(m_mail.MailSubject, sizeof m_mail.MailSubject, m_pSubject->text());
  StoreLogin();
  QDialog::accept();
}

void CMailReportDlg::OnAddressBook() {
  using vn::console::CMapiLibrary;
  StoreLists();
  StoreLogin();

  CMapiLibrary mapi;
  if (mapi.Load() != CMapiLibrary::kLoaded) {
    AfxMessageBox(QString::fromUtf8(vn::console::kLoadingMapiText.data(),
                                    static_cast<qsizetype>(vn::console::kLoadingMapiText.size())),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  std::string profile = m_pProfile->text().toStdString();
  std::string password = m_pPassword->text().toStdString();
  LHANDLE session = 0;
  if (!profile.empty()) {
    const ULONG code =
        mapi.m_pfnLogon(0, profile.data(), password.data(), MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session);
    if (code != SUCCESS_SUCCESS) {
      mapi.Unload();
      ShowMapiError(code);
      return;
    }
  }

  std::vector<std::string> names;
  std::vector<MapiRecipDesc> given;
  for (const auto& [list, recipClass] : {std::pair{m_mail.MailTo, MAPI_TO}, std::pair{m_mail.MailCC, MAPI_CC}})
    for (std::string& name : vn::console::SplitMailNames(list)) {
      names.push_back(std::move(name));
      given.push_back(MapiRecipDesc{0, recipClass, nullptr, nullptr, 0, nullptr});
    }
  for (std::size_t i = 0; i < given.size(); ++i) given[i].lpszName = names[i].data();

  ULONG count = 0;
  MapiRecipDesc* chosen = nullptr;
  const ULONG code = mapi.m_pfnAddress(session, 0, nullptr, 2, nullptr, static_cast<ULONG>(given.size()),
                                       given.empty() ? nullptr : given.data(), 0, 0, &count, &chosen);
  if (session != 0) (void)mapi.m_pfnLogoff(session, 0, 0, 0);  // the answer is in hand; a failed logoff changes nothing
  if (code != SUCCESS_SUCCESS) {
    ShowMapiError(code);
    return;
  }
  std::vector<vn::console::MailRecipient> answer;
  for (ULONG i = 0; i < count && chosen != nullptr; ++i)
    answer.push_back({chosen[i].ulRecipClass, chosen[i].lpszName ? chosen[i].lpszName : ""});
  if (chosen != nullptr) (void)mapi.m_pfnFreeBuffer(chosen);  // frees only; nothing to do should it fail
  if (!vn::console::ApplyAddressBookResult(answer, &m_mail)) {
    AfxMessageBox(QString::fromUtf8(vn::console::kRecipientsTooLongText.data(),
                                    static_cast<qsizetype>(vn::console::kRecipientsTooLongText.size())),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  m_pTo->setText(QString::fromUtf8(m_mail.MailTo));
  m_pCc->setText(QString::fromUtf8(m_mail.MailCC));
}
