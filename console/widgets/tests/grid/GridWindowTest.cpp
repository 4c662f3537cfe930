// The browse grid on ten million rows, offscreen, as a user drives it: the
// table view holds only the rows in view, the scroll bar and the keys reach
// every row, and clicks, drags and the row header select grid rows that stay
// selected while they are scrolled out of view.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>
#include <vector>

#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/grid/GridModel.h"

namespace {

constexpr int kRows = 10'000'000;

// Cells "r<row>c<column>".
class LongSource : public CGridSource {
 public:
  int GridRowCount() const override { return kRows; }
  int GridColumnCount() const override { return 3; }
  void GridRow(int row, std::vector<GridCell>& cells) override {
    for (std::size_t c = 0; c < cells.size(); ++c) cells[c].value = QStringLiteral("r%1c%2").arg(row).arg(c + 1);
  }
};

class GridWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_grid.resize(500, 400);
    m_grid.SetSource(&m_source);
    m_grid.show();
    QApplication::processEvents();
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&m_grid, &press);
  }
  // The centre of grid row `row`'s first cell, which must be in view.
  QPoint CellCentre(int row) const { return m_grid.visualRect(m_grid.Model()->index(row, 0)).center(); }
  void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, modifiers, CellCentre(row));
  }
  // What the table view shows in its first row, as the user reads it.
  QString FirstShown() const { return m_grid.model()->data(m_grid.model()->index(0, 0)).toString(); }
  // The window's first row at the top of the viewport: the table itself never scrolls.
  int FirstShownTop() const { return m_grid.visualRect(m_grid.model()->index(0, 0)).top(); }
  int ShownSelectedRows() const { return static_cast<int>(m_grid.selectionModel()->selectedRows().size()); }

  LongSource m_source;
  CGridCtrl m_grid;
};

