#include "console/widgets/reports/CriteriaPages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace vn::console;

namespace {

// A criteria row: comparison, first value, "and", second value, unit.
QHBoxLayout* ValueRow(QWidget* comparison, QWidget* value1, QWidget* andLabel, QWidget* value2, QWidget* unit) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(comparison, 2);
  row->addWidget(value1, 1);
  row->addWidget(andLabel);
  row->addWidget(value2, 1);
  if (unit) row->addWidget(unit, 1);
  return row;
}

QGroupBox* Framed(const QString& title, QWidget* content, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(content);
  return box;
}

QLineEdit* PercentEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setValidator(new QIntValidator(0, 100, edit));
  edit->setMaxLength(3);
  return edit;
}

}  // namespace

// CValueCriterionGroup

CValueCriterionGroup::CValueCriterionGroup(std::span<const CodeChoice> comparisons, std::span<const CodeChoice> units,
                                           const char* emptyValue, QWidget* parent)
    : QWidget(parent),
      m_comparisons(comparisons),
      m_units(units),
      m_emptyValue(emptyValue),
      m_pComparison(new QComboBox(this)),
      m_pValue1(new CValueSpin(this)),
      m_pAnd(new QLabel(QStringLiteral("and"), this)),
      m_pValue2(new CValueSpin(this)) {
  if (!units.empty()) m_pUnit = new QComboBox(this);
  setLayout(ValueRow(m_pComparison, m_pValue1, m_pAnd, m_pValue2, m_pUnit));
  SetChoices(comparisons, units);
  connect(m_pComparison, &QComboBox::currentIndexChanged, this, [this] { UpdateFields(); });
}

void CValueCriterionGroup::SetChoices(std::span<const CodeChoice> comparisons, std::span<const CodeChoice> units) {
  m_comparisons = comparisons;
  m_units = units;
  const QSignalBlocker block(m_pComparison);
  FillChoices(m_pComparison, comparisons);
  if (m_pUnit) FillChoices(m_pUnit, units);
  UpdateFields();
}

void CValueCriterionGroup::Load(const ReportCriterion& criterion) {
  {
    const QSignalBlocker block(m_pComparison);
    m_pComparison->setCurrentIndex(ChoiceIndex(m_comparisons, criterion.Scope));
  }
  if (m_pUnit) m_pUnit->setCurrentIndex(ChoiceIndex(m_units, criterion.Measure));
  m_pValue1->SetText(ShownValue(criterion.Value1, m_emptyValue));
  m_pValue2->SetText(ShownValue(criterion.Value2, m_emptyValue));
  UpdateFields();
}

void CValueCriterionGroup::Store(ReportCriterion& criterion) const {
  criterion.Scope = ChoiceCode(m_comparisons, m_pComparison->currentIndex());
  if (m_pUnit) criterion.Measure = ChoiceCode(m_units, m_pUnit->currentIndex());
  StoreText(criterion.Value1, m_pValue1->Text());
  StoreText(criterion.Value2, m_pValue2->Text());
}

void CValueCriterionGroup::UpdateFields() {
  const ValueFields fields = FieldsForScope(ChoiceCode(m_comparisons, m_pComparison->currentIndex()));
  if (m_pUnit) m_pUnit->setVisible(fields != ValueFields::kNone);
  m_pValue1->setVisible(fields != ValueFields::kNone);
  m_pAnd->setVisible(fields == ValueFields::kBoth);
  m_pValue2->setVisible(fields == ValueFields::kBoth);
}

// CDateCriterionGroup

