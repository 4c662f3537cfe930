#include "console/widgets/grid/GridCtrl.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "console/core/grid/GridZoom.h"
#include "console/widgets/grid/GridModel.h"
#include "console/widgets/grid/GridWindow.h"

CGridCtrl::CGridCtrl(QWidget* parent)
    : QTableView(parent),
      m_model(new CGridModel(this)),
      m_window(new CGridWindow(m_model, this)),
      m_rows(new QItemSelectionModel(m_model, this)) {
  m_settings.font = font();
  m_settings.textColor = palette().color(QPalette::WindowText);
  m_settings.background = palette().color(QPalette::Base);
  setModel(m_window);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);  // the scroll bar counts grid rows
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setCornerButtonEnabled(true);
  // Rows of one height: the view never measures a row's contents.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setHighlightSections(false);
  // The headers never show the selection, so each gets a selection of its
  // own that stays empty.
  horizontalHeader()->setSelectionModel(new QItemSelectionModel(m_window, horizontalHeader()));
  verticalHeader()->setSelectionModel(new QItemSelectionModel(m_window, verticalHeader()));
  // The row header's sections are the window's rows: presses and drags on it
  // select grid rows here instead of the table's own rows.
  disconnect(verticalHeader(), &QHeaderView::sectionPressed, nullptr, nullptr);
  disconnect(verticalHeader(), &QHeaderView::sectionEntered, nullptr, nullptr);
  connect(verticalHeader(), &QHeaderView::sectionPressed, this, &CGridCtrl::OnRowHeaderPressed);
  connect(verticalHeader(), &QHeaderView::sectionEntered, this, &CGridCtrl::OnRowHeaderEntered);
  connect(m_rows, &QItemSelectionModel::selectionChanged, this, &CGridCtrl::OnSelectionChanged);
  connect(m_rows, &QItemSelectionModel::selectionChanged, this, [this] { ShowSelection(); });
  connect(m_rows, &QItemSelectionModel::currentChanged, this, [this] { ShowSelection(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CGridCtrl::OnShownSelectionChanged);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &CGridCtrl::OnShownCurrentChanged);
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
    m_selected.clear();
    m_anchorRow = -1;
    SetTop(m_window->Top());
  });
  ApplySettings(m_settings);
}

CGridCtrl::~CGridCtrl() = default;

void CGridCtrl::SetSource(CGridSource* source) {
  m_model->SetSource(source);
  ApplyMetrics();
}

void CGridCtrl::ResetGrid() {
  m_model->Reset();
  ApplyMetrics();
}

void CGridCtrl::Redraw() {
  m_model->Redraw();
  viewport()->update();
}

void CGridCtrl::RedrawRow(int row) { m_model->RedrawRow(row); }

void CGridCtrl::SetZoom(int percent) {
  m_zoom = std::clamp(percent, 10, 1000);
  ApplyMetrics();
}

void CGridCtrl::ApplySettings(const GridSettings& settings) {
  m_settings = settings;
  setShowGrid(settings.gridLines);
  verticalHeader()->setVisible(settings.rowHeaders);
  horizontalHeader()->setVisible(settings.columnHeaders);
  m_model->SetColors(settings.textColor, settings.background);
  ApplyMetrics();
}

int CGridCtrl::CharWidth() const { return std::max(1, QFontMetrics(m_settings.font).averageCharWidth()); }

void CGridCtrl::SetDefaultColumnWidth(int pixels) {
  m_columnWidth = std::max(1, pixels);
  ApplyMetrics();
}

QFont CGridCtrl::ZoomedFont() const {
  QFont zoomed = m_settings.font;
  if (zoomed.pointSizeF() > 0)
    zoomed.setPointSizeF(zoomed.pointSizeF() * m_zoom / 100.0);
  else
    zoomed.setPixelSize(std::max(1, zoomed.pixelSize() * m_zoom / 100));
  return zoomed;
}

