#include "console/widgets/reports/UserFilterDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "console/core/reports/UserFilters.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/reports/SelectUsersDlg.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

namespace {

void ShowSystemError(LONG code) {
  char text[1025] = {};
  vn::console::GetSystemErrorText(static_cast<DWORD>(code), text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}

QString FromView(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CUserFilterDlg::CUserFilterDlg(const QString& strMachine, const QString& strFilter, QWidget* parent)
    : QDialog(parent),
      m_strMachine(strMachine),
      m_bNew(strFilter.isEmpty()),
      m_pName(new QLineEdit(strFilter, this)),
      m_pList(new QListWidget(this)),
      m_pAdd(new QPushButton(QStringLiteral("Add..."), this)),
      m_pRemove(new QPushButton(QStringLiteral("Remove"), this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("User Filter"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_USER_FILTER);
  m_pName->setReadOnly(!m_bNew);
  m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pOk->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* text = new QLabel(QStringLiteral("Choose the users you wish to filter.  Filters are inclusive.  Only the users "
                                         "you specify will be included in the reports."),
                          this);
  text->setWordWrap(true);

  auto* name = new QHBoxLayout;
  name->addWidget(new QLabel(QStringLiteral("Filter Name:"), this));
  name->addWidget(m_pName, 1);
  auto* left = new QVBoxLayout;
  left->addLayout(name);
  left->addWidget(text);
  left->addWidget(m_pList, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  buttons->addWidget(m_pAdd);
  buttons->addWidget(m_pRemove);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &CUserFilterDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pAdd, &QPushButton::clicked, this, &CUserFilterDlg::OnAdd);
  connect(m_pRemove, &QPushButton::clicked, this, &CUserFilterDlg::OnRemove);
  connect(m_pName, &QLineEdit::textChanged, this, &CUserFilterDlg::UpdateOk);

  if (!m_bNew) {
    const CWaitCursor wait;
    std::string value;
    m_loadCode = vn::console::ReadUserFilter(strMachine.toStdString(), strFilter.toStdString(), &value);
    if (m_loadCode == ERROR_SUCCESS) AddAccounts(QString::fromStdString(value));
  }
  UpdateOk();
}

CUserFilterDlg::~CUserFilterDlg() = default;

QString CUserFilterDlg::GetFilterName() const { return m_pName->text(); }

QStringList CUserFilterDlg::GetAccounts() const {
  QStringList names;
  for (int i = 0; i < m_pList->count(); ++i) names.push_back(m_pList->item(i)->text());
  return names;
}

void CUserFilterDlg::AddAccounts(const QString& strNames) {
  std::vector<std::string> names;
  for (const QString& name : GetAccounts()) names.push_back(name.toStdString());
  const std::size_t before = names.size();
  (void)vn::console::AddUserFilterNames(&names, vn::console::SplitUserFilter(strNames.toStdString()));
  for (std::size_t i = before; i < names.size(); ++i) m_pList->addItem(QString::fromStdString(names[i]));
  UpdateOk();
}

void CUserFilterDlg::OnAdd() {
  CSelectUsersDlg select(m_strMachine, this);
  if (select.exec() != QDialog::Accepted) return;
  AddAccounts(select.GetSelectedNames());
}

void CUserFilterDlg::OnRemove() {
  for (int i = m_pList->count() - 1; i >= 0; --i)
    if (m_pList->item(i)->isSelected()) delete m_pList->takeItem(i);
  UpdateOk();
}

int CUserFilterDlg::exec() {
  if (m_loadCode != ERROR_SUCCESS) {
    ShowSystemError(m_loadCode);
    setResult(QDialog::Rejected);
    return QDialog::Rejected;
  }
  return QDialog::exec();
}

void CUserFilterDlg::accept() {
  if (!m_pOk->isEnabled()) return;
  std::vector<std::string> names;
  for (const QString& name : GetAccounts()) names.push_back(name.toStdString());
  const std::string filter = GetFilterName().toStdString();
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = vn::console::StoreUserFilter(m_strMachine.toStdString(), filter, names, m_bNew);
  }
  if (code == ERROR_ALREADY_EXISTS) {
    AfxMessageBox(FromView(vn::console::kUserFilterExistsFormat).replace(QStringLiteral("%s"), GetFilterName()),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (code == ERROR_BUFFER_OVERFLOW) {
    AfxMessageBox(FromView(vn::console::kUserFilterTooLongText), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return;
  }
  QDialog::accept();
}

void CUserFilterDlg::UpdateOk() { m_pOk->setEnabled(!m_pName->text().isEmpty() && m_pList->count() > 0); }
