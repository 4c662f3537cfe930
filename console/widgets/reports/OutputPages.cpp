#include "console/widgets/reports/OutputPages.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/run/MailReportDlg.h"
#include "platform/machine/Machine.h"

using namespace vn::console;

namespace {

QLineEdit* LimitedEdit(int maxLength, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(maxLength);
  return edit;
}

// A three-state attribute test: 0 cleared, 1 set, 2 not considered.
QCheckBox* AttributeBox(const QString& text, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setTristate(true);
  return box;
}

Qt::CheckState StateFromTest(LONG test) {
  switch (test) {
    case kAttributeCleared: return Qt::Unchecked;
    case kAttributeSet: return Qt::Checked;
    default: return Qt::PartiallyChecked;
  }
}

LONG TestFromState(Qt::CheckState state) {
  switch (state) {
    case Qt::Unchecked: return kAttributeCleared;
    case Qt::Checked: return kAttributeSet;
    default: return kAttributeEither;
  }
}

QGroupBox* BoxGroup(const QString& title, std::span<const OptionBit> bits, std::vector<QCheckBox*>& boxes,
                    QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(group);
  for (const OptionBit& bit : bits) {
    auto* box = new QCheckBox(QString::fromLatin1(bit.text), group);
    layout->addWidget(box);
    boxes.push_back(box);
  }
  return group;
}

void LoadBits(const std::vector<QCheckBox*>& boxes, std::span<const OptionBit> bits, DWORD options) {
  for (std::size_t i = 0; i < boxes.size() && i < bits.size(); ++i) boxes[i]->setChecked((options & bits[i].bit) != 0);
}

void StoreBits(const std::vector<QCheckBox*>& boxes, std::span<const OptionBit> bits, DWORD& options) {
  for (std::size_t i = 0; i < boxes.size() && i < bits.size(); ++i) {
    options = boxes[i]->isChecked() ? (options | bits[i].bit) : (options & ~bits[i].bit);
  }
}

}  // namespace

// CReportFilterPage

CReportFilterPage::CReportFilterPage(QWidget* parent)
    : COptionPage(parent),
      m_pFileFilter(LimitedEdit(kFileFilterMaxLength, this)),
      m_pUserFilter(LimitedEdit(kOwnerFilterMaxLength, this)),
      m_pChoose(new QPushButton(QStringLiteral("..."), this)) {
  m_pFileFilter->setPlaceholderText(QStringLiteral("*.*"));
  m_pChoose->setFixedWidth(m_pChoose->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
  auto* userRow = new QHBoxLayout;
  userRow->addWidget(m_pUserFilter);
  userRow->addWidget(m_pChoose);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("File Filter:"), m_pFileFilter);
  form->addRow(QStringLiteral("User Filter:"), userRow);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addStretch();
  connect(m_pChoose, &QPushButton::clicked, this, [this] { OnChooseFilter(); });
}

void CReportFilterPage::Load(const ReportOptions& options) {
  m_pFileFilter->setText(QString::fromUtf8(options.FileFilter));
  m_pUserFilter->setText(QString::fromUtf8(options.OwnerFilter));
}

void CReportFilterPage::Store(ReportOptions& options) const {
  StoreText(options.FileFilter, m_pFileFilter->text());
  StoreText(options.OwnerFilter, m_pUserFilter->text());
}

void CReportFilterPage::OnChooseFilter() {
  CSelectReportDlg dialog(CSelectReportDlg::kUserFilter, QString::fromStdString(vn::LocalComputerName()), m_hNotifyWnd,
                          this);
  if (dialog.exec() == QDialog::Accepted) m_pUserFilter->setText(dialog.GetFilterValue());
}

// CDetailColumnsPage