void CGridCtrl::ApplyMetrics() {
  const QFont zoomed = ZoomedFont();
  m_model->SetFont(zoomed);
  setFont(zoomed);
  const int rowHeight = QFontMetrics(zoomed).height() + 4;
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(rowHeight);
  const int width = std::max(4, m_columnWidth * m_zoom / 100);
  horizontalHeader()->setDefaultSectionSize(width);
  for (int c = 0; c < m_model->columnCount(); ++c) setColumnWidth(c, width);
  // The row header is as wide as the longest row number, wherever the window is.
  const QFontMetrics metrics(verticalHeader()->font());
  verticalHeader()->setMinimumWidth(metrics.horizontalAdvance(QString::number(std::max(1, m_model->rowCount()))) +
                                    2 * metrics.averageCharWidth());
  SetTop(m_window->Top());
  viewport()->update();
}

int CGridCtrl::TopRow() const { return m_window->Top(); }

int CGridCtrl::CurrentRow() const {
  const QModelIndex current = m_rows->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void CGridCtrl::SetCurrentRow(int row) {
  if (row < 0 || row >= m_model->rowCount() || m_model->columnCount() == 0) return;
  SelectTo(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ShowRow(row);
}

int CGridCtrl::VisibleRows() const {
  return std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
}

void CGridCtrl::SetTop(int top) {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  top = std::clamp(top, 0, std::max(0, m_model->rowCount() - VisibleRows()));
  // The rows in view and the one cut off at the bottom. Rows that leave the
  // window stay selected in the grid.
  m_showing = true;
  m_window->SetWindow(top, viewport()->height() / rowHeight + 1);
  m_showing = false;
  ShowSelection();
  SyncScrollBar();
}

void CGridCtrl::SyncScrollBar() {
  const bool setting = m_settingBar;
  m_settingBar = true;
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, std::max(0, m_model->rowCount() - VisibleRows()));
  bar->setPageStep(VisibleRows());
  bar->setSingleStep(1);
  bar->setValue(m_window->Top());
  m_settingBar = setting;
}

void CGridCtrl::ShowRow(int row, ScrollHint hint) {
  const int top = m_window->Top();
  const int visible = VisibleRows();
  int wanted = top;
  switch (hint) {
    case PositionAtTop: wanted = row; break;
    case PositionAtBottom: wanted = row - visible + 1; break;
    case PositionAtCenter: wanted = row - visible / 2; break;
    default:
      if (row < top)
        wanted = row;
      else if (row >= top + visible)
        wanted = row - visible + 1;
      break;
  }
  if (wanted != top) SetTop(wanted);
}

void CGridCtrl::ShowSelection() {
  const int top = m_window->Top();
  const int rows = m_window->rowCount();
  QItemSelection shown;
  if (rows > 0) {
    for (const QItemSelectionRange& range : m_rows->selection()) {
      const int first = std::max(range.top(), top);
      const int last = std::min(range.bottom(), top + rows - 1);
      if (first <= last)
        shown.select(m_window->index(first - top, range.left()), m_window->index(last - top, range.right()));
    }
  }
  m_showing = true;
  selectionModel()->select(shown, QItemSelectionModel::ClearAndSelect);
  selectionModel()->setCurrentIndex(m_window->WindowIndex(m_rows->currentIndex()), QItemSelectionModel::NoUpdate);
  m_showing = false;
}

void CGridCtrl::OnShownSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (m_showing) return;
  auto toGrid = [this](const QItemSelection& shown) {
    QItemSelection grid;
    for (const QItemSelectionRange& range : shown)
      grid.select(m_window->GridIndex(range.topLeft()), m_window->GridIndex(range.bottomRight()));
    return grid;
  };
  if (!deselected.isEmpty()) m_rows->select(toGrid(deselected), QItemSelectionModel::Deselect);
  if (!selected.isEmpty()) m_rows->select(toGrid(selected), QItemSelectionModel::Select);
}

void CGridCtrl::OnShownCurrentChanged(const QModelIndex& current) {
  if (m_showing || !current.isValid()) return;
  m_rows->setCurrentIndex(m_window->GridIndex(current), QItemSelectionModel::NoUpdate);
}

