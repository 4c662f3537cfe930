#pragma once
// The browse grid's model: a table whose every cell is asked of its owner (a
// CGridSource) when the view draws it. Nothing is copied but the cells of the
// one row drawn last, so a source of any length shows at once.
//
// Rows and columns: model row r is grid row r, row 0 being the source's
// column header line; model column c is grid column c + 1 (grid columns count
// from 1). Owned by its CGridCtrl; the source must outlive it or be detached
// (SetSource(nullptr)). User-interface thread only.

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QString>
#include <vector>

#include "console/widgets/support/KSExport.h"

// One cell as the source describes it.
struct GridCell {
  QString value;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
  QColor textColor;   // invalid: the grid's text colour
  QColor background;  // invalid: the grid's standard background
  bool bold = false;
  bool strikeOut = false;
};

class KS_EXPORT CGridSource {
 public:
  virtual ~CGridSource();
  // Rows including row 0, the column header line.
  virtual int GridRowCount() const = 0;
  virtual int GridColumnCount() const = 0;
  // Fills cells[0..GridColumnCount()) for grid row `row`: cells[0] is column 1.
  // The vector comes sized and holding default cells.
  virtual void GridRow(int row, std::vector<GridCell>& cells) = 0;
};

class KS_EXPORT CGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit CGridModel(QObject* parent = nullptr);
  ~CGridModel() override;

  void SetSource(CGridSource* source);
  CGridSource* Source() const { return m_source; }
  // The font cells are drawn in; bold and strike-out cells derive from it.
  void SetFont(const QFont& font);
  void SetColors(const QColor& text, const QColor& background);

  // The source's rows or columns changed: the view starts over.
  void Reset();
  // The source's cells changed: everything is asked again.
  void Redraw();
  // Row `row`'s cells changed.
  void RedrawRow(int row);

  // The cells of a row as the source gives them (the cache of the last row).
  const std::vector<GridCell>& Row(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  CGridSource* m_source = nullptr;
  QFont m_font;
  QColor m_text;
  QColor m_background;
  mutable int m_cachedRow = -1;
  mutable std::vector<GridCell> m_cells;
};