CDateCriterionGroup::CDateCriterionGroup(std::span<const CodeChoice> units, QWidget* parent)
    : QWidget(parent),
      m_units(units),
      m_today(QDate::currentDate()),
      m_pComparison(new QComboBox(this)),
      m_pUnit(new QComboBox(this)),
      m_pValue1(new CValueSpin(this)),
      m_pValue2(new CValueSpin(this)),
      m_pDate1(new QDateEdit(this)),
      m_pDate2(new QDateEdit(this)),
      m_pAnd(new QLabel(QStringLiteral("and"), this)) {
  FillChoices(m_pComparison, DateComparisons());
  FillChoices(m_pUnit, units);
  for (QDateEdit* date : {m_pDate1, m_pDate2}) {
    date->setCalendarPopup(true);
    date->setDate(m_today);
  }
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(m_pComparison, 2);
  row->addWidget(m_pValue1, 1);
  row->addWidget(m_pDate1, 1);
  row->addWidget(m_pAnd);
  row->addWidget(m_pValue2, 1);
  row->addWidget(m_pDate2, 1);
  row->addWidget(m_pUnit, 1);
  connect(m_pComparison, &QComboBox::currentIndexChanged, this, [this] { UpdateFields(); });
  connect(m_pUnit, &QComboBox::currentIndexChanged, this, [this] { UpdateFields(); });
  UpdateFields();
}

bool CDateCriterionGroup::ShowsDates() const { return ChoiceCode(m_units, m_pUnit->currentIndex()) == kMeasureDate; }

void CDateCriterionGroup::Load(const ReportCriterion& criterion) {
  const QSignalBlocker blockComparison(m_pComparison), blockUnit(m_pUnit);
  m_pComparison->setCurrentIndex(ChoiceIndex(DateComparisons(), criterion.Scope));
  m_pUnit->setCurrentIndex(ChoiceIndex(m_units, criterion.Measure));
  if (ShowsDates()) {
    m_pDate1->setDate(DateFromStored(criterion.Value1, m_today));
    m_pDate2->setDate(DateFromStored(criterion.Value2, m_today));
    m_pValue1->SetText(QString::fromLatin1(kDateEmptyValue1));
    m_pValue2->SetText(QString::fromLatin1(kDateEmptyValue2));
  } else {
    m_pValue1->SetText(ShownValue(criterion.Value1, kDateEmptyValue1));
    m_pValue2->SetText(ShownValue(criterion.Value2, kDateEmptyValue2));
    m_pDate1->setDate(m_today);
    m_pDate2->setDate(m_today);
  }
  UpdateFields();
}

void CDateCriterionGroup::Store(ReportCriterion& criterion) const {
  criterion.Scope = ChoiceCode(DateComparisons(), m_pComparison->currentIndex());
  criterion.Measure = ChoiceCode(m_units, m_pUnit->currentIndex());
  if (ShowsDates()) {
    StoreText(criterion.Value1, DateToStored(m_pDate1->date()));
    StoreText(criterion.Value2, DateToStored(m_pDate2->date()));
  } else {
    StoreText(criterion.Value1, m_pValue1->Text());
    StoreText(criterion.Value2, m_pValue2->Text());
  }
}

void CDateCriterionGroup::UpdateFields() {
  const bool both = FieldsForScope(ChoiceCode(DateComparisons(), m_pComparison->currentIndex())) == ValueFields::kBoth;
  const bool dates = ShowsDates();
  m_pValue1->setVisible(!dates);
  m_pDate1->setVisible(dates);
  m_pAnd->setVisible(both);
  m_pValue2->setVisible(both && !dates);
  m_pDate2->setVisible(both && dates);
}

// CDateCriteriaPage

CDateCriteriaPage::CDateCriteriaPage(QWidget* parent)
    : COptionPage(parent), m_pGroup(new CDateCriterionGroup(DateUnits(), this)) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Framed(QStringLiteral("Date Criteria"), m_pGroup, this));
  layout->addStretch();
}

void CDateCriteriaPage::Load(const ReportOptions& options) { m_pGroup->Load(options.Criteria[0]); }
void CDateCriteriaPage::Store(ReportOptions& options) const { m_pGroup->Store(options.Criteria[0]); }

// CDirectoryCriteriaPage

