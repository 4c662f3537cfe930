#include "console/widgets/deploy/DeployWizards.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/HelpContext.h"

namespace {

QLabel* WizardPicture(QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(QStringLiteral("wizardBitmap%1").arg(IDC_WIZARD_BITMAP));
  const QPixmap server = parent->style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(32, 32);
  picture->setPixmap(server.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  picture->setFixedWidth(96);
  return picture;
}

}  // namespace

CKSWizardPage::CKSWizardPage(int nIDTemplate, const QStringList& texts, QWidget* parent)
    : QWizardPage(parent), m_pTextColumn(new QVBoxLayout), m_nIDTemplate(nIDTemplate) {
  auto* row = new QHBoxLayout(this);
  row->addWidget(WizardPicture(this));
  row->addLayout(m_pTextColumn, 1);
  for (const QString& text : texts) {
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    m_pTextColumn->addWidget(label);
  }
  m_pTextColumn->addStretch(1);
}

CKSInsWizardWelcome::CKSInsWizardWelcome(QWidget* parent)
    : CKSWizardPage(IDD_INS_WIZARD_WELCOME,
                    {QStringLiteral("The Server Installation Wizard will prepare a Vornal server on a remote system.")},
                    parent) {
  setTitle(QStringLiteral("Welcome"));
}

CKSInsWizardStart::CKSInsWizardStart(QWidget* parent)
    : CKSWizardPage(IDD_INS_WIZARD_START,
                    {QStringLiteral("The server files will be copied to the remote computer and the RODuduro service "
                                    "is started."),
                     QStringLiteral("Note: The current mail settings will be copied to the remote server.  You can "
                                    "change them later by using the Files, Properties command.")},
                    parent),
      m_pServer(new QCheckBox(QStringLiteral("Vornal 4.0 Server"), this)) {
  setTitle(QStringLiteral("Ready to install"));
  m_pServer->setChecked(true);
  m_pTextColumn->insertWidget(m_pTextColumn->count() - 1, m_pServer);
}

CKSDeinsWizardWelcome::CKSDeinsWizardWelcome(QWidget* parent)
    : CKSWizardPage(
          IDD_DEINS_WIZARD_WELCOME,
          {QStringLiteral("The Server Deinstallation Wizard will remove the Vornal server from a remote system.")},
          parent) {
  setTitle(QStringLiteral("Welcome"));
}

CKSRemoveWizard::CKSRemoveWizard(QWidget* parent)
    : CKSWizardPage(IDD_REMOVE_WIZARD,
                    {QStringLiteral("The RODuduro service will be stopped and removed, and the server files and "
                                    "registry entries deleted from the remote computer.")},
                    parent) {
  setTitle(QStringLiteral("Deinstallation Wizard"));
}

CKSDeployWizard::CKSDeployWizard(Kind kind, QWidget* parent) : QWizard(parent), m_kind(kind) {
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage, false);
  setOption(QWizard::HaveHelpButton, false);
  if (kind == Install) {
    setWindowTitle(QStringLiteral("Server Installation Wizard"));
    AfxSetHelpContext(this, HID_BASE_RESOURCE + IDD_INS_WIZARD_WELCOME);
    addPage(new CKSInsWizardWelcome(this));
    addPage(new CKSInsWizardStart(this));
  } else {
    setWindowTitle(QStringLiteral("Server Deinstallation Wizard"));
    AfxSetHelpContext(this, HID_BASE_RESOURCE + IDD_DEINS_WIZARD_WELCOME);
    addPage(new CKSDeinsWizardWelcome(this));
    addPage(new CKSRemoveWizard(this));
  }
  setMinimumSize(520, 320);
}

CKSInstallProgressDlg::CKSInstallProgressDlg(QWidget* parent)
    : QDialog(parent), m_pStatus(new QLabel(this)), m_pBar(new QProgressBar(this)) {
  setWindowTitle(QStringLiteral("Installing Vornal..."));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + IDD_INSTALL_PROGRESS);
  setModal(false);
  m_pStatus->setObjectName(QStringLiteral("status%1").arg(IDC_PROGRESS_STATUS));
  m_pBar->setObjectName(QStringLiteral("bar%1").arg(IDC_PROGRESS_BAR));
  m_pStatus->setMinimumWidth(360);
  m_pBar->setRange(0, 12);
  m_pBar->setValue(0);
  m_pBar->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pStatus);
  layout->addWidget(m_pBar);
}

void CKSInstallProgressDlg::SetStatus(const QString& text) {
  m_pStatus->setText(text);
  if (m_pBar->value() + 1 >= m_pBar->maximum()) m_pBar->setMaximum(m_pBar->maximum() + 4);
  m_pBar->setValue(m_pBar->value() + 1);
  m_pStatus->repaint();
  m_pBar->repaint();
}

void CKSInstallProgressDlg::Complete(const QString& text) {
  m_pStatus->setText(text);
  m_pBar->setValue(m_pBar->maximum());
  m_pStatus->repaint();
  m_pBar->repaint();
}