QItemSelection CGridCtrl::RowRange(int from, int to) const {
  const int lastColumn = std::max(0, m_model->columnCount() - 1);
  return QItemSelection(m_model->index(std::min(from, to), 0), m_model->index(std::max(from, to), lastColumn));
}

void CGridCtrl::SelectTo(const QModelIndex& target, QItemSelectionModel::SelectionFlags command) {
  if (command & QItemSelectionModel::Current) {
    if (m_anchorRow < 0 || m_anchorRow >= m_model->rowCount()) m_anchorRow = std::max(0, CurrentRow());
    m_rows->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
    m_rows->select(RowRange(m_anchorRow, target.row()), command);
    return;
  }
  m_anchorRow = target.row();
  m_rows->setCurrentIndex(target, command);
}

void CGridCtrl::selectAll() {
  const int rows = m_model->rowCount();
  const int columns = m_model->columnCount();
  if (rows == 0 || columns == 0) return;
  m_rows->select(QItemSelection(m_model->index(0, 0), m_model->index(rows - 1, columns - 1)),
                 QItemSelectionModel::ClearAndSelect);
}

void CGridCtrl::clearSelection() { m_rows->clearSelection(); }

QRect CGridCtrl::visualRect(const QModelIndex& index) const {
  if (index.isValid() && index.model() == m_model) {
    const QModelIndex shown = m_window->WindowIndex(index);
    return shown.isValid() ? QTableView::visualRect(shown) : QRect();
  }
  return QTableView::visualRect(index);
}

void CGridCtrl::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (m_showing || !index.isValid()) return;
  const QModelIndex target = index.model() == m_model ? index : m_window->GridIndex(index);
  if (!target.isValid()) return;
  ShowRow(target.row(), hint);
  const QModelIndex shown = m_window->WindowIndex(target);
  if (!shown.isValid()) return;
  // The row is in view now; the table scrolls the columns.
  m_settingBar = true;
  QTableView::scrollTo(shown, EnsureVisible);
  m_settingBar = false;
  SyncScrollBar();
}

void CGridCtrl::scrollContentsBy(int dx, int dy) {
  if (dy != 0 && !m_settingBar) SetTop(verticalScrollBar()->value());
  QTableView::scrollContentsBy(dx, 0);
}

void CGridCtrl::updateGeometries() {
  // The table sets the scroll bar for the window's rows; it counts grid rows.
  // It also puts its row header's offset where the bar is: at the top of the
  // window, which is where the bar is for it while it does.
  const bool setting = m_settingBar;
  m_settingBar = true;
  verticalScrollBar()->setValue(0);
  QTableView::updateGeometries();
  m_settingBar = setting;
  SyncScrollBar();
}

void CGridCtrl::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  SetTop(m_window->Top());  // as many rows as now fit
}

int CGridCtrl::GridRowAt(int y) const {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  const int inWindow = std::clamp(y / rowHeight, 0, std::max(0, m_window->rowCount() - 1));
  return std::min(m_window->Top() + inWindow, m_model->rowCount() - 1);
}

bool CGridCtrl::MoveByKey(QKeyEvent* event) {
  const int rows = m_model->rowCount();
  const int columns = m_model->columnCount();
  if (rows == 0 || columns == 0) return false;
  const QModelIndex current = m_rows->currentIndex();
  const int row = current.isValid() ? current.row() : 0;
  const int column = current.isValid() ? current.column() : 0;
  const bool control = event->modifiers() & Qt::ControlModifier;
  int toRow = row;
  int toColumn = column;
  switch (event->key()) {
    case Qt::Key_Up: toRow = row - 1; break;
    case Qt::Key_Down: toRow = row + 1; break;
    case Qt::Key_PageUp: toRow = row - VisibleRows(); break;
    case Qt::Key_PageDown: toRow = row + VisibleRows(); break;
    case Qt::Key_Left: toColumn = column - 1; break;
    case Qt::Key_Right: toColumn = column + 1; break;
    case Qt::Key_Home:
      if (control) toRow = 0; else toColumn = 0;
      break;
    case Qt::Key_End:
      if (control) toRow = rows - 1; else toColumn = columns - 1;
      break;
    default: return false;
  }
  if (!current.isValid()) toRow = 0;  // the first move goes to the first row
  const QModelIndex target = m_model->index(std::clamp(toRow, 0, rows - 1), std::clamp(toColumn, 0, columns - 1));
  if (target != current) SelectTo(target, selectionCommand(QModelIndex(), event));
  scrollTo(target);
  event->accept();
  return true;
}