CDirectoryCriteriaPage::CDirectoryCriteriaPage(QWidget* parent)
    : COptionPage(parent),
      m_pGroup(new CValueCriterionGroup(DirectoryComparisons(), DirectoryUnits(), kDirectoryEmptyValue, this)),
      m_pAllLevels(new QCheckBox(QStringLiteral("All Levels"), this)),
      m_pLevels(new QLineEdit(this)) {
  m_pLevels->setValidator(new QIntValidator(0, 9999, m_pLevels));
  m_pLevels->setMaxLength(kValueMaxLength);
  auto* levels = new QWidget(this);
  auto* form = new QFormLayout(levels);
  form->addRow(m_pAllLevels);
  form->addRow(QStringLiteral("Number of Levels:"), m_pLevels);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Framed(QStringLiteral("Directory Size"), m_pGroup, this));
  layout->addWidget(Framed(QStringLiteral("Directory Levels"), levels, this));
  layout->addStretch();
  connect(m_pAllLevels, &QCheckBox::toggled, this, [this](bool checked) { OnAllLevels(checked); });
}

void CDirectoryCriteriaPage::OnAllLevels(bool checked) {
  if (checked) m_pLevels->setText(QString::fromLatin1(kDirectoryEmptyValue));
  m_pLevels->setEnabled(!checked);
}

void CDirectoryCriteriaPage::Load(const ReportOptions& options) {
  m_pGroup->Load(options.Criteria[0]);
  const QString levels = ShownValue(options.Criteria[1].Value1, kDirectoryEmptyValue);
  m_pLevels->setText(levels);
  // Zero levels is every level.
  const QSignalBlocker block(m_pAllLevels);
  m_pAllLevels->setChecked(levels.toInt() == 0);
  m_pLevels->setEnabled(!m_pAllLevels->isChecked());
}

void CDirectoryCriteriaPage::Store(ReportOptions& options) const {
  m_pGroup->Store(options.Criteria[0]);
  StoreText(options.Criteria[1].Value1, m_pLevels->text());
}

// CDuplicateCriteriaPage

CDuplicateCriteriaPage::CDuplicateCriteriaPage(QWidget* parent)
    : COptionPage(parent),
      m_pGroup(new CValueCriterionGroup(DuplicateComparisons(), {}, kDuplicateEmptyValue, this)),
      m_pExact(new QRadioButton(QStringLiteral("Exact Name Match"), this)),
      m_pClose(new QRadioButton(QStringLiteral("Close Name Match"), this)),
      m_pNamePercent(PercentEdit(this)),
      m_pExtensionPercent(PercentEdit(this)),
      m_pCompare(new QCheckBox(QStringLiteral("Compare Contents"), this)) {
  auto* match = new QWidget(this);
  auto* grid = new QGridLayout(match);
  grid->addWidget(m_pExact, 0, 0);
  grid->addWidget(m_pClose, 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Percent Match"), match), 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("File Name . Extension"), match), 1, 1, 1, 2);
  grid->addWidget(m_pNamePercent, 2, 1);
  grid->addWidget(m_pExtensionPercent, 2, 2);
  grid->addWidget(m_pCompare, 3, 0);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Framed(QStringLiteral("Number of Copies"), m_pGroup, this));
  layout->addWidget(Framed(QStringLiteral("File Name Match"), match, this));
  layout->addStretch();
  auto* buttons = new QButtonGroup(this);
  buttons->addButton(m_pExact);
  buttons->addButton(m_pClose);
  connect(m_pExact, &QRadioButton::toggled, this, [this] { UpdatePercents(); });
}

void CDuplicateCriteriaPage::UpdatePercents() {
  // An exact match is 100 percent of both; a close match lets them be typed.
  const bool exact = m_pExact->isChecked();
  if (exact) {
    m_pNamePercent->setText(QStringLiteral("100"));
    m_pExtensionPercent->setText(QStringLiteral("100"));
  }
  m_pNamePercent->setEnabled(!exact);
  m_pExtensionPercent->setEnabled(!exact);
}

