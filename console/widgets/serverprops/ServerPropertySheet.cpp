#include "console/widgets/serverprops/ServerPropertySheet.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/deploy/ServerService.h"
#include "console/core/support/SystemErrorText.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "vncli/KSCli.h"

namespace {

using ServerMail = vn::console::ServerMailSettings;

QString Q(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QString SystemText(DWORD code) {
  char text[1024] = {};
  vn::console::GetSystemErrorText(code, text, sizeof text);
  return QString::fromLocal8Bit(text);
}

// Runs the event loop (without user input) for `milliseconds`.
void Pause(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// The dialog font 2 points larger, bold: the pages' headings.
QFont HeadingFont(const QWidget* widget) {
  QFont font = widget->font();
  if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() + 2);
  else font.setPixelSize(font.pixelSize() + 2 * widget->logicalDpiY() / 72);
  font.setWeight(QFont::Bold);
  return font;
}

constexpr const char* kSupportText =
    "For help with the Vornal server, call your Vornal support line or write to the support address in the "
    "release notes (VNRelnotes.html in the server's bin directory). Please have the version and build above at "
    "hand.";

}  // namespace

// ---------------------------------------------------------------- Version

CServerInfoPage::CServerInfoPage(QWidget* parent) : QWidget(parent), m_pVersion(new QLabel(this)) {
  auto* layout = new QVBoxLayout(this);
  auto* versionHeading = new QLabel(QStringLiteral("Version Information:"), this);
  versionHeading->setFont(HeadingFont(this));
  versionHeading->setObjectName(QStringLiteral("heading1533"));
  m_pVersion->setObjectName(QStringLiteral("version1535"));
  m_pVersion->setWordWrap(true);
  m_pVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* supportHeading = new QLabel(QStringLiteral("Technical Support:"), this);
  supportHeading->setFont(HeadingFont(this));
  supportHeading->setObjectName(QStringLiteral("heading1534"));
  auto* support = new QLabel(QString::fromLatin1(kSupportText), this);
  support->setWordWrap(true);
  layout->addWidget(versionHeading);
  layout->addWidget(m_pVersion);
  layout->addSpacing(16);
  layout->addWidget(supportHeading);
  layout->addWidget(support);
  layout->addStretch(1);
}

void CServerInfoPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_bRetrieved) return;
  m_bRetrieved = true;
  // After the page has been painted once, so the sheet is not blank meanwhile.
  QTimer::singleShot(0, this, [this] { Retrieve(); });
}

void CServerInfoPage::Retrieve() {
  m_bRetrieved = true;
  const auto failed = [](DWORD code) {
    AfxMessageBox(SystemText(code) + QStringLiteral("Unable to retrieve infomation from server.\n"),
                  MB_OK | MB_ICONEXCLAMATION);
  };
  const CWaitCursor wait;
  vn::KSCli client;
  DWORD code = client.Connect(m_strMachine.c_str());
  if (code == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
    // Not running: start it, give it a second, and ask again (a server
    // just started may take a moment more to open its pipe).
    if (const DWORD started = vn::console::StartServerService(m_strMachine)) return failed(started);
    Pause(1000);
    for (int attempt = 0; attempt < 10 && (code = client.Connect(m_strMachine.c_str())) ==
                                              static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
         ++attempt)
      Pause(500);
  }
  if (code) return failed(code);
  char version[8] = {}, build[8] = {}, platform[20] = {}, machine[80] = {}, domain[80] = {}, started[32] = {},
       results[260] = {}, runs[32] = {}, keep[32] = {};
  if (const DWORD properties =
          client.GetProperties(version, build, platform, machine, domain, started, results, runs, keep))
    return failed(properties);
  m_pVersion->setText(Q(vn::console::FormatVersionText(version, build, platform)));
}

// ---------------------------------------------------------------- Services