void CGridCtrl::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (!deselected.isEmpty()) {
    // A deselected row stays while another range still selects it whole.
    std::vector<std::pair<int, int>> kept;
    const int lastColumn = m_model->columnCount() - 1;
    for (const QItemSelectionRange& range : m_rows->selection())
      if (range.left() == 0 && range.right() == lastColumn) kept.emplace_back(range.top(), range.bottom());
    std::sort(kept.begin(), kept.end());
    for (const QItemSelectionRange& range : deselected) {
      int next = range.top();
      for (const auto& [top, bottom] : kept) {
        if (bottom < next) continue;
        if (top > range.bottom()) break;
        if (top > next) RemoveSelectedRows(next, top - 1);
        next = std::max(next, bottom + 1);
      }
      if (next <= range.bottom()) RemoveSelectedRows(next, range.bottom());
    }
  }
  for (const QItemSelectionRange& range : selected) AddSelectedRows(range.top(), range.bottom());
}

void CGridCtrl::AddSelectedRows(int first, int last) {
  // The rows of first..last that runs already hold, in row order.
  std::vector<std::pair<int, int>> held;
  for (const SelectedRun& run : m_selected) {
    const int low = std::min(run.from, run.to);
    const int high = std::max(run.from, run.to);
    if (high >= first && low <= last) held.emplace_back(low, high);
  }
  std::sort(held.begin(), held.end());
  int next = first;
  for (const auto& [low, high] : held) {
    if (low > next) AppendSelectedRun(next, low - 1);
    next = std::max(next, high + 1);
  }
  if (next <= last) AppendSelectedRun(next, last);
}

void CGridCtrl::AppendSelectedRun(int first, int last) {
  if (!m_selected.empty()) {
    // Rows that go on from where the last run ended join it (shift+arrow
    // selects one row at a time, either way).
    SelectedRun& run = m_selected.back();
    if (run.to >= run.from && first == run.to + 1) {
      run.to = last;
      return;
    }
    if (run.to <= run.from && first == last && first == run.to - 1) {
      run.to = first;
      return;
    }
  }
  m_selected.push_back({first, last});
}

void CGridCtrl::RemoveSelectedRows(int first, int last) {
  std::vector<SelectedRun> left;
  left.reserve(m_selected.size() + 1);
  for (const SelectedRun& run : m_selected) {
    const int low = std::min(run.from, run.to);
    const int high = std::max(run.from, run.to);
    if (high < first || low > last) {
      left.push_back(run);
      continue;
    }
    // What stays of the run keeps its order: the part selected first first.
    if (run.to >= run.from) {
      if (run.from < first) left.push_back({run.from, first - 1});
      if (last < run.to) left.push_back({last + 1, run.to});
    } else {
      if (last < run.from) left.push_back({run.from, last + 1});
      if (run.to < first) left.push_back({first - 1, run.to});
    }
  }
  m_selected = std::move(left);
}

std::vector<int> CGridCtrl::SelectedRows() const {
  std::vector<int> rows;
  rows.reserve(SelectedRowCount());
  VisitSelectedRows([&rows](int row) {
    rows.push_back(row);
    return true;
  });
  return rows;
}

std::size_t CGridCtrl::SelectedRowCount() const {
  std::size_t count = 0;
  for (const SelectedRun& run : m_selected) count += static_cast<std::size_t>(std::abs(run.to - run.from)) + 1;
  return count;
}

int CGridCtrl::LastSelectedRow() const { return m_selected.empty() ? -1 : m_selected.back().to; }

