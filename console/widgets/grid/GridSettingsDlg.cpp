#include "console/widgets/grid/GridSettingsDlg.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

CGridSettingsDlg::CGridSettingsDlg(const GridSettings& settings, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_gridLines(new QCheckBox(tr("Show &gridlines"), this)),
      m_rowHeaders(new QCheckBox(tr("Show &row headers"), this)),
      m_columnHeaders(new QCheckBox(tr("Show &column headers"), this)),
      m_font(new QPushButton(this)),
      m_text(new QPushButton(this)),
      m_background(new QPushButton(this)) {
  setWindowTitle(tr("Display Settings"));
  m_gridLines->setChecked(settings.gridLines);
  m_rowHeaders->setChecked(settings.rowHeaders);
  m_columnHeaders->setChecked(settings.columnHeaders);

  auto* show = new QGroupBox(tr("Show"), this);
  auto* showLayout = new QVBoxLayout(show);
  showLayout->addWidget(m_gridLines);
  showLayout->addWidget(m_rowHeaders);
  showLayout->addWidget(m_columnHeaders);

  auto* look = new QGroupBox(tr("Appearance"), this);
  auto* lookLayout = new QFormLayout(look);
  lookLayout->addRow(tr("&Font:"), m_font);
  lookLayout->addRow(tr("&Text colour:"), m_text);
  lookLayout->addRow(tr("&Background colour:"), m_background);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(m_font, &QPushButton::clicked, this, [this] {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, m_settings.font, this, tr("Font"));
    if (ok) SetFont(chosen);
  });
  connect(m_text, &QPushButton::clicked, this, [this] {
    const QColor chosen = QColorDialog::getColor(m_settings.textColor, this, tr("Text Colour"));
    if (chosen.isValid()) SetTextColor(chosen);
  });
  connect(m_background, &QPushButton::clicked, this, [this] {
    const QColor chosen = QColorDialog::getColor(m_settings.background, this, tr("Background Colour"));
    if (chosen.isValid()) SetBackground(chosen);
  });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(show);
  layout->addWidget(look);
  layout->addWidget(buttons);
  ShowChoices();
}

CGridSettingsDlg::~CGridSettingsDlg() = default;

GridSettings CGridSettingsDlg::Settings() const {
  GridSettings settings = m_settings;
  settings.gridLines = m_gridLines->isChecked();
  settings.rowHeaders = m_rowHeaders->isChecked();
  settings.columnHeaders = m_columnHeaders->isChecked();
  return settings;
}

void CGridSettingsDlg::SetFont(const QFont& font) {
  m_settings.font = font;
  ShowChoices();
}

void CGridSettingsDlg::SetTextColor(const QColor& color) {
  m_settings.textColor = color;
  ShowChoices();
}

void CGridSettingsDlg::SetBackground(const QColor& color) {
  m_settings.background = color;
  ShowChoices();
}

void CGridSettingsDlg::ShowChoices() {
  m_font->setText(QStringLiteral("%1, %2 pt").arg(m_settings.font.family()).arg(m_settings.font.pointSize()));
  auto swatch = [](QPushButton* button, const QColor& color) {
    button->setText(color.name(QColor::HexRgb).toUpper());
    button->setStyleSheet(QStringLiteral("background-color: %1").arg(color.name()));
  };
  swatch(m_text, m_settings.textColor);
  swatch(m_background, m_settings.background);
}
