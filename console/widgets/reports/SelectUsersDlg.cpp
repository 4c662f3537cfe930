#include "console/widgets/reports/SelectUsersDlg.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

namespace {

constexpr int kKindRole = Qt::UserRole;

void ShowSystemError(LONG code) {
  char text[1025] = {};
  vn::console::GetSystemErrorText(static_cast<DWORD>(code), text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CSelectUsersDlg::CSelectUsersDlg(const QString& strMachine, QWidget* parent)
    : QDialog(parent),
      m_strMachine(strMachine),
      m_pSources(new QComboBox(this)),
      m_pAccounts(new QTreeWidget(this)),
      m_pShowUsers(new QPushButton(QStringLiteral("Show Users"), this)),
      m_pSelected(new QLineEdit(this)),
      m_pAdd(new QPushButton(QStringLiteral("Add"), this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("Select Users"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_SELECT_USERS);
  m_pAccounts->setColumnCount(1);
  m_pAccounts->setHeaderHidden(true);
  m_pAccounts->setRootIsDecorated(false);
  m_pAccounts->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pAccounts->header()->setStretchLastSection(false);
  m_pOk->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* sources = new QHBoxLayout;
  sources->addWidget(new QLabel(QStringLiteral("List Names from:"), this));
  sources->addWidget(m_pSources, 1);
  auto* selected = new QHBoxLayout;
  selected->addWidget(m_pAdd);
  selected->addWidget(m_pShowUsers);
  selected->addStretch();
  auto* left = new QVBoxLayout;
  left->addLayout(sources);
  left->addWidget(m_pAccounts, 1);
  left->addLayout(selected);
  left->addWidget(new QLabel(QStringLiteral("Selected Names:"), this));
  left->addWidget(m_pSelected);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &CSelectUsersDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pAdd, &QPushButton::clicked, this, &CSelectUsersDlg::OnAdd);
  connect(m_pShowUsers, &QPushButton::clicked, this, [this] { FillAccounts(true); });
  connect(m_pAccounts, &QTreeWidget::itemDoubleClicked, this, &CSelectUsersDlg::OnAdd);

  {
    const CWaitCursor wait;
    if (const LONG code = vn::console::ReadUserSources(strMachine.toStdString(), &m_sources); code != ERROR_SUCCESS) {
      ShowSystemError(code);
      m_sources = {};
    }
  }
  for (const vn::console::UserSource& source : m_sources.sources) m_pSources->addItem(QString::fromStdString(source.text));
  connect(m_pSources, &QComboBox::currentIndexChanged, this, [this] { FillAccounts(false); });
  if (m_pSources->count() > 0) FillAccounts(false);
}

CSelectUsersDlg::~CSelectUsersDlg() = default;

QString CSelectUsersDlg::GetSelectedNames() const { return m_pSelected->text(); }

void CSelectUsersDlg::FillAccounts(bool bUsers) {
  m_pAccounts->clear();
  const int index = m_pSources->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_sources.sources.size())) return;
  std::vector<vn::console::AccountRow> rows;
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = vn::console::ListAccounts(m_sources.sources[static_cast<std::size_t>(index)], bUsers, &rows);
  }
  if (code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return;
  }
  const QFontMetrics metrics(m_pAccounts->font());
  int widest = 0;
  for (const vn::console::AccountRow& row : rows) {
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(row.name)});
    item->setData(0, kKindRole, row.kind);
    m_pAccounts->addTopLevelItem(item);
    widest = std::max(widest, metrics.horizontalAdvance(item->text(0)));
  }
  m_pAccounts->setColumnWidth(0, widest + 25);
}

void CSelectUsersDlg::OnAdd() {
  const int index = m_pSources->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_sources.sources.size())) return;
  const std::string& domain = m_sources.sources[static_cast<std::size_t>(index)].domain;
  std::string field = m_pSelected->text().toStdString();
  for (int i = 0; i < m_pAccounts->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = m_pAccounts->topLevelItem(i);
    if (!item->isSelected()) continue;
    const vn::console::AccountRow row{item->data(0, kKindRole).toInt(), item->text(0).toStdString()};
    (void)vn::console::AppendSelectedName(&field, vn::console::QualifiedAccountName(domain, row));
  }
  m_pSelected->setText(QString::fromStdString(field));
}

void CSelectUsersDlg::accept() {
  std::string field = m_pSelected->text().trimmed().toStdString();
  if (field.empty()) {
    AfxMessageBox(QString::fromUtf8(vn::console::kNoUserSelectedText.data(),
                                    static_cast<qsizetype>(vn::console::kNoUserSelectedText.size())),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  std::string failed;
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = vn::console::CheckSelectedNames(m_strMachine.toStdString(), m_sources.isController, &field, &failed);
  }
  if (code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return;
  }
  m_pSelected->setText(QString::fromStdString(field));
  QDialog::accept();
}