void CGridCtrl::VisitSelectedRows(const std::function<bool(int row)>& visit) const {
  for (const SelectedRun& run : m_selected) {
    const int step = run.to >= run.from ? 1 : -1;
    for (int row = run.from;; row += step) {
      if (!visit(row)) return;
      if (row == run.to) break;
    }
  }
}

void CGridCtrl::SelectRow(int row, bool add) {
  if (row < 0 || row >= m_model->rowCount() || m_model->columnCount() == 0) return;
  const QItemSelectionModel::SelectionFlags flags =
      (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) | QItemSelectionModel::Rows;
  m_rows->select(m_model->index(row, 0), flags);
}

void CGridCtrl::keyPressEvent(QKeyEvent* event) {
  if (onKey && onKey(event)) return;
  if (MoveByKey(event)) return;
  QTableView::keyPressEvent(event);  // Ctrl+A (selectAll), Tab and the rest
}

void CGridCtrl::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = m_window->GridIndex(indexAt(event->pos()));
  if (onRightClick && index.isValid()) {
    onRightClick(index.row(), index.column() + 1, event->globalPos());
    event->accept();
    return;
  }
  QTableView::contextMenuEvent(event);
}

void CGridCtrl::mousePressEvent(QMouseEvent* event) {
  const QModelIndex shown = indexAt(event->position().toPoint());
  setFocus(Qt::MouseFocusReason);
  const QItemSelectionModel::SelectionFlags command = selectionCommand(shown, event);
  if (!shown.isValid()) {
    if (command & QItemSelectionModel::Clear) m_rows->clearSelection();
    return;
  }
  const QModelIndex target = m_window->GridIndex(shown);
  const bool left = event->button() == Qt::LeftButton;
  m_pressed = left;
  m_pressedRow = target.row();
  // A press on a selected row selects it alone when released without a drag.
  m_pressedOnSelected = left && command == QItemSelectionModel::NoUpdate && m_rows->isRowSelected(target.row()) &&
                        !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
  if (command & QItemSelectionModel::Toggle) {
    m_anchorRow = target.row();
    m_rows->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
    m_rows->select(RowRange(target.row(), target.row()), QItemSelectionModel::Toggle);
    return;
  }
  if (command == QItemSelectionModel::NoUpdate) {
    m_rows->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
    if (left) m_anchorRow = target.row();
    return;
  }
  SelectTo(target, command);
}

void CGridCtrl::mouseMoveEvent(QMouseEvent* event) {
  if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
    QTableView::mouseMoveEvent(event);
    return;
  }
  // Dragging past the top or bottom edge scrolls a row at a time.
  const int y = event->position().toPoint().y();
  if (y < 0)
    SetTop(m_window->Top() - 1);
  else if (y >= viewport()->height())
    SetTop(m_window->Top() + 1);
  const int row = GridRowAt(std::clamp(y, 0, std::max(0, viewport()->height() - 1)));
  if (row < 0 || row == CurrentRow()) return;
  m_pressedOnSelected = false;
  SelectTo(m_model->index(row, std::max(0, m_rows->currentIndex().column())),
           QItemSelectionModel::SelectCurrent | QItemSelectionModel::Rows);
}

void CGridCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (m_pressed && m_pressedOnSelected && GridRowAt(event->position().toPoint().y()) == m_pressedRow)
    SelectTo(m_model->index(m_pressedRow, std::max(0, m_rows->currentIndex().column())),
             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  m_pressed = false;
  m_pressedOnSelected = false;
}

void CGridCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = m_window->GridIndex(indexAt(event->position().toPoint()));
  if (!index.isValid()) return;
  if (onDoubleClick) onDoubleClick(index.row(), index.column() + 1);
  event->accept();
}

