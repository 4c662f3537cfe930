#include "console/widgets/objects/AddPreferredMachineDlg.h"

#include <thread>

#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/support/Resources.h"
#include "console/widgets/objects/ChooseServerDlg.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

namespace {
constexpr int kMachineNameLength = 17;
}

CAddPreferredMachineDlg::CAddPreferredMachineDlg(QWidget* parent)
    : QDialog(parent), m_pName(new QLineEdit(this)), m_pSave(new QPushButton(QStringLiteral("Save"), this)) {
  setWindowTitle(QStringLiteral("Add Preferred Machine"));
  m_pName->setMaxLength(kMachineNameLength);
  auto* browse = new QPushButton(QStringLiteral("..."), this);
  browse->setFixedWidth(32);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  auto* help = new QPushButton(QStringLiteral("Help"), this);
  m_pSave->setDefault(true);

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Enter a machine name."), this), 0, 0, 1, 2);
  layout->addWidget(new QLabel(QStringLiteral("Machine Name"), this), 1, 0, 1, 2);
  layout->addWidget(m_pName, 2, 0);
  layout->addWidget(browse, 2, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_pSave);
  buttons->addWidget(close);
  buttons->addWidget(help);
  buttons->addStretch();
  layout->addLayout(buttons, 0, 2, 4, 1);

  connect(m_pSave, &QPushButton::clicked, this, [this] { OnSave(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(help, &QPushButton::clicked, this, [] {
    if (CWinApp* pApp = AfxGetApp())
      pApp->WinHelp(vn::console::kHelpDialogBase + vn::console::IDD_ADD_PREFERRED_MACHINE, HELP_CONTEXT);
  });
}

CAddPreferredMachineDlg::~CAddPreferredMachineDlg() = default;

QString CAddPreferredMachineDlg::GetMachineName() const { return m_pName->text(); }

void CAddPreferredMachineDlg::OnSave() {
  const QString name = m_pName->text();
  int nt = 0;
  {
    // A machine that is switched off answers only when the platform's
    // connection time-out passes: ask on a thread of its own while the window
    // keeps painting, its input held back until the answer is in.
    const CWaitCursor wait;
    setEnabled(false);
    QEventLoop answered;
    std::thread check([&nt, &answered, machine = name.toStdString()] {
      nt = vn::console::IsNTMachine(machine);
      QMetaObject::invokeMethod(&answered, &QEventLoop::quit, Qt::QueuedConnection);
    });
    answered.exec(QEventLoop::ExcludeUserInputEvents);
    check.join();
    setEnabled(true);
  }
  if (nt) {
    accept();
    return;
  }
  const QString format = QString::fromUtf8(vn::console::KSLoadString(vn::console::IDS_NOT_NT_MACHINE));
  AfxMessageBox(QString(format).replace(QLatin1String("%s"), name), MB_OK | MB_ICONEXCLAMATION);
}

void CAddPreferredMachineDlg::OnBrowse() {
  CChooseServerDlg chooser(this);
  if (chooser.exec() != QDialog::Accepted) return;
  QString name = chooser.GetComputerName();
  if (name.endsWith(QLatin1Char(';'))) name.chop(1);
  m_pName->setText(name);
}
