#include "console/widgets/support/ComputerBrowserDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/support/SystemErrorText.h"
#include "platform/core/AsciiText.h"
#include "platform/net/Net.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

namespace {

constexpr int kComputerRole = Qt::UserRole;

QIcon Image(QStyle::StandardPixmap pixmap) {
  const QStyle* style = QApplication::style();
  return style ? style->standardIcon(pixmap) : QIcon();
}

}  // namespace

CComputerBrowserDlg::CComputerBrowserDlg(QWidget* parent)
    : QDialog(parent), m_pTree(new QTreeWidget(this)), m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("Select a computer"));
  m_pTree->setHeaderHidden(true);
  m_pTree->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_pOk->setDefault(true);
  m_pOk->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTree);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { OnCurrentChanged(item); });
  connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (IsComputer(item)) accept();
  });

  // The network neighbourhood: every domain of the browse list, each with
  // every computer the browse list puts in it.
  const CWaitCursor wait;
  if (!List(nullptr, SV_TYPE_DOMAIN_ENUM, std::string())) return;
  for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* domain = m_pTree->topLevelItem(i);
    // A domain that cannot be listed has been shown; the others still are.
    (void)List(domain, SV_TYPE_ALL, domain->text(0).toStdString());
    domain->sortChildren(0, Qt::AscendingOrder);
  }
  m_pTree->sortItems(0, Qt::AscendingOrder);
  m_pTree->expandAll();
}

CComputerBrowserDlg::~CComputerBrowserDlg() = default;

QString CComputerBrowserDlg::GetComputerName() const {
  const QTreeWidgetItem* item = m_pTree->currentItem();
  return IsComputer(item) ? item->text(0) : QString();
}

bool CComputerBrowserDlg::SelectComputer(const QString& name) {
  const std::string wanted = name.toStdString();
  for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* domain = m_pTree->topLevelItem(i);
    for (int j = 0; j < domain->childCount(); ++j) {
      if (vn::EqualsIgnoringCase(domain->child(j)->text(0).toStdString(), wanted)) {
        m_pTree->setCurrentItem(domain->child(j));
        return true;
      }
    }
  }
  return false;
}

bool CComputerBrowserDlg::List(QTreeWidgetItem* parent, unsigned type, const std::string& domain) {
  const bool computer = parent != nullptr;
  const DWORD status = vn::console::EnumServerNames(type, domain, [&](const std::string& name) {
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(name)});
    item->setData(0, kComputerRole, computer);
    item->setIcon(0, Image(computer ? QStyle::SP_ComputerIcon : QStyle::SP_DriveNetIcon));
    if (parent)
      parent->addChild(item);
    else
      m_pTree->addTopLevelItem(item);
  });
  if (status == 0) return true;
  char text[1025] = {};
  vn::console::GetSystemErrorText(status, text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool CComputerBrowserDlg::IsComputer(const QTreeWidgetItem* item) {
  return item && item->data(0, kComputerRole).toBool();
}

void CComputerBrowserDlg::OnCurrentChanged(QTreeWidgetItem* item) { m_pOk->setEnabled(IsComputer(item)); }
