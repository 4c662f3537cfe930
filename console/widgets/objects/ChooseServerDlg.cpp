#include "console/widgets/objects/ChooseServerDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "platform/core/AsciiText.h"
#include "platform/net/Net.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

namespace {

constexpr int kContainerRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

void ShowNetError(DWORD code) {
  char text[512] = {};
  vn::console::GetSystemErrorText(code, text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}

QIcon Image(int index) {
  const QStyle* style = QApplication::style();
  if (!style) return {};
  switch (index) {
    case 0: return style->standardIcon(QStyle::SP_DriveNetIcon);
    case 1: return style->standardIcon(QStyle::SP_DirIcon);
    default: return style->standardIcon(QStyle::SP_ComputerIcon);
  }
}

}  // namespace

CChooseServerDlg::CChooseServerDlg(QWidget* parent)
    : QDialog(parent),
      m_pTree(new QTreeWidget(this)),
      m_pComputer(new QLineEdit(this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("Choose a Windows NT Server"));
  m_pTree->setHeaderHidden(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* help = new QPushButton(QStringLiteral("Help"), this);
  m_pOk->setDefault(true);
  auto* computer = new QHBoxLayout;
  computer->addWidget(new QLabel(QStringLiteral("Computer:"), this));
  computer->addWidget(m_pComputer);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pOk);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTree);
  layout->addLayout(computer);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [] {
    if (CWinApp* pApp = AfxGetApp())
      pApp->WinHelp(vn::console::kHelpDialogBase + vn::console::IDD_CHOOSE_SERVER, HELP_CONTEXT);
  });
  connect(m_pComputer, &QLineEdit::textEdited, this, [this](const QString& text) { m_pOk->setEnabled(!text.isEmpty()); });
  connect(m_pTree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { OnExpanded(item); });
  connect(m_pTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { OnCurrentChanged(item); });
  connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { OnDoubleClicked(item); });

  const CWaitCursor wait;
  AddNode(nullptr, std::string(vn::console::KSLoadString(vn::console::IDS_DOMAIN)), true, 0);
  List(nullptr, SV_TYPE_NT, std::string(), false);
  SortContainersFirst(nullptr, m_pTree);
  m_pOk->setEnabled(false);
}

CChooseServerDlg::~CChooseServerDlg() = default;

QString CChooseServerDlg::GetComputerName() const { return m_pComputer->text(); }

QTreeWidgetItem* CChooseServerDlg::AddNode(QTreeWidgetItem* parent, const std::string& name, bool container,
                                           int image) {
  auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(name)});
  item->setIcon(0, Image(image));
  item->setData(0, kContainerRole, container);
  if (container) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  if (parent)
    parent->addChild(item);
  else
    m_pTree->addTopLevelItem(item);
  // Every insertion keeps the new node's siblings in text order.
  if (parent)
    parent->sortChildren(0, Qt::AscendingOrder);
  else
    m_pTree->sortItems(0, Qt::AscendingOrder);
  return item;
}

void CChooseServerDlg::List(QTreeWidgetItem* parent, unsigned type, const std::string& domain, bool upperCase) {
  const DWORD status = vn::console::EnumServerNames(type, domain, [&](std::string name) {
    if (upperCase) name = vn::ToUpperAscii(name);
    AddNode(parent, name, upperCase, upperCase ? 1 : 2);
  });
  if (status != 0) ShowNetError(status);
}

void CChooseServerDlg::SortContainersFirst(QTreeWidgetItem* parent, QTreeWidget* tree) {
  std::vector<QTreeWidgetItem*> items;
  const int count = parent ? parent->childCount() : tree->topLevelItemCount();
  for (int i = count - 1; i >= 0; --i) items.push_back(parent ? parent->takeChild(i) : tree->takeTopLevelItem(i));
  std::stable_sort(items.begin(), items.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    const bool containerA = a->data(0, kContainerRole).toBool();
    const bool containerB = b->data(0, kContainerRole).toBool();
    if (containerA != containerB) return containerA;
    return a->text(0).toStdString() < b->text(0).toStdString();
  });
  for (QTreeWidgetItem* item : items) {
    if (parent)
      parent->addChild(item);
    else
      tree->addTopLevelItem(item);
  }
}

void CChooseServerDlg::OnExpanded(QTreeWidgetItem* item) {
  if (!item->data(0, kContainerRole).toBool() || item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  const CWaitCursor wait;
  if (!item->parent()) {
    List(item, SV_TYPE_DOMAIN_ENUM, std::string(), true);
  } else {
    List(item, SV_TYPE_NT | SV_TYPE_DOMAIN_MEMBER, item->text(0).toStdString(), false);
    SortContainersFirst(item, m_pTree);
  }
  if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void CChooseServerDlg::OnCurrentChanged(QTreeWidgetItem* item) {
  if (!item) return;
  if (item->data(0, kContainerRole).toBool()) {
    m_pComputer->clear();
    m_pOk->setEnabled(false);
  } else {
    m_pComputer->setText(item->text(0));
    m_pOk->setEnabled(true);
  }
}

void CChooseServerDlg::OnDoubleClicked(QTreeWidgetItem* item) {
  if (!item || item->data(0, kContainerRole).toBool()) return;
  m_pComputer->setText(item->text(0));
  accept();
}
