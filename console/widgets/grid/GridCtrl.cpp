#include "console/widgets/grid/GridCtrl.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "console/core/grid/GridZoom.h"
#include "console/widgets/grid/GridModel.h"

CGridCtrl::CGridCtrl(QWidget* parent) : QTableView(parent), m_model(new CGridModel(this)) {
  m_settings.font = font();
  m_settings.textColor = palette().color(QPalette::WindowText);
  m_settings.background = palette().color(QPalette::Base);
  setModel(m_model);
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
  // own that stays empty. With the grid's, every paint of the column header
  // asks whether each column is selected, which Qt answers by looking at
  // every row of a selection from the top (0.7 s after Ctrl+A on ten million
  // rows), and every paint of the row header while anything is selected
  // clears two bits per row.
  horizontalHeader()->setSelectionModel(new QItemSelectionModel(m_model, horizontalHeader()));
  verticalHeader()->setSelectionModel(new QItemSelectionModel(m_model, verticalHeader()));
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CGridCtrl::OnSelectionChanged);
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] { m_selected.clear(); });
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (onDoubleClick && index.isValid()) onDoubleClick(index.row(), index.column() + 1);
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
  viewport()->update();
}

void CGridCtrl::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (!deselected.isEmpty()) {
    // A deselected row stays while another range still selects it whole.
    std::vector<std::pair<int, int>> kept;
    const int lastColumn = m_model->columnCount() - 1;
    for (const QItemSelectionRange& range : selectionModel()->selection())
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
  selectionModel()->select(m_model->index(row, 0), flags);
}

void CGridCtrl::keyPressEvent(QKeyEvent* event) {
  if (onKey && onKey(event)) return;
  QTableView::keyPressEvent(event);
}

void CGridCtrl::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(event->pos());
  if (onRightClick && index.isValid()) {
    onRightClick(index.row(), index.column() + 1, event->globalPos());
    event->accept();
    return;
  }
  QTableView::contextMenuEvent(event);
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
