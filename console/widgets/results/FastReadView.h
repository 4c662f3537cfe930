#pragma once
// The view of a result window: the report heading and, when the report has
// totals, the totals band, drawn above a browse grid that shows the result's
// lines as rows (row 0 is the column header line, column 1 the record kind).
// The grid asks for cells as it draws them; the view reads them from the
// document's data manager, so nothing is copied and a result of any length
// shows at once. Rows from kMaxShownRow on show no value.
//
// Commands: the grid's zoom and display settings (CGridView); sort by a
// column on a double-click of the header row (not for custom reports); a
// context menu on data rows; Delete (33314, also the Delete key), Copy to
// (57634) and Move to (33328) of the files the selected rows name, allowed
// only on a run's result (FilesOnly); Graph (33335, 33337) for the summaries
// that can be charted (report kinds 4, 7, 11, 15): it writes a chart data
// file of the rows shown and opens a graph window on it.
//
// Colours: profile "VNReport" / "BGCOLOR_STANDARD" (cells, heading band) and
// "BGCOLOR_TOTAL" (totals band), colour values with red in the low byte, read
// at the first update and written back at once; a background chosen in the
// display settings is written there too.
//
// Owned by its frame; user-interface thread only.

#include <QColor>
#include <string>
#include <vector>

#include "console/widgets/grid/GridModel.h"
#include "console/widgets/grid/GridView.h"
#include "console/widgets/support/KSExport.h"

class CFastReadDoc;
class QMenu;

namespace vn::console {
class CFXDataManager;
}

class KS_EXPORT CFastReadView : public CGridView, public CGridSource {
  DECLARE_DYNCREATE(CFastReadView)

 public:
  enum : UINT {
    ID_KS_DELETE = 33314,
    ID_EDIT_COPY = 57634,
    ID_MOVE_TO = 33328,
    ID_GRAPH = 33335,
    ID_GRAPH_POPUP = 33337,
    ID_EDIT_FIND = 57636,
  };
  static constexpr int kMaxShownRow = 159964;
  static constexpr unsigned kDefaultStandardColor = 0xE6FFFF;
  static constexpr unsigned kDefaultTotalColor = 0x00FF00;

  CFastReadView();
  ~CFastReadView() override;

  CFastReadDoc* GetDocument() const;
  vn::console::CFXDataManager* GetDataManager() const { return m_pDataManager; }

  void OnInitialUpdate() override;
  void OnDraw(QPainter* pDC) override;

  // CGridSource: the result's rows, read from the data manager.
  int GridRowCount() const override;
  int GridColumnCount() const override;
  void GridRow(int row, std::vector<GridCell>& cells) override;

  // The displayed value of a cell (quotes removed, numbers formatted).
  std::string CellText(int row, int column) const;

  // Double-click at (row, column): sorts by the column when row is 0.
  void OnLButtonDblClkRowCol(int row, int column);
  // The context menu of a data row (null for the header row). Built with its
  // entries' states; the caller shows it.
  std::unique_ptr<QMenu> CreateContextMenu(int row);

  // Whether Delete, Copy to and Move to may run now.
  bool FilesOnly() const;
  // Writes a new chart data file ("Gra<hex>.tmp" in the temporary directory)
  // and opens it in a graph window; nothing happens, silently, when either
  // fails.
  void OnGraph();
  // Writes the chart data file of the shown result to `fileName`; non-zero
  // when a file was written.
  [[nodiscard]] int SaveGraphDataToFile(const std::string& fileName) const;
  void OnKsDelete();
  // Marks a data row whose file is gone and redraws it (Delete does this for
  // every row whose file it removed).
  void MarkRowDeleted(int row);
  void OnEditCopy();
  void OnMoveTo();
  // Asks for the destination folder and copies (move = 0) or moves the files.
  void ProcessFiles(int move);
  // Copies or moves the selected rows' files to `directory` (a drive or share
  // path). 1 when all went well, 0 after the first failure (shown).
  [[nodiscard]] int CopyFileTo(const char* directory, int move);

  QColor StandardColor() const { return m_standardColor; }
  QColor TotalColor() const { return m_totalColor; }
  int HeadingHeight() const { return m_nHeadingHeight; }
  int TotalsHeight() const { return m_nTotalsHeight; }

 protected:
  int GridTop() const override;
  // A background chosen in the display settings becomes the standard colour
  // of every result window (written to the profile).
  void OnGridSettingsChanged() override;

 private:
  void OnUpdateFileCommand(CCmdUI* pCmdUI);
  void OnUpdateGraph(CCmdUI* pCmdUI);
  bool ProcessKeys(QKeyEvent* event);
  void OnRButtonClickedRowCol(int row, int column, const QPoint& globalPos);
  void MeasureBands();
  // The selected rows other than the header line whose files are still there.
  std::vector<int> RowsToProcess() const;

  vn::console::CFXDataManager* m_pDataManager = nullptr;
  int m_nHeadingHeight = 0;
  int m_nTotalsHeight = 0;
  QColor m_standardColor;
  QColor m_totalColor;
  std::vector<std::string> m_headerCells;  // row 0 as shown, column 1 first
};
