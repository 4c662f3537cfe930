#include "mapi/AddressDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "mapi/SimpleMapi.h"
#include "platform/core/AsciiText.h"

namespace vn::mapi {
namespace {

constexpr int kAddressRole = Qt::UserRole;

QListWidgetItem* MakeItem(const std::string& name, const std::string& address) {
  auto* item = new QListWidgetItem(QString::fromStdString(name));
  item->setData(kAddressRole, QString::fromStdString(address));
  if (!address.empty()) item->setToolTip(QString::fromStdString(address));
  return item;
}

bool Holds(const QListWidget* list, const QString& name) {
  for (int i = 0; i < list->count(); ++i)
    if (vn::EqualsIgnoringCase(list->item(i)->text().toStdString(), name.toStdString())) return true;
  return false;
}

}  // namespace

CAddressDialog::CAddressDialog(std::string bookPath, const QString& caption, int nEditFields, QWidget* parent)
    : QDialog(parent),
      m_bookPath(std::move(bookPath)),
      m_pEntries(new QListWidget(this)),
      m_pTo(new QListWidget(this)),
      m_pCc(new QListWidget(this)) {
  setObjectName(QStringLiteral("MapiAddressDialog"));
  setWindowTitle(caption.isEmpty() ? QStringLiteral("Address Book") : caption);
  m_pEntries->setObjectName(QStringLiteral("entries"));
  m_pTo->setObjectName(QStringLiteral("to"));
  m_pCc->setObjectName(QStringLiteral("cc"));
  for (QListWidget* list : {m_pEntries, m_pTo, m_pCc}) list->setSelectionMode(QAbstractItemView::ExtendedSelection);

  auto* toButton = new QPushButton(QStringLiteral("To ->"), this);
  auto* ccButton = new QPushButton(QStringLiteral("Cc ->"), this);
  auto* remove = new QPushButton(QStringLiteral("Remove"), this);
  auto* newEntry = new QPushButton(QStringLiteral("New entry..."), this);
  toButton->setObjectName(QStringLiteral("addTo"));
  ccButton->setObjectName(QStringLiteral("addCc"));
  remove->setObjectName(QStringLiteral("remove"));
  newEntry->setObjectName(QStringLiteral("newEntry"));

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Names:"), this), 0, 0);
  grid->addWidget(m_pEntries, 1, 0, 4, 1);
  grid->addWidget(toButton, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("To:"), this), 0, 2);
  grid->addWidget(m_pTo, 1, 2);
  grid->addWidget(ccButton, 3, 1);
  auto* ccLabel = new QLabel(QStringLiteral("Cc:"), this);
  grid->addWidget(ccLabel, 2, 2);
  grid->addWidget(m_pCc, 3, 2);
  grid->addWidget(remove, 4, 2);
  grid->addWidget(newEntry, 5, 0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  const bool hasTo = nEditFields >= 1, hasCc = nEditFields >= 2;
  toButton->setVisible(hasTo);
  m_pTo->setVisible(hasTo);
  ccButton->setVisible(hasCc);
  m_pCc->setVisible(hasCc);
  ccLabel->setVisible(hasCc);
  remove->setVisible(hasTo);

  connect(toButton, &QPushButton::clicked, this, [this] { AddChosen(m_pTo); });
  connect(ccButton, &QPushButton::clicked, this, [this] { AddChosen(m_pCc); });
  connect(remove, &QPushButton::clicked, this, &CAddressDialog::RemoveChosen);
  connect(newEntry, &QPushButton::clicked, this, &CAddressDialog::OnNewEntry);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool CAddressDialog::Reload() {
  std::vector<AddressEntry> entries;
  if (ReadAddressBook(m_bookPath, &entries) != ERROR_SUCCESS) {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The address book %1 cannot be read.").arg(QString::fromStdString(m_bookPath)));
    return false;
  }
  m_entries = std::move(entries);
  m_pEntries->clear();
  for (const AddressEntry& entry : m_entries) m_pEntries->addItem(MakeItem(entry.name, entry.address));
  return true;
}

void CAddressDialog::SetRecipients(const std::vector<Recipient>& recipients) {
  for (const Recipient& r : recipients) {
    QListWidget* list = r.recipClass == MAPI_CC ? m_pCc : m_pTo;
    const QString name = QString::fromStdString(r.name);
    if (name.isEmpty() || Holds(list, name)) continue;
    std::string address = r.address;
    for (const AddressEntry& e : m_entries)
      if (address.empty() && vn::EqualsIgnoringCase(e.name, r.name)) address = e.address;
    list->addItem(MakeItem(r.name, address));
  }
}

std::vector<Recipient> CAddressDialog::Recipients() const {
  std::vector<Recipient> recipients;
  for (const auto& [list, recipClass] : {std::pair{m_pTo, MAPI_TO}, std::pair{m_pCc, MAPI_CC}}) {
    if (!list->isVisibleTo(this)) continue;
    for (int i = 0; i < list->count(); ++i)
      recipients.push_back(
          {recipClass, list->item(i)->text().toStdString(), list->item(i)->data(kAddressRole).toString().toStdString()});
  }
  return recipients;
}

void CAddressDialog::AddChosen(QListWidget* target) {
  for (int i = 0; i < m_pEntries->count(); ++i) {
    const QListWidgetItem* item = m_pEntries->item(i);
    if (item->isSelected() && !Holds(target, item->text()))
      target->addItem(MakeItem(item->text().toStdString(), item->data(kAddressRole).toString().toStdString()));
  }
}

void CAddressDialog::RemoveChosen() {
  for (QListWidget* list : {m_pTo, m_pCc})
    for (int i = list->count() - 1; i >= 0; --i)
      if (list->item(i)->isSelected()) delete list->takeItem(i);
}

void CAddressDialog::OnNewEntry() {
  QDialog ask(this);
  ask.setObjectName(QStringLiteral("MapiNewEntryDialog"));
  ask.setWindowTitle(QStringLiteral("New Entry"));
  auto* name = new QLineEdit(&ask);
  auto* address = new QLineEdit(&ask);
  name->setObjectName(QStringLiteral("name"));
  address->setObjectName(QStringLiteral("address"));
  auto* form = new QFormLayout(&ask);
  form->addRow(QStringLiteral("Name:"), name);
  form->addRow(QStringLiteral("Address:"), address);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, &ask, [&] {
    const AddressEntry entry{name->text().trimmed().toStdString(), address->text().trimmed().toStdString(), false};
    std::string why;
    const LONG code = AppendAddressEntry(m_bookPath, entry, &why);
    if (code == ERROR_SUCCESS) {
      ask.accept();
      return;
    }
    if (why.empty())
      why = "The address book " + m_bookPath + " cannot be written.";
    QMessageBox::warning(&ask, ask.windowTitle(), QString::fromStdString(why));
  });
  if (ask.exec() != QDialog::Accepted) return;
  const QString added = name->text().trimmed();
  if (!Reload()) return;
  for (int i = 0; i < m_pEntries->count(); ++i)
    m_pEntries->item(i)->setSelected(vn::EqualsIgnoringCase(m_pEntries->item(i)->text().toStdString(), added.toStdString()));
}

}  // namespace vn::mapi
