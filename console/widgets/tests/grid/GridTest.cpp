// The browse grid offscreen: the model asks its source for each row once and
// copies nothing else, zoom scales the grid, selection keeps its order, the
// display settings apply, and printing prints what it says.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <vector>

#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/grid/GridModel.h"
#include "console/widgets/grid/GridSettingsDlg.h"
#include "console/widgets/grid/MyGridView.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"

namespace {

// Rows "r<row>c<column>"; counts how often a row is asked for.
class CountingSource : public CGridSource {
 public:
  explicit CountingSource(int rows, int columns = 3) : m_rows(rows), m_columns(columns) {}
  int GridRowCount() const override { return m_rows; }
  int GridColumnCount() const override { return m_columns; }
  void GridRow(int row, std::vector<GridCell>& cells) override {
    ++calls;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      cells[c].value = QStringLiteral("r%1c%2").arg(row).arg(c + 1);
      cells[c].strikeOut = row % 2 == 1;
      cells[c].alignment = c == 1 ? Qt::AlignRight : Qt::AlignLeft;
    }
  }
  int calls = 0;

 private:
  int m_rows;
  int m_columns;
};

TEST(GridTest, TheModelAsksItsSourceOncePerRowAndPassesTheStyles) {
  {
    CGridModel checked;
    CountingSource small(50);
    checked.SetSource(&small);
    QAbstractItemModelTester tester(&checked, QAbstractItemModelTester::FailureReportingMode::Fatal);
    checked.Redraw();
    checked.RedrawRow(3);
    checked.SetSource(nullptr);
  }

  CGridModel model;
  CountingSource source(2'000'000);
  model.SetSource(&source);
  EXPECT_EQ(model.rowCount(), 2'000'000);
  EXPECT_EQ(model.columnCount(), 3);

  source.calls = 0;
  const QModelIndex cell = model.index(1'999'999, 1);
  EXPECT_EQ(model.data(cell).toString(), QStringLiteral("r1999999c2"));
  EXPECT_EQ(model.data(cell, Qt::TextAlignmentRole).toInt(), static_cast<int>(Qt::AlignRight));
  EXPECT_TRUE(model.data(cell, Qt::FontRole).value<QFont>().strikeOut());
  EXPECT_EQ(model.data(model.index(1'999'999, 2)).toString(), QStringLiteral("r1999999c3"));
  EXPECT_EQ(source.calls, 1);
  // A redraw asks again.
  model.Redraw();
  EXPECT_EQ(model.data(cell).toString(), QStringLiteral("r1999999c2"));
  EXPECT_EQ(source.calls, 2);
  // Columns count from 1; row 0 is the column header line and has no number.
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toInt(), 1);
  EXPECT_EQ(model.headerData(0, Qt::Vertical).toString(), QString());
  EXPECT_EQ(model.headerData(7, Qt::Vertical).toInt(), 7);
  model.SetSource(nullptr);
  EXPECT_EQ(model.rowCount(), 0);
}

TEST(GridTest, ZoomScalesFontRowsAndColumns) {
  CGridCtrl grid;
  CountingSource source(10);
  GridSettings settings = grid.Settings();
  settings.font.setPointSize(10);
  grid.ApplySettings(settings);
  grid.SetSource(&source);
  grid.SetDefaultColumnWidth(100);
  const int rowHeight = grid.verticalHeader()->defaultSectionSize();
  grid.SetZoom(200);
  EXPECT_EQ(grid.font().pointSize(), 20);
  EXPECT_EQ(grid.columnWidth(0), 200);
  EXPECT_GT(grid.verticalHeader()->defaultSectionSize(), rowHeight);
  EXPECT_EQ(grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  grid.SetZoom(100);
  EXPECT_EQ(grid.columnWidth(0), 100);
  EXPECT_EQ(grid.verticalHeader()->defaultSectionSize(), rowHeight);
}

TEST(GridTest, SelectedRowsComeInTheOrderTheyWereSelected) {
  CGridCtrl grid;
  CountingSource source(20);
  grid.SetSource(&source);
  grid.SelectRow(5, false);
  grid.SelectRow(2, true);
  grid.SelectRow(9, true);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{5, 2, 9}));
  grid.RowSelection()->select(grid.Model()->index(2, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  grid.SelectRow(2, true);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{5, 9, 2}));
  grid.SelectRow(7, false);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{7}));
  grid.ResetGrid();
  EXPECT_TRUE(grid.SelectedRows().empty());
}

