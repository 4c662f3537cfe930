#include "console/widgets/reports/ReportSetDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

CReportSetDialog::CReportSetDialog(vn::console::ReportSet& set, const QString& strName, QWidget* parent)
    : QDialog(parent), m_set(set), m_pName(new QLineEdit(strName, this)) {
  setWindowTitle(QStringLiteral("Report Set"));
  m_pName->setReadOnly(!strName.isEmpty());
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Report Set Name:"), m_pName);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

CReportSetDialog::~CReportSetDialog() = default;

QString CReportSetDialog::GetName() const { return m_pName->text(); }