void CGridCtrl::OnRowHeaderPressed(int section) {
  const int row = m_window->Top() + section;
  if (row >= m_model->rowCount()) return;
  const QModelIndex target = m_model->index(row, std::max(0, m_rows->currentIndex().column()));
  QItemSelectionModel::SelectionFlags command = selectionCommand(m_window->index(section, 0));
  m_rows->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
  if (!(command & QItemSelectionModel::Current)) m_anchorRow = row;
  if (command & QItemSelectionModel::Toggle) {
    // Ctrl: the row and the rows dragged over after it flip to the other state.
    const QItemSelectionModel::SelectionFlags flip =
        m_rows->isRowSelected(row) ? QItemSelectionModel::Deselect : QItemSelectionModel::Select;
    command = flip;
    m_headerDrag = flip | QItemSelectionModel::Current;
  } else {
    m_headerDrag = command;
  }
  if (m_anchorRow < 0) m_anchorRow = row;
  m_rows->select(RowRange(m_anchorRow, row), command | QItemSelectionModel::Rows);
}

void CGridCtrl::OnRowHeaderEntered(int section) {
  const int row = m_window->Top() + section;
  if (row >= m_model->rowCount() || m_anchorRow < 0) return;
  m_rows->setCurrentIndex(m_model->index(row, std::max(0, m_rows->currentIndex().column())),
                          QItemSelectionModel::NoUpdate);
  m_rows->select(RowRange(m_anchorRow, row), m_headerDrag | QItemSelectionModel::Rows);
}

QPrinter* CGridCtrl::Printer() {
  if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return m_printer.get();
}

std::vector<int> CGridCtrl::RowsToPrint() const {
  std::vector<int> rows;
  if (SelectedRowCount() > 1) {
    rows = SelectedRows();
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  const int count = std::min(m_model->rowCount(), kMaxPrintedRows);
  for (int row = 0; row < count; ++row) rows.push_back(row);
  return rows;
}

int CGridCtrl::Print(QPrinter* printer) {
  const std::vector<int> rows = RowsToPrint();
  const int columns = m_model->columnCount();
  if (rows.empty() || columns == 0) return 0;
  QPainter painter;
  if (!painter.begin(printer)) return 0;
  // Lay the grid out in screen pixels at 100 percent, then scale it to the page.
  const QFont font = m_settings.font;
  const int rowHeight = QFontMetrics(font).height() + 4;
  std::vector<int> widths;
  int total = 0;
  for (int c = 0; c < columns; ++c) {
    widths.push_back(std::max(4, columnWidth(c) * 100 / std::max(1, m_zoom)));
    total += widths.back();
  }
  const QRectF page = printer->pageLayout().paintRectPixels(printer->resolution());
  const double toDevice = printer->resolution() / 96.0;
  const double scale = std::min(toDevice, page.width() / total);
  painter.scale(scale, scale);
  const int rowsPerPage = std::max(1, static_cast<int>(page.height() / scale) / rowHeight);
  int pages = 0;
  for (std::size_t first = 0; first < rows.size(); first += static_cast<std::size_t>(rowsPerPage)) {
    if (pages++ && !printer->newPage()) break;
    const std::size_t last = std::min(rows.size(), first + static_cast<std::size_t>(rowsPerPage));
    int y = 0;
    for (std::size_t i = first; i < last; ++i, y += rowHeight) {
      const std::vector<GridCell>& cells = m_model->Row(rows[i]);
      int x = 0;
      for (int c = 0; c < columns; ++c) {
        const GridCell& cell = cells[static_cast<std::size_t>(c)];
        const QRect box(x, y, widths[static_cast<std::size_t>(c)], rowHeight);
        QFont cellFont = font;
        cellFont.setBold(cell.bold);
        cellFont.setStrikeOut(cell.strikeOut);
        painter.setFont(cellFont);
        painter.setPen(cell.textColor.isValid() ? cell.textColor : QColor(Qt::black));
        painter.drawText(box.adjusted(2, 0, -2, 0), static_cast<int>(cell.alignment), cell.value);
        if (m_settings.gridLines) {
          painter.setPen(QColor(Qt::lightGray));
          painter.drawRect(box);
        }
        x += widths[static_cast<std::size_t>(c)];
      }
    }
  }
  painter.end();
  return pages;
}