TEST_F(GridWindowTest, TheViewHoldsTheRowsInViewAndReachesEveryRow) {
  QAbstractItemModelTester tester(m_grid.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  const int visible = m_grid.VisibleRows();
  ASSERT_GT(visible, 5);
  EXPECT_EQ(m_grid.Model()->rowCount(), kRows);
  EXPECT_LE(m_grid.model()->rowCount(), visible + 1);
  EXPECT_EQ(m_grid.verticalHeader()->count(), m_grid.model()->rowCount());
  EXPECT_EQ(m_grid.verticalScrollBar()->maximum(), kRows - visible);

  // Row numbers: the header line has none, then the grid rows' own.
  EXPECT_EQ(m_grid.model()->headerData(0, Qt::Vertical).toString(), QString());
  EXPECT_EQ(m_grid.model()->headerData(3, Qt::Vertical).toInt(), 3);

  // Ctrl+End: the last row current, whole at the bottom, numbered.
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(m_grid.CurrentRow(), kRows - 1);
  EXPECT_EQ(m_grid.TopRow(), kRows - visible);
  EXPECT_TRUE(m_grid.viewport()->rect().contains(m_grid.visualRect(m_grid.Model()->index(kRows - 1, 2))));
  EXPECT_EQ(m_grid.verticalScrollBar()->value(), kRows - visible);
  EXPECT_EQ(m_grid.model()->headerData(visible - 1, Qt::Vertical).toInt(), kRows - 1);
  EXPECT_TRUE(m_grid.SelectedRows().empty()) << "with Ctrl the keys move without selecting";
  EXPECT_EQ(FirstShownTop(), 0);

  // The scroll bar moves the rows shown; the wheel too.
  m_grid.verticalScrollBar()->setValue(5'000'000);
  EXPECT_EQ(m_grid.TopRow(), 5'000'000);
  EXPECT_EQ(FirstShown(), QStringLiteral("r5000000c1"));
  EXPECT_EQ(FirstShownTop(), 0);
  EXPECT_FALSE(m_grid.visualRect(m_grid.Model()->index(kRows - 1, 0)).isValid()) << "out of view";
  QWheelEvent wheel(QPointF(50, 50), m_grid.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_grid.viewport(), &wheel);
  EXPECT_GT(m_grid.TopRow(), 5'000'000);

  // Down from the last row shown scrolls by one; Page Up by a screen.
  m_grid.SetCurrentRow(5'000'000);
  const int top = m_grid.TopRow();
  for (int i = 0; i < visible; ++i) Key(Qt::Key_Down);
  EXPECT_EQ(m_grid.CurrentRow(), 5'000'000 + visible);
  EXPECT_EQ(m_grid.TopRow(), top + 1);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(m_grid.CurrentRow(), 5'000'000);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(m_grid.TopRow(), 0);
  EXPECT_EQ(FirstShown(), QStringLiteral("r0c1"));

  // A smaller window takes fewer rows; zoom keeps the last row reachable.
  m_grid.resize(500, 200);
  QApplication::processEvents();
  EXPECT_LE(m_grid.model()->rowCount(), m_grid.VisibleRows() + 1);
  EXPECT_EQ(FirstShownTop(), 0);
  m_grid.SetZoom(200);
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(FirstShownTop(), 0);
  EXPECT_TRUE(m_grid.viewport()->rect().contains(m_grid.visualRect(m_grid.Model()->index(kRows - 1, 0))));
}

TEST_F(GridWindowTest, SelectionsAreOfGridRowsAndSurviveScrolling) {
  const int visible = m_grid.VisibleRows();
  // A click, then Shift+Page Down twice: a run from the clicked row on.
  Click(2);
  Key(Qt::Key_PageDown, Qt::ShiftModifier);
  Key(Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(m_grid.SelectedRowCount(), static_cast<std::size_t>(2 * visible + 1));
  EXPECT_EQ(m_grid.SelectedRows().front(), 2);
  EXPECT_EQ(m_grid.LastSelectedRow(), 2 + 2 * visible);

  // Out of view and back: the table shows the rows as selected again.
  m_grid.ShowRow(9'000'000, QAbstractItemView::PositionAtTop);
  EXPECT_EQ(ShownSelectedRows(), 0);
  EXPECT_EQ(m_grid.SelectedRowCount(), static_cast<std::size_t>(2 * visible + 1));
  m_grid.ShowRow(0, QAbstractItemView::PositionAtTop);
  EXPECT_EQ(ShownSelectedRows(), visible - 2 + 1);
  EXPECT_EQ(FirstShownTop(), 0);

  // A shift-click far below extends from the clicked row; a ctrl-click takes
  // one row out.
  Click(10);
  m_grid.ShowRow(1'000'000, QAbstractItemView::PositionAtTop);
  Click(1'000'003, Qt::ShiftModifier);
  EXPECT_EQ(m_grid.SelectedRowCount(), static_cast<std::size_t>(1'000'003 - 10 + 1));
  EXPECT_EQ(m_grid.SelectedRows().front(), 10);
  Click(1'000'001, Qt::ControlModifier);
  EXPECT_EQ(m_grid.SelectedRowCount(), static_cast<std::size_t>(1'000'003 - 10));
  EXPECT_FALSE(m_grid.RowSelection()->isRowSelected(1'000'001));

  // Dragging from a row down to another selects the rows between.
  const QPoint from = CellCentre(1'000'001);
  const QPoint to = CellCentre(1'000'004);
  QTest::mousePress(m_grid.viewport(), Qt::LeftButton, Qt::NoModifier, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(to), m_grid.viewport()->mapToGlobal(QPointF(to)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_grid.viewport(), &move);
  QTest::mouseRelease(m_grid.viewport(), Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_EQ(m_grid.SelectedRows(), (std::vector<int>{1'000'001, 1'000'002, 1'000'003, 1'000'004}));

  // Ctrl+A, and the corner button: every row, one run.
  m_grid.clearSelection();
  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(m_grid.SelectedRowCount(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(ShownSelectedRows(), m_grid.model()->rowCount());
}

TEST_F(GridWindowTest, TheRowHeaderAndTheMouseHooksSpeakOfGridRows) {
  m_grid.ShowRow(7'000'000, QAbstractItemView::PositionAtTop);
  QHeaderView* header = m_grid.verticalHeader();
  auto sectionCentre = [header](int section) {
    return QPoint(header->width() / 2, header->sectionViewportPosition(section) + header->sectionSize(section) / 2);
  };
  EXPECT_EQ(header->model()->headerData(2, Qt::Vertical).toInt(), 7'000'002);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionCentre(2));
  EXPECT_EQ(m_grid.SelectedRows(), (std::vector<int>{7'000'002}));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ShiftModifier, sectionCentre(5));
  EXPECT_EQ(m_grid.SelectedRows(), (std::vector<int>{7'000'002, 7'000'003, 7'000'004, 7'000'005}));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ControlModifier, sectionCentre(3));
  EXPECT_EQ(m_grid.SelectedRows(), (std::vector<int>{7'000'002, 7'000'004, 7'000'005}));
  // Scrolled away and back, the header shows the numbers of the rows in view.
  m_grid.ShowRow(12, QAbstractItemView::PositionAtTop);
  EXPECT_EQ(header->model()->headerData(0, Qt::Vertical).toInt(), 12);
  EXPECT_EQ(m_grid.SelectedRowCount(), 3u);

  std::vector<int> doubled;
  m_grid.onDoubleClick = [&doubled](int row, int column) { doubled = {row, column}; };
  QTest::mouseDClick(m_grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                     m_grid.visualRect(m_grid.Model()->index(15, 1)).center());
  EXPECT_EQ(doubled, (std::vector<int>{15, 2}));
}

}  // namespace
