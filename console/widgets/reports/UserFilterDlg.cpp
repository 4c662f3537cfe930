#include "console/widgets/reports/UserFilterDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

CUserFilterDlg::CUserFilterDlg(const QString& strMachine, const QString& strFilter, QWidget* parent)
    : QDialog(parent), m_strMachine(strMachine), m_pName(new QLineEdit(strFilter, this)) {
  setWindowTitle(QStringLiteral("User Filter"));
  m_pName->setReadOnly(!strFilter.isEmpty());
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Filter Name:"), m_pName);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

CUserFilterDlg::~CUserFilterDlg() = default;

QString CUserFilterDlg::GetFilterName() const { return m_pName->text(); }
