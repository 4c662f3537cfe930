#pragma once
// The browse grid: a table view over a CGridModel with rows of one height,
// whole-row selection remembered in the order the rows were selected, a zoom
// in percent that scales the font, rows and columns, display settings
// (gridlines, row and column headers, font, colours) and printing of the grid.
//
// The table view itself only ever holds the rows in view (a CGridWindow over
// the grid model), so nothing in the view or its row header grows with the
// grid's length: the vertical scroll bar counts grid rows and moves the
// window, and the row header numbers the rows of the window. The selection
// and the current row live in RowSelection(), over the grid model in grid
// rows; the table's own selection model shows the part of it in view. Clicks
// on cells and on the row header, drags, the navigation keys, Ctrl+A and the
// corner button act on RowSelection() the way a table view acts on its own.
//
// The owner hears of double-clicks, right clicks and keys through the hooks
// below (rows and columns as the grid counts them: row 0 is the column header
// line, columns from 1). Owned by its parent widget; user-interface thread only.

#include <QColor>
#include <QItemSelectionModel>
#include <QFont>
#include <QTableView>
#include <functional>
#include <memory>
#include <cstddef>
#include <vector>

#include "console/widgets/support/KSExport.h"

class CGridModel;
class CGridSource;
class CGridWindow;
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
  // The whole grid (row r = grid row r). The view's own model() is the
  // window of rows in view.
  CGridModel* Model() const { return m_model; }
  // The selection and the current cell, in indexes of Model().
  QItemSelectionModel* RowSelection() const { return m_rows; }
  // The first grid row in view; the current row (-1 when none); making a
  // row current as a click on it does (it alone selected).
  int TopRow() const;
  int CurrentRow() const;
  void SetCurrentRow(int row);
  // Scrolls so that `row` is in view (as scrollTo does for an index).
  void ShowRow(int row, ScrollHint hint = EnsureVisible);
  // Rows the viewport shows whole (at least 1).
  int VisibleRows() const;
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
  void selectAll() override;
  // Hides the table's own, which would clear only the rows in view.
  void clearSelection();

  // Indexes of Model() as well as of the window: a row out of view has none.
  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

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
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void updateGeometries() override;

 private:
  // Rows selected together, from `from` on to `to` (either way), in the
  // order they were selected; no two runs share a row. Memory follows the
  // selections made, not the rows selected: a select-all is one run.
  struct SelectedRun {
    int from;
    int to;
  };
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  // Changes made to the table's own selection model (by Qt's item view code)
  // become changes of RowSelection().
  void OnShownSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void OnShownCurrentChanged(const QModelIndex& current);
  // Puts the part of RowSelection() in view into the table's selection model.
  void ShowSelection();
  // The window starts at grid row `top` (kept so the last row can be at the bottom).
  void SetTop(int top);
  void SyncScrollBar();
  // Whole rows from the anchor row to `row`.
  QItemSelection RowRange(int from, int to) const;
  // Makes `target` current with a selection command as the item views give
  // it: with Current the range from the anchor row is replaced.
  void SelectTo(const QModelIndex& target, QItemSelectionModel::SelectionFlags command);
  bool MoveByKey(QKeyEvent* event);
  // The grid row shown at viewport height y, clamped into the window.
  int GridRowAt(int y) const;
  void OnRowHeaderPressed(int section);
  void OnRowHeaderEntered(int section);
  // Remembers rows first..last not already selected, as selected now.
  void AddSelectedRows(int first, int last);
  void AppendSelectedRun(int first, int last);
  void RemoveSelectedRows(int first, int last);
  void ApplyMetrics();
  QFont ZoomedFont() const;

  CGridModel* m_model;
  CGridWindow* m_window;
  QItemSelectionModel* m_rows;
  int m_anchorRow = -1;
  bool m_showing = false;     // ShowSelection is writing the table's selection
  bool m_settingBar = false;  // the scroll bar is being set, not moved by the user
  bool m_pressed = false;     // a left button press on a cell, until released
  bool m_pressedOnSelected = false;
  int m_pressedRow = -1;
  QItemSelectionModel::SelectionFlags m_headerDrag;
  GridSettings m_settings;
  int m_zoom = 100;
  int m_columnWidth = 100;
  std::vector<SelectedRun> m_selected;
  std::unique_ptr<QPrinter> m_printer;
};