CDetailColumnsPage::CDetailColumnsPage(QWidget* parent)
    : COptionPage(parent),
      m_pReadOnly(AttributeBox(QStringLiteral("Read Only"), this)),
      m_pArchive(AttributeBox(QStringLiteral("Archive"), this)),
      m_pHidden(AttributeBox(QStringLiteral("Hidden"), this)),
      m_pCompressed(AttributeBox(QStringLiteral("Compressed"), this)),
      m_pSystem(AttributeBox(QStringLiteral("System"), this)),
      m_pColumns(new QListWidget(this)),
      m_pClear(new QPushButton(QStringLiteral("Clear"), this)),
      m_pSet(new QPushButton(QStringLiteral("Set"), this)) {
  auto* attributes = new QGroupBox(QStringLiteral("Attributes"), this);
  auto* attributeLayout = new QVBoxLayout(attributes);
  for (QCheckBox* box : {m_pReadOnly, m_pArchive, m_pHidden, m_pCompressed, m_pSystem}) attributeLayout->addWidget(box);
  attributeLayout->addStretch();

  for (const QString& column : DetailColumnTexts()) {
    auto* item = new QListWidgetItem(column, m_pColumns);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
  }
  auto* columns = new QGroupBox(QStringLiteral("Detail Columns"), this);
  auto* columnLayout = new QVBoxLayout(columns);
  columnLayout->addWidget(m_pColumns);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pClear);
  buttons->addWidget(m_pSet);
  columnLayout->addLayout(buttons);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(attributes);
  layout->addWidget(columns, 1);
  connect(m_pClear, &QPushButton::clicked, this, [this] { CheckAll(false); });
  connect(m_pSet, &QPushButton::clicked, this, [this] { CheckAll(true); });
}

void CDetailColumnsPage::CheckAll(bool checked) {
  for (int i = 0; i < m_pColumns->count(); ++i) m_pColumns->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CDetailColumnsPage::Load(const ReportOptions& options) {
  const ReportCriterion& tests = options.Criteria[0];
  m_pReadOnly->setCheckState(StateFromTest(tests.ReadOnly));
  m_pArchive->setCheckState(StateFromTest(tests.Archive));
  m_pHidden->setCheckState(StateFromTest(tests.Hidden));
  m_pCompressed->setCheckState(StateFromTest(tests.Compress));
  m_pSystem->setCheckState(StateFromTest(tests.System));
  for (int i = 0; i < m_pColumns->count(); ++i)
    m_pColumns->item(i)->setCheckState(FieldShown(options.Fields, i) ? Qt::Checked : Qt::Unchecked);
}

void CDetailColumnsPage::Store(ReportOptions& options) const {
  ReportCriterion& tests = options.Criteria[0];
  tests.ReadOnly = TestFromState(m_pReadOnly->checkState());
  tests.Archive = TestFromState(m_pArchive->checkState());
  tests.Hidden = TestFromState(m_pHidden->checkState());
  tests.Compress = TestFromState(m_pCompressed->checkState());
  tests.System = TestFromState(m_pSystem->checkState());
  for (int i = 0; i < m_pColumns->count(); ++i)
    options.Fields = WithField(options.Fields, i, m_pColumns->item(i)->checkState() == Qt::Checked);
}

// CReportOutputPage

CReportOutputPage::CReportOutputPage(QWidget* parent)
    : COptionPage(parent),
      m_pRecords(LimitedEdit(kRecordCountMaxLength, this)),
      m_pBatch(LimitedEdit(kBatchCommandMaxLength, this)),
      m_pMail(new QPushButton(QStringLiteral("Mail To"), this)) {
  m_pRecords->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), m_pRecords));
  auto* groups = new QHBoxLayout;
  groups->addWidget(BoxGroup(QStringLiteral("Show Sizes In"), SizeOptionBits(), m_sizeBoxes, this));
  groups->addWidget(BoxGroup(QStringLiteral("Report Format"), FormatOptionBits(), m_formatBoxes, this));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Number of Records to Display (0=All):"), m_pRecords);
  form->addRow(QStringLiteral("Batch Command:"), m_pBatch);
  auto* mailRow = new QHBoxLayout;
  mailRow->addStretch();
  mailRow->addWidget(m_pMail);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addLayout(form);
  layout->addLayout(mailRow);
  layout->addStretch();
  connect(m_pMail, &QPushButton::clicked, this, [this] { OnMailTo(); });
}

void CReportOutputPage::Load(const ReportOptions& options) {
  LoadBits(m_sizeBoxes, SizeOptionBits(), options.Options);
  LoadBits(m_formatBoxes, FormatOptionBits(), options.Options);
  m_pRecords->setText(QString::number(options.RptLen));
  m_pBatch->setText(QString::fromUtf8(options.BatchCommand));
  m_mail = options.Mail;
}

void CReportOutputPage::Store(ReportOptions& options) const {
  StoreBits(m_sizeBoxes, SizeOptionBits(), options.Options);
  StoreBits(m_formatBoxes, FormatOptionBits(), options.Options);
  options.RptLen = RecordCountFromText(m_pRecords->text());
  StoreText(options.BatchCommand, m_pBatch->text());
  options.Mail = m_mail;
}

void CReportOutputPage::OnMailTo() {
  CMailReportDlg dialog(m_mail, this);
  if (dialog.exec() == QDialog::Accepted) m_mail = dialog.GetMailSettings();
}