CServerServicePage::CServerServicePage(QWidget* parent)
    : QWidget(parent),
      m_pList(new QTreeWidget(this)),
      m_pStart(new QPushButton(QStringLiteral("Start"), this)),
      m_pStop(new QPushButton(QStringLiteral("Stop"), this)),
      m_pAuditing(new QPushButton(QStringLiteral("Auditing"), this)) {
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      QStringLiteral("The Vornal Service is listed below.  You can start or stop the service and enable or disable "
                     "the auditing.  WARNING: Auditing produces detailed logs of all service activity.  The Event Log "
                     "could become full."),
      this);
  text->setWordWrap(true);
  layout->addWidget(text);
  m_pList->setObjectName(QStringLiteral("list1541"));
  m_pList->setRootIsDecorated(false);
  m_pList->setIconSize(QSize(16, 16));
  m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pList->setHeaderLabels(QStringLiteral("Service Name,Service State,Service Auditing,Status,").split(
      u',', Qt::SkipEmptyParts));
  const int width = m_pList->fontMetrics().horizontalAdvance(QStringLiteral("0123456789012345"));
  for (int column = 0; column < m_pList->columnCount(); ++column) m_pList->setColumnWidth(column, width);
  m_pList->header()->setStretchLastSection(true);
  layout->addWidget(m_pList, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* button : {m_pStart, m_pStop, m_pAuditing}) {
    button->setEnabled(false);
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
  connect(m_pList, &QTreeWidget::itemClicked, this, [this] { OnClickList(); });
  connect(m_pList, &QTreeWidget::itemDoubleClicked, this, [this] { OnDblclkList(); });
  connect(m_pStart, &QPushButton::clicked, this, [this] { OnStart(); });
  connect(m_pStop, &QPushButton::clicked, this, [this] { OnStop(); });
  connect(m_pAuditing, &QPushButton::clicked, this, [this] { OnAuditing(); });
}

void CServerServicePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_bFilled) return;
  m_bFilled = true;
  FillList();
  for (QPushButton* button : {m_pStart, m_pStop, m_pAuditing}) button->setEnabled(false);
}

void CServerServicePage::FillList() {
  m_bFilled = true;
  const CWaitCursor wait;
  m_pList->clear();
  m_row = vn::console::ReadServerServiceRow(m_strMachine);
  if (!m_row.valid) {
    m_row.running = false;
    return;
  }
  auto* item = new QTreeWidgetItem(m_pList);
  item->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  item->setText(0, QString::fromLatin1(vn::console::kServerServiceName));
  ShowRow();
}

void CServerServicePage::ShowRow() {
  QTreeWidgetItem* item = m_pList->topLevelItem(0);
  if (!item) return;
  item->setText(1, Q(m_row.state));
  item->setText(2, Q(m_row.auditingText));
  item->setText(3, Q(m_row.status));
}

void CServerServicePage::EnableButtons() {
  m_pStart->setEnabled(!m_row.running);
  m_pStop->setEnabled(m_row.running);
}

void CServerServicePage::OnClickList() {
  if (!m_pList->topLevelItem(0)) return;
  EnableButtons();
  m_pAuditing->setEnabled(true);
}

void CServerServicePage::OnDblclkList() {
  if (!m_pList->topLevelItem(0)) return;
  const CWaitCursor wait;
  vn::console::RefreshServiceState(m_strMachine, &m_row);
  ShowRow();
  EnableButtons();
}

