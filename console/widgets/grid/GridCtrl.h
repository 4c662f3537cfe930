#pragma once
// The browse grid: a table view over a CGridModel with rows of one height,
// whole-row selection remembered in the order the rows were selected, a zoom
// in percent that scales the font, rows and columns, display settings
// (gridlines, row and column headers, font, colours) and printing of the grid.
//
// The owner hears of double-clicks, right clicks and keys through the hooks
// below (rows and columns as the grid counts them: row 0 is the column header
// line, columns from 1). Owned by its parent widget; user-interface thread only.

#include <QColor>
#include <QFont>
#include <QTableView>
#include <functional>
#include <memory>
#include <cstddef>
#include <vector>

#include "console/widgets/support/KSExport.h"

class CGridModel;
class CGridSource;
class QPainter;
class QPrinter;

// What the display-settings dialog changes.
struct GridSettings {
  bool gridLines = true;
  bool rowHeaders = true;
  bool columnHeaders = true;
  QFont font;            // at 100 percent
  QColor textColor;      // cell text
  QColor background;     // the cells' standard background
};

class KS_EXPORT CGridCtrl : public QTableView {
  Q_OBJECT

 public:
  // Printing a whole grid stops after this many rows (a selection prints whole).
  static constexpr int kMaxPrintedRows = 10000;

  explicit CGridCtrl(QWidget* parent = nullptr);
  ~CGridCtrl() override;

  void SetSource(CGridSource* source);
  CGridModel* Model() const { return m_model; }
  // Rows or columns changed; cells changed; one row's cells changed.
  void ResetGrid();
  void Redraw();
  void RedrawRow(int row);

  int GetZoom() const { return m_zoom; }
  void SetZoom(int percent);

  const GridSettings& Settings() const { return m_settings; }
  void ApplySettings(const GridSettings& settings);
  // The width of an average character of the grid's font at 100 percent.
  int CharWidth() const;
  // Width of every column at 100 percent (zoom scales it).
  void SetDefaultColumnWidth(int pixels);
  int DefaultColumnWidth() const { return m_columnWidth; }

  // The selected rows, whole rows, in the order they were selected (rows
  // selected together, as by a shift-click or select-all, in ascending order).
  std::vector<int> SelectedRows() const;
  // The same without listing them: how many, the one selected last (-1 when
  // none), and each in order until `visit` answers false.
  std::size_t SelectedRowCount() const;
  int LastSelectedRow() const;
  void VisitSelectedRows(const std::function<bool(int row)>& visit) const;
  void SelectRow(int row, bool add);

  // The rows a print job prints: the selection when more than one row is
  // selected, else the whole grid up to kMaxPrintedRows.
  std::vector<int> RowsToPrint() const;
  // Prints the grid on `printer`: the rows above, columns scaled to the page
  // width, as many pages as they need. Returns the number of pages.
  int Print(QPrinter* printer);
  QPrinter* Printer();

  std::function<void(int row, int column)> onDoubleClick;
  std::function<void(int row, int column, const QPoint& globalPos)> onRightClick;
  // Returns true when it took the key.
  std::function<bool(QKeyEvent* event)> onKey;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Rows selected together, from `from` on to `to` (either way), in the
  // order they were selected; no two runs share a row. Memory follows the
  // selections made, not the rows selected: a select-all is one run.
  struct SelectedRun {
    int from;
    int to;
  };
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  // Remembers rows first..last not already selected, as selected now.
  void AddSelectedRows(int first, int last);
  void AppendSelectedRun(int first, int last);
  void RemoveSelectedRows(int first, int last);
  void ApplyMetrics();
  QFont ZoomedFont() const;

  CGridModel* m_model;
  GridSettings m_settings;
  int m_zoom = 100;
  int m_columnWidth = 100;
  std::vector<SelectedRun> m_selected;
  std::unique_ptr<QPrinter> m_printer;
};
