#include "console/widgets/reports/ReportTreeDialogs.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

namespace {

// A string resource with its one "%s" (or two) put in, in order.
QString Format(std::string_view format, std::initializer_list<QString> args) {
  QString text = QString::fromUtf8(format.data(), static_cast<qsizetype>(format.size()));
  qsizetype from = 0;
  for (const QString& arg : args) {
    const qsizetype at = text.indexOf(QStringLiteral("%s"), from);
    if (at < 0) break;
    text.replace(at, 2, arg);
    from = at + arg.size();
  }
  return text;
}

}  // namespace

CReportExistsDlg::CReportExistsDlg(const QString& strName, const QString& strMachine, UINT nKeyFormatId,
                                   QWidget* parent)
    : QDialog(parent),
      m_strMachine(strMachine),
      m_nKeyFormatId(nKeyFormatId),
      m_strText(Format(vn::console::KSLoadString(vn::console::IDS_REPORT_EXISTS), {strName})),
      m_pReplace(new QRadioButton(QStringLiteral("Replace the existing report"), this)),
      m_pSaveAs(new QRadioButton(QStringLiteral("Save the report as:"), this)),
      m_pName(new QLineEdit(this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("Report Set Exists"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_REPORT_EXISTS);
  m_pReplace->setChecked(true);
  m_pOk->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* saveAs = new QHBoxLayout;
  saveAs->addWidget(m_pSaveAs);
  saveAs->addWidget(m_pName, 1);
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(m_strText, this));
  left->addWidget(m_pReplace);
  left->addLayout(saveAs);
  left->addStretch();
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &CReportExistsDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pReplace, &QRadioButton::toggled, this, &CReportExistsDlg::UpdateControls);
  connect(m_pName, &QLineEdit::textChanged, this, &CReportExistsDlg::UpdateControls);
  UpdateControls();
}

CReportExistsDlg::~CReportExistsDlg() = default;

bool CReportExistsDlg::IsReplace() const { return m_pReplace->isChecked(); }

QString CReportExistsDlg::GetNewName() const { return m_pName->text().trimmed(); }

void CReportExistsDlg::UpdateControls() {
  m_pName->setEnabled(m_pSaveAs->isChecked());
  m_pOk->setEnabled(IsReplace() || !GetNewName().isEmpty());
}

void CReportExistsDlg::accept() {
  if (!IsReplace()) {
    const QString name = GetNewName();
    if (name.isEmpty()) return;
    bool exists = false;
    {
      const CWaitCursor wait;
      exists = vn::console::RegistryKeyExists(m_strMachine.toStdString(), name.toStdString(), m_nKeyFormatId);
    }
    if (exists) {
      AfxMessageBox(Format(kReportNameExistsFormat, {name}), MB_OK | MB_ICONEXCLAMATION);
      return;
    }
  }
  QDialog::accept();
}

CReportInfoDlg::CReportInfoDlg(const QString& strMachine, const QString& strReport, QWidget* parent)
    : QDialog(parent),
      m_strText(Format(vn::console::KSLoadString(vn::console::IDS_CURRENT_REPORT_SET), {strMachine, strReport})),
      m_pDontShow(new QCheckBox(QStringLiteral("Do not show this message again"), this)) {
  setWindowTitle(QStringLiteral("Report"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_REPORT_INFO);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  auto* text = new QLabel(m_strText, this);
  text->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(m_pDontShow);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CReportInfoDlg::~CReportInfoDlg() = default;

bool CReportInfoDlg::IsDontShowChecked() const { return m_pDontShow->isChecked(); }