void CServerServicePage::OnStart() {
  if (m_row.running) return;
  DWORD code = 0;
  {
    const CWaitCursor wait;
    code = vn::console::StartServerService(m_strMachine);
  }
  if (code) {
    AfxMessageBox(SystemText(code), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  OnDblclkList();
}

void CServerServicePage::OnStop() {
  if (!m_row.running) return;
  DWORD code = 0;
  {
    const CWaitCursor wait;
    code = vn::console::StopServerService(m_strMachine);
  }
  if (code) {
    AfxMessageBox(SystemText(code), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  OnDblclkList();
}

void CServerServicePage::OnAuditing() {
  {
    const CWaitCursor wait;
    if (const LONG code = vn::console::WriteServerLogging(m_strMachine, !m_row.auditing)) {
      AfxMessageBox(SystemText(static_cast<DWORD>(code)), MB_OK | MB_ICONEXCLAMATION);
      return;
    }
    m_row.auditing = !m_row.auditing;
    m_row.auditingText = m_row.auditing ? "Enabled" : "Disabled";
    // The server reads the setting when it starts.
    if (m_row.running) (void)vn::console::StopServerService(m_strMachine);
    (void)vn::console::StartServerService(m_strMachine);
  }
  OnDblclkList();
}

// ---------------------------------------------------------------- Mail

CServerMailPage::CServerMailPage(QWidget* parent)
    : QWidget(parent),
      m_pProfile(new QLineEdit(this)),
      m_pPassword(new QLineEdit(this)),
      m_pSmtp(new QLineEdit(this)),
      m_pSender(new QLineEdit(this)) {
  auto* layout = new QVBoxLayout(this);
  auto* profileGroup = new QGroupBox(QStringLiteral("Mail profile"), this);
  auto* profileForm = new QFormLayout(profileGroup);
  // Windows NT 4.0: the profile needs no password of its own.
  profileForm->addRow(QStringLiteral("Profile:"), m_pProfile);
  profileForm->addRow(QStringLiteral("Password:"), m_pPassword);
  profileForm->labelForField(m_pPassword)->setEnabled(false);
  m_pPassword->setEnabled(false);
  m_pPassword->setEchoMode(QLineEdit::Password);
  auto* smtpGroup = new QGroupBox(QStringLiteral("Internet mail"), this);
  auto* smtpForm = new QFormLayout(smtpGroup);
  smtpForm->addRow(QStringLiteral("SMTP server:"), m_pSmtp);
  smtpForm->addRow(QStringLiteral("Sender address:"), m_pSender);
  layout->addWidget(profileGroup);
  layout->addWidget(smtpGroup);
  layout->addStretch(1);
  m_pProfile->setObjectName(QStringLiteral("profile1529"));
  m_pPassword->setObjectName(QStringLiteral("password1530"));
  m_pSmtp->setObjectName(QStringLiteral("smtp1531"));
  m_pSender->setObjectName(QStringLiteral("sender1532"));
  for (QLineEdit* edit : {m_pProfile, m_pPassword, m_pSmtp, m_pSender})
    edit->setMaxLength(vn::console::kMailFieldLength);
  // Every edit is taken into the page at once.
  const auto take = [this](QLineEdit* edit, std::string ServerMail::*field) {
    connect(edit, &QLineEdit::textEdited, this,
            [this, field](const QString& text) { m_settings.*field = text.toStdString(); });
  };
  take(m_pProfile, &ServerMail::profile);
  take(m_pPassword, &ServerMail::password);
  take(m_pSmtp, &ServerMail::smtpServer);
  take(m_pSender, &ServerMail::sender);
}

void CServerMailPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!m_bLoaded) Load();
}

void CServerMailPage::Load() {
  m_bLoaded = true;
  const CWaitCursor wait;
  (void)vn::console::ReadServerMail(m_strMachine, &m_settings);
  m_pProfile->setText(Q(m_settings.profile));
  m_pPassword->setText(Q(m_settings.password));
  m_pSmtp->setText(Q(m_settings.smtpServer));
  m_pSender->setText(Q(m_settings.sender));
}

bool CServerMailPage::Save() {
  LONG code = 0;
  {
    const CWaitCursor wait;
    code = vn::console::WriteServerMail(m_strMachine, m_settings);
  }
  if (code) AfxMessageBox(SystemText(static_cast<DWORD>(code)), MB_OK | MB_ICONEXCLAMATION);
  return code == 0;
}

// ---------------------------------------------------------------- Sheet

CServerPropertySheet::CServerPropertySheet(const std::string& machine, QWidget* parent)
    : QDialog(parent),
      m_pTabs(new QTabWidget(this)),
      m_pInfo(new CServerInfoPage),
      m_pService(new CServerServicePage),
      m_pMail(new CServerMailPage) {
  setWindowTitle(QStringLiteral("Properties for ") + Q(machine));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + 477);
  m_pInfo->SetMachineName(machine);
  m_pService->SetMachineName(machine);
  m_pMail->SetMachineName(machine);
  m_pTabs->addTab(m_pInfo, QStringLiteral("Version"));
  m_pTabs->addTab(m_pService, QStringLiteral("Services"));
  m_pTabs->addTab(m_pMail, QStringLiteral("Mail"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTabs, 1);
  layout->addWidget(buttons);
  resize(560, 400);
}

void CServerPropertySheet::accept() {
  // A page never shown has read nothing, so it has nothing to write.
  if (m_pMail->Loaded()) (void)m_pMail->Save();
  QDialog::accept();
}

void KSShowServerProperties(QWidget* parent, const std::string& machine) {
  CServerPropertySheet sheet(machine, parent);
  sheet.exec();
}
