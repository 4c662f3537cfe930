#pragma once
// The "Setting" pages of the report set editor: the criteria of one report.
//
//  - CDateCriteriaPage (419): files by access, revision or creation date — a
//    comparison, a unit (days, months, years or a calendar date) and one or
//    two values, in criterion slot Value0.
//  - CDirectoryCriteriaPage (421): Space By Directory — a size comparison in
//    Value0 and the number of directory levels in Value1.Value1.
//  - CDuplicateCriteriaPage (422): Duplicate Files — a count comparison, the
//    percent match of name and extension, "Compare Contents".
//  - CSizeCriteriaPage (426): quota, share and file size reports, in the form
//    of the report.
//  - CWastedSpaceCriteriaPage (425): four groups in slots Value0 to Value3.
//
// The two criterion groups below are the pieces these pages are made of.
// User-interface thread only.

#include <QDate>
#include <QWidget>
#include <span>

#include "console/widgets/reports/OptionPage.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QRadioButton;

// A comparison with an optional unit and two values ("and" between them). The
// comparison decides what shows: "All ..." nothing more, larger or smaller the
// unit and the first value, between both values and "and". Empty stored
// values show as the group's default.
class KS_EXPORT CValueCriterionGroup : public QWidget {
 public:
  // `units` may be empty: the group then has no unit combo and keeps Measure.
  CValueCriterionGroup(std::span<const vn::console::CodeChoice> comparisons,
                       std::span<const vn::console::CodeChoice> units, const char* emptyValue,
                       QWidget* parent = nullptr);

  // Offers other comparisons and units (the size page's forms).
  void SetChoices(std::span<const vn::console::CodeChoice> comparisons, std::span<const vn::console::CodeChoice> units);

  void Load(const vn::console::ReportCriterion& criterion);
  void Store(vn::console::ReportCriterion& criterion) const;

  QComboBox* ComparisonCombo() const { return m_pComparison; }
  QComboBox* UnitCombo() const { return m_pUnit; }
  CValueSpin* Value1() const { return m_pValue1; }
  CValueSpin* Value2() const { return m_pValue2; }
  QLabel* AndLabel() const { return m_pAnd; }

 private:
  void UpdateFields();

  std::span<const vn::console::CodeChoice> m_comparisons;
  std::span<const vn::console::CodeChoice> m_units;
  const char* m_emptyValue;
  QComboBox* m_pComparison;
  QComboBox* m_pUnit = nullptr;
  CValueSpin* m_pValue1;
  QLabel* m_pAnd;
  CValueSpin* m_pValue2;
};

// A date comparison: "Since (<=)", "Before (>=)" or "Between", a unit, and two
// values that are numbers of the unit, or calendar dates for the "Date" unit
// (an empty stored date shows today).
class KS_EXPORT CDateCriterionGroup : public QWidget {
 public:
  CDateCriterionGroup(std::span<const vn::console::CodeChoice> units, QWidget* parent = nullptr);

  void Load(const vn::console::ReportCriterion& criterion);
  void Store(vn::console::ReportCriterion& criterion) const;
  // The day an empty date shows; today unless a test says otherwise.
  void SetToday(const QDate& today) { m_today = today; }

  QComboBox* ComparisonCombo() const { return m_pComparison; }
  QComboBox* UnitCombo() const { return m_pUnit; }
  CValueSpin* Value1() const { return m_pValue1; }
  CValueSpin* Value2() const { return m_pValue2; }
  QDateEdit* Date1() const { return m_pDate1; }
  QDateEdit* Date2() const { return m_pDate2; }
  QLabel* AndLabel() const { return m_pAnd; }
  bool ShowsDates() const;

 private:
  void UpdateFields();

  std::span<const vn::console::CodeChoice> m_units;
  QDate m_today;
  QComboBox* m_pComparison;
  QComboBox* m_pUnit;
  CValueSpin* m_pValue1;
  CValueSpin* m_pValue2;
  QDateEdit* m_pDate1;
  QDateEdit* m_pDate2;
  QLabel* m_pAnd;
};

class KS_EXPORT CDateCriteriaPage : public COptionPage {
 public:
  explicit CDateCriteriaPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;
  CDateCriterionGroup* Group() const { return m_pGroup; }

 private:
  CDateCriterionGroup* m_pGroup;
};

class KS_EXPORT CDirectoryCriteriaPage : public COptionPage {
 public:
  explicit CDirectoryCriteriaPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  CValueCriterionGroup* Group() const { return m_pGroup; }
  QCheckBox* AllLevels() const { return m_pAllLevels; }
  QLineEdit* Levels() const { return m_pLevels; }

 private:
  void OnAllLevels(bool checked);

  CValueCriterionGroup* m_pGroup;
  QCheckBox* m_pAllLevels;
  QLineEdit* m_pLevels;
};

class KS_EXPORT CDuplicateCriteriaPage : public COptionPage {
 public:
  explicit CDuplicateCriteriaPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  CValueCriterionGroup* Group() const { return m_pGroup; }
  QRadioButton* ExactMatch() const { return m_pExact; }
  QRadioButton* CloseMatch() const { return m_pClose; }
  QLineEdit* NamePercent() const { return m_pNamePercent; }
  QLineEdit* ExtensionPercent() const { return m_pExtensionPercent; }
  QCheckBox* CompareContents() const { return m_pCompare; }

 private:
  void UpdatePercents();

  CValueCriterionGroup* m_pGroup;
  QRadioButton* m_pExact;
  QRadioButton* m_pClose;
  QLineEdit* m_pNamePercent;
  QLineEdit* m_pExtensionPercent;
  QCheckBox* m_pCompare;
};

class KS_EXPORT CSizeCriteriaPage : public COptionPage {
 public:
  explicit CSizeCriteriaPage(QWidget* parent = nullptr);
  // The form follows the report shown; the editor sets it before Load.
  void SetForm(vn::console::SizeForm form);
  vn::console::SizeForm Form() const { return m_form; }
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;
  CValueCriterionGroup* Group() const { return m_pGroup; }

 private:
  vn::console::SizeForm m_form = vn::console::SizeForm::kPlain;
  CValueCriterionGroup* m_pGroup;
};

class KS_EXPORT CWastedSpaceCriteriaPage : public COptionPage {
 public:
  explicit CWastedSpaceCriteriaPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  CDateCriterionGroup* RevisionGroup() const { return m_pRevision; }
  CDateCriterionGroup* AccessGroup() const { return m_pAccess; }
  CValueCriterionGroup* SizeGroup() const { return m_pSize; }
  CValueCriterionGroup* DuplicateGroup() const { return m_pDuplicate; }

 private:
  CDateCriterionGroup* m_pRevision;
  CDateCriterionGroup* m_pAccess;
  CValueCriterionGroup* m_pSize;
  CValueCriterionGroup* m_pDuplicate;
};