// Selections of many rows at once (select-all, a shift-click, keys) are
// remembered without a record per row, and keep their order when parts of
// them are deselected.
TEST(GridTest, LongSelectionsKeepTheirOrderThroughDeselection) {
  constexpr int kRows = 2'000'000;
  CGridCtrl grid;
  CountingSource source(kRows);
  grid.SetSource(&source);
  CGridModel* model = grid.Model();
  auto firstRows = [&grid](std::size_t count) {
    std::vector<int> rows;
    grid.VisitSelectedRows([&](int row) {
      rows.push_back(row);
      return rows.size() < count;
    });
    return rows;
  };
  auto deselect = [&](int row) {
    grid.RowSelection()->select(model->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  };

  grid.selectAll();
  EXPECT_EQ(grid.SelectedRowCount(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(grid.LastSelectedRow(), kRows - 1);
  EXPECT_EQ(firstRows(3), (std::vector<int>{0, 1, 2}));
  deselect(1);
  deselect(1'000'000);
  grid.SelectRow(1'000'000, true);
  EXPECT_EQ(grid.SelectedRowCount(), static_cast<std::size_t>(kRows - 1));
  EXPECT_EQ(grid.LastSelectedRow(), 1'000'000);
  EXPECT_EQ(firstRows(3), (std::vector<int>{0, 2, 3}));
  const std::vector<int> all = grid.SelectedRows();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kRows - 1));
  EXPECT_EQ(all[999'998], 999'999);
  EXPECT_EQ(all[999'999], 1'000'001);
  EXPECT_EQ(all.back(), 1'000'000);

  // A shift-click range over rows partly selected adds the others after them.
  grid.SelectRow(10, false);
  grid.RowSelection()->select(QItemSelection(model->index(8, 0), model->index(12, 2)),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{10, 8, 9, 11, 12}));
  deselect(9);
  deselect(11);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{10, 8, 12}));

  // Shift+Up from a row selects upwards, one row at a time; Shift+Down takes
  // the rows back.
  grid.SetCurrentRow(50);
  for (int i = 0; i < 3; ++i) {
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::ShiftModifier);
    QApplication::sendEvent(&grid, &up);
  }
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{50, 49, 48, 47}));
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::ShiftModifier);
  QApplication::sendEvent(&grid, &down);
  EXPECT_EQ(grid.SelectedRows(), (std::vector<int>{50, 49, 48}));
  EXPECT_EQ(grid.LastSelectedRow(), 48);
}

TEST(GridTest, DisplaySettingsApplyThroughTheViewsCommand) {
  CMyGridView view;
  CountingSource source(5);
  view.GetGrid()->SetSource(&source);
  // OK with gridlines and row headers switched off and a new background.
  QTimer::singleShot(0, [] {
    auto* dlg = qobject_cast<CGridSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Display Settings"));
    dlg->GridLinesBox()->setChecked(false);
    dlg->RowHeadersBox()->setChecked(false);
    dlg->SetBackground(QColor(1, 2, 3));
    dlg->accept();
  });
  EXPECT_TRUE(view.OnCmdMsg(CGridView::ID_VIEW_PROPERTIES, CN_COMMAND, nullptr));
  CGridCtrl* grid = view.GetGrid();
  EXPECT_FALSE(grid->showGrid());
  EXPECT_TRUE(grid->verticalHeader()->isHidden());
  EXPECT_FALSE(grid->horizontalHeader()->isHidden());
  EXPECT_EQ(grid->model()->data(grid->model()->index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(1, 2, 3));

  // Cancel changes nothing.
  QTimer::singleShot(0, [] {
    auto* dlg = qobject_cast<CGridSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    dlg->GridLinesBox()->setChecked(true);
    dlg->reject();
  });
  view.OnCmdMsg(CGridView::ID_VIEW_PROPERTIES, CN_COMMAND, nullptr);
  EXPECT_FALSE(grid->showGrid());
}

TEST(GridTest, ZoomCommandsStopAtTheirBounds) {
  CMyGridView view;
  auto enabled = [&view](UINT id) {
    CCmdUI state(id);
    state.DoUpdate(&view, TRUE);
    return state.m_bEnabled;
  };
  int steps = 0;
  while (enabled(CGridView::ID_VIEW_ZOOMIN) && steps < 100) {
    view.OnCmdMsg(CGridView::ID_VIEW_ZOOMIN, CN_COMMAND, nullptr);
    ++steps;
  }
  EXPECT_EQ(view.GetGrid()->GetZoom(), 309);  // 100, 110, 121 ... 256, 281, 309
  EXPECT_TRUE(enabled(CGridView::ID_VIEW_ZOOMOUT));
  view.OnCmdMsg(CGridView::ID_VIEW_100, CN_COMMAND, nullptr);
  EXPECT_EQ(view.GetGrid()->GetZoom(), 100);
  while (enabled(CGridView::ID_VIEW_ZOOMOUT) && steps < 200) {
    view.OnCmdMsg(CGridView::ID_VIEW_ZOOMOUT, CN_COMMAND, nullptr);
    ++steps;
  }
  EXPECT_EQ(view.GetGrid()->GetZoom(), 40);  // 100, 90, 81 ... 49, 44, 40
  // Page setup belongs to the plain grid view.
  EXPECT_TRUE(view.OnCmdMsg(ID_FILE_PAGE_SETUP, CN_COMMAND_PROBE, nullptr));
}

TEST(GridTest, PrintsTheSelectionOrTheGridUpToItsBound) {
  QTemporaryDir dir;
  CGridCtrl grid;
  CountingSource source(CGridCtrl::kMaxPrintedRows + 500);
  grid.SetSource(&source);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath(QStringLiteral("grid.pdf")));

  const std::vector<int> whole = grid.RowsToPrint();
  EXPECT_EQ(whole.size(), static_cast<std::size_t>(CGridCtrl::kMaxPrintedRows));
  EXPECT_EQ(whole.back(), CGridCtrl::kMaxPrintedRows - 1);

  // A grid longer than a page goes on as many pages as it needs.
  CGridCtrl shorter;
  CountingSource rows(300);
  shorter.SetSource(&rows);
  EXPECT_GT(shorter.Print(&printer), 2);
  EXPECT_GT(QFileInfo(printer.outputFileName()).size(), 0);

  grid.SelectRow(9000, false);
  grid.SelectRow(3, true);
  grid.SelectRow(10200, true);
  EXPECT_EQ(grid.RowsToPrint(), (std::vector<int>{3, 9000, 10200}));
  printer.setOutputFileName(dir.filePath(QStringLiteral("selection.pdf")));
  EXPECT_EQ(grid.Print(&printer), 1);
}

}  // namespace
