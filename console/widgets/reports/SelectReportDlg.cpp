#include "console/widgets/reports/SelectReportDlg.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstring>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/reports/UserFilters.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/reports/ReportMessages.h"
#include "console/widgets/reports/UserFilterDlg.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "platform/core/AsciiText.h"
#include "platform/registry/Registry.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

namespace {

// Longest names read: report set key names, user filter value names.
constexpr DWORD kReportSetNameMax = 100;
constexpr DWORD kUserFilterNameMax = 1025;

}  // namespace

CSelectReportDlg::CSelectReportDlg(int nMode, const QString& strMachine, HWND hNotifyWnd, QWidget* parent)
    : QDialog(parent),
      m_nMode(nMode),
      m_hNotifyWnd(hNotifyWnd),
      m_pComputers(new QComboBox(this)),
      m_pBrowse(new QPushButton(QStringLiteral("..."), this)),
      m_pNames(new QTreeWidget(this)),
      m_pAdd(new QPushButton(QStringLiteral("Add..."), this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(nMode == kUserFilter ? QStringLiteral("Select a User Filter") : QStringLiteral("Select a Report Set"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + vn::console::IDD_SELECT_REPORT);
  m_pNames->setColumnCount(1);
  m_pNames->setHeaderHidden(true);
  m_pNames->setRootIsDecorated(false);
  m_pNames->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pNames->header()->setStretchLastSection(false);
  m_pNames->setColumnWidth(0, 2 * QFontMetrics(m_pNames->font()).horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQR")) + 25);
  // "Add..." makes a new user filter; report sets are made elsewhere.
  m_pAdd->setEnabled(nMode == kUserFilter);
  m_pOk->setDefault(true);
  m_pOk->setEnabled(false);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* help = new QPushButton(QStringLiteral("Help"), this);

  auto* computer = new QHBoxLayout;
  computer->addWidget(m_pComputers, 1);
  computer->addWidget(m_pBrowse);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  buttons->addWidget(m_pAdd);
  buttons->addWidget(help);
  buttons->addStretch();
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("Select a computer:"), this));
  left->addLayout(computer);
  left->addWidget(m_pNames);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &CSelectReportDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [] {
    if (CWinApp* pApp = AfxGetApp())
      pApp->WinHelp(vn::console::kHelpDialogBase + vn::console::IDD_SELECT_REPORT, HELP_CONTEXT);
  });
  connect(m_pBrowse, &QPushButton::clicked, this, &CSelectReportDlg::OnBrowse);
  connect(m_pAdd, &QPushButton::clicked, this, &CSelectReportDlg::OnAdd);
  connect(m_pComputers, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
  connect(m_pNames, &QTreeWidget::itemSelectionChanged, this, &CSelectReportDlg::UpdateOk);
  connect(m_pNames, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (m_pOk->isEnabled()) accept();
  });

  if (!strMachine.isEmpty()) AddComputer(strMachine);
}

CSelectReportDlg::~CSelectReportDlg() = default;

QString CSelectReportDlg::GetMachine() const { return m_pComputers->currentText(); }

void CSelectReportDlg::AddComputer(const QString& strMachine) {
  const std::string wanted = strMachine.toStdString();
  for (int i = 0; i < m_pComputers->count(); ++i) {
    if (vn::EqualsIgnoringCase(m_pComputers->itemText(i).toStdString(), wanted)) {
      if (m_pComputers->currentIndex() == i)
        Fill();
      else
        m_pComputers->setCurrentIndex(i);
      return;
    }
  }
  m_pComputers->addItem(strMachine);
  m_pComputers->setCurrentIndex(m_pComputers->count() - 1);
}

void CSelectReportDlg::OnBrowse() {
  CComputerBrowserDlg browser(this);
  if (browser.exec() != QDialog::Accepted) return;
  if (const QString name = browser.GetComputerName(); !name.isEmpty()) AddComputer(name);
}

void CSelectReportDlg::Fill() {
  m_pNames->clear();
  UpdateOk();
  const std::string machine = GetMachine().toStdString();
  if (machine.empty()) return;
  const CWaitCursor wait;
  const vn::console::MachineRoot registry(machine);
  if (registry.Code() != ERROR_SUCCESS) {
    ShowError(registry.Code());
    return;
  }
  const UINT keyId = m_nMode == kUserFilter ? vn::console::IDS_USER_FILTER_KEY : vn::console::IDS_REPORT_SET_KEY;
  const std::string keyName(vn::console::KSLoadString(keyId));
  HKEY key = nullptr;
  LONG code = RegOpenKeyExA(registry.get(), keyName.c_str(), 0, KEY_READ, &key);
  if (code == ERROR_FILE_NOT_FOUND) return;  // nothing stored on this computer yet
  if (code != ERROR_SUCCESS) {
    ShowError(code);
    return;
  }
  const DWORD nameMax = m_nMode == kUserFilter ? kUserFilterNameMax : kReportSetNameMax;
  std::string name(nameMax + 1, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD size = nameMax + 1;
    code = m_nMode == kUserFilter
               ? RegEnumValueA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;  // longer than a name can be: not one of ours
    if (code != ERROR_SUCCESS) break;
    m_pNames->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromStdString(name.substr(0, size))}));
  }
  RegCloseKey(key);
  if (code != ERROR_NO_MORE_ITEMS) ShowError(code);
  if (m_pNames->topLevelItemCount() > 0) m_pNames->setCurrentItem(m_pNames->topLevelItem(0));
  UpdateOk();
}

void CSelectReportDlg::accept() {
  const QList<QTreeWidgetItem*> selected = m_pNames->selectedItems();
  if (selected.isEmpty()) return;
  const QString name = selected.front()->text(0);
  QString value;
  if (m_nMode == kUserFilter) {
    const CWaitCursor wait;
    std::string stored;
    if (const LONG code = vn::console::ReadUserFilter(GetMachine().toStdString(), name.toStdString(), &stored);
        code != ERROR_SUCCESS) {
      ShowError(code);
      return;
    }
    value = QString::fromStdString(stored);
  }
  m_strName = name;
  m_strValue = value;
  QDialog::accept();
}

void CSelectReportDlg::OnAdd() {
  if (m_nMode != kUserFilter) return;
  const QString machine = GetMachine();
  if (machine.isEmpty()) return;  // no computer chosen yet
  CUserFilterDlg dialog(machine, QString(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString filter = dialog.GetFilterName();
  auto* item = new QTreeWidgetItem(QStringList{filter});
  m_pNames->insertTopLevelItem(0, item);
  m_pNames->setCurrentItem(item);
  UpdateOk();
  if (m_hNotifyWnd == nullptr) return;
  const QByteArray text = QStringLiteral("%1\\%2").arg(machine, filter).toUtf8();
  auto* copy = new char[static_cast<std::size_t>(text.size()) + 1];
  std::memcpy(copy, text.constData(), static_cast<std::size_t>(text.size()) + 1);
  if (!PostMessageA(m_hNotifyWnd, WM_KS_USER_FILTER_ADDED, 0, reinterpret_cast<LPARAM>(copy))) delete[] copy;
}

void CSelectReportDlg::UpdateOk() {
  m_pOk->setEnabled(m_pNames->topLevelItemCount() > 0 && !m_pNames->selectedItems().isEmpty());
}

void CSelectReportDlg::ShowError(LONG code) {
  char text[1025] = {};
  vn::console::GetSystemErrorText(static_cast<DWORD>(code), text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}
