#include "console/widgets/reports/OptionPage.h"

#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

using namespace vn::console;

CValueSpin::CValueSpin(QWidget* parent) : QAbstractSpinBox(parent) {
  lineEdit()->setMaxLength(kValueMaxLength);
  setAccelerated(true);
}

QString CValueSpin::Text() const { return lineEdit()->text(); }

void CValueSpin::SetText(const QString& text) { lineEdit()->setText(text); }

void CValueSpin::stepBy(int steps) {
  bool ok = false;
  long long value = Text().toLongLong(&ok);
  if (!ok) value = kSpinMinimum;
  value = std::clamp<long long>(value + steps, kSpinMinimum, kSpinMaximum);
  SetText(QString::number(value));
  selectAll();
}

QValidator::State CValueSpin::validate(QString& input, int& /*pos*/) const {
  for (const QChar c : input) {
    if (!c.isDigit()) return QValidator::Invalid;
  }
  return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled CValueSpin::stepEnabled() const {
  bool ok = false;
  const long long value = Text().toLongLong(&ok);
  if (!ok) return StepUpEnabled;
  StepEnabled enabled = StepNone;
  if (value < kSpinMaximum) enabled |= StepUpEnabled;
  if (value > kSpinMinimum) enabled |= StepDownEnabled;
  return enabled;
}

void FillChoices(QComboBox* combo, std::span<const CodeChoice> choices) {
  combo->clear();
  combo->addItems(ChoiceTexts(choices));
}