void CDuplicateCriteriaPage::Load(const ReportOptions& options) {
  m_pGroup->Load(options.Criteria[0]);
  const DuplicatePercents percents = ReadDuplicatePercents(options);
  {
    const QSignalBlocker blockExact(m_pExact), blockClose(m_pClose);
    (percents.Exact() ? m_pExact : m_pClose)->setChecked(true);
  }
  m_pNamePercent->setText(QString::number(percents.name));
  m_pExtensionPercent->setText(QString::number(percents.extension));
  m_pNamePercent->setEnabled(!percents.Exact());
  m_pExtensionPercent->setEnabled(!percents.Exact());
  m_pCompare->setChecked(options.Criteria[0].Compare != 0);
}

void CDuplicateCriteriaPage::Store(ReportOptions& options) const {
  m_pGroup->Store(options.Criteria[0]);
  StoreDuplicatePercents(options, {m_pNamePercent->text().toInt(), m_pExtensionPercent->text().toInt()});
  options.Criteria[0].Compare = m_pCompare->isChecked() ? 1 : 0;
}

// CSizeCriteriaPage

CSizeCriteriaPage::CSizeCriteriaPage(QWidget* parent)
    : COptionPage(parent),
      m_pGroup(new CValueCriterionGroup(SizeComparisons(SizeForm::kPlain), SizeUnits(SizeForm::kPlain), kSizeEmptyValue,
                                        this)) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Framed(QStringLiteral("Size Criteria"), m_pGroup, this));
  layout->addStretch();
  m_pGroup->Value1()->SetText(QString::number(kSizeSpinStart1));
  m_pGroup->Value2()->SetText(QString::number(kSizeSpinStart2));
}

void CSizeCriteriaPage::SetForm(SizeForm form) {
  if (form == m_form) return;
  m_form = form;
  m_pGroup->SetChoices(SizeComparisons(form), SizeUnits(form));
}

void CSizeCriteriaPage::Load(const ReportOptions& options) { m_pGroup->Load(options.Criteria[0]); }
void CSizeCriteriaPage::Store(ReportOptions& options) const { m_pGroup->Store(options.Criteria[0]); }

// CWastedSpaceCriteriaPage

CWastedSpaceCriteriaPage::CWastedSpaceCriteriaPage(QWidget* parent)
    : COptionPage(parent),
      m_pRevision(new CDateCriterionGroup(RevisionDateUnits(), this)),
      m_pAccess(new CDateCriterionGroup(DateUnits(), this)),
      m_pSize(new CValueCriterionGroup(WastedSizeComparisons(), WastedSizeUnits(), kWastedSizeEmptyValue, this)),
      m_pDuplicate(new CValueCriterionGroup(WastedDuplicateComparisons(), {}, kDuplicateEmptyValue, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Framed(QStringLiteral("Revision Date Criteria"), m_pRevision, this));
  layout->addWidget(Framed(QStringLiteral("Files Accessed Criteria"), m_pAccess, this));
  layout->addWidget(Framed(QStringLiteral("Files By Size Criteria"), m_pSize, this));
  layout->addWidget(Framed(QStringLiteral("Duplicate Files"), m_pDuplicate, this));
  layout->addStretch();
}

void CWastedSpaceCriteriaPage::Load(const ReportOptions& options) {
  m_pRevision->Load(options.Criteria[kWastedRevisionSlot]);
  m_pAccess->Load(options.Criteria[kWastedAccessSlot]);
  m_pSize->Load(options.Criteria[kWastedSizeSlot]);
  m_pDuplicate->Load(options.Criteria[kWastedDuplicateSlot]);
}

void CWastedSpaceCriteriaPage::Store(ReportOptions& options) const {
  m_pRevision->Store(options.Criteria[kWastedRevisionSlot]);
  m_pAccess->Store(options.Criteria[kWastedAccessSlot]);
  m_pSize->Store(options.Criteria[kWastedSizeSlot]);
  m_pDuplicate->Store(options.Criteria[kWastedDuplicateSlot]);
}
