#pragma once
// "Display Settings": the grid's gridlines, row and column headers, font and
// colours. Starts from a grid's settings; Settings() holds what the user chose
// (the caller applies it when the dialog is accepted). User-interface thread only.

#include <QDialog>

#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/support/KSExport.h"

class QCheckBox;
class QPushButton;

class KS_EXPORT CGridSettingsDlg : public QDialog {
  Q_OBJECT

 public:
  // The dialog's resource id; its help context is 0x20000 + the id.
  static constexpr unsigned kIDD = 23011;

  explicit CGridSettingsDlg(const GridSettings& settings, QWidget* parent = nullptr);
  ~CGridSettingsDlg() override;

  GridSettings Settings() const;

  QCheckBox* GridLinesBox() const { return m_gridLines; }
  QCheckBox* RowHeadersBox() const { return m_rowHeaders; }
  QCheckBox* ColumnHeadersBox() const { return m_columnHeaders; }
  // What the font and colour buttons set, for callers that choose without the
  // pickers (the buttons open QFontDialog / QColorDialog).
  void SetFont(const QFont& font);
  void SetTextColor(const QColor& color);
  void SetBackground(const QColor& color);

 private:
  void ShowChoices();

  GridSettings m_settings;
  QCheckBox* m_gridLines;
  QCheckBox* m_rowHeaders;
  QCheckBox* m_columnHeaders;
  QPushButton* m_font;
  QPushButton* m_text;
  QPushButton* m_background;
};
