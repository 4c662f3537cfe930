#pragma once
// What the report set editor's option pages share: the page base, which loads
// its controls from one report's options and stores them back, and the value
// field with spin buttons that the criteria pages use.
//
// The rules of each page (code mappings, shown defaults, which fields show)
// are in console/core/reports/OptionPages.h; the pages only move values
// between those rules and their widgets. User-interface thread only.

#include <QAbstractSpinBox>
#include <QWidget>

#include "console/core/reports/OptionPages.h"
#include "console/widgets/support/KSExport.h"

class QComboBox;

class KS_EXPORT COptionPage : public QWidget {
 public:
  explicit COptionPage(QWidget* parent = nullptr) : QWidget(parent) {}

  // Shows the values of `options`.
  virtual void Load(const vn::console::ReportOptions& options) = 0;
  // Writes the shown values into `options`; fields the page does not edit are
  // left as they are.
  virtual void Store(vn::console::ReportOptions& options) const = 0;
};

// A value field: digits as typed (up to the 39 a criterion value holds) with
// spin buttons that step the number within 0 to 32767. A value typed past the
// spin range is kept; stepping brings it back into the range.
class KS_EXPORT CValueSpin : public QAbstractSpinBox {
 public:
  explicit CValueSpin(QWidget* parent = nullptr);

  QString Text() const;
  void SetText(const QString& text);

  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 protected:
  StepEnabled stepEnabled() const override;
};

// Fills a combo box with the texts of a choice list.
void FillChoices(QComboBox* combo, std::span<const vn::console::CodeChoice> choices);
