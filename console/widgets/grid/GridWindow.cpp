#include "console/widgets/grid/GridWindow.h"

#include <algorithm>

#include "console/widgets/grid/GridModel.h"

CGridWindow::CGridWindow(CGridModel* grid, QObject* parent) : QAbstractTableModel(parent), m_grid(grid) {
  connect(m_grid, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(m_grid, &QAbstractItemModel::modelReset, this, [this] {
    m_top = std::clamp(m_top, 0, std::max(0, m_grid->rowCount() - 1));
    m_rows = Fit(m_top, m_wanted);
    endResetModel();
  });
  connect(m_grid, &QAbstractItemModel::dataChanged, this, &CGridWindow::OnGridChanged);
}

CGridWindow::~CGridWindow() = default;

int CGridWindow::Fit(int top, int rows) const { return std::clamp(m_grid->rowCount() - top, 0, std::max(0, rows)); }

void CGridWindow::SetWindow(int top, int rows) {
  m_wanted = std::max(0, rows);
  top = std::clamp(top, 0, std::max(0, m_grid->rowCount() - 1));
  const int count = Fit(top, m_wanted);
  const bool moved = top != m_top;
  m_top = top;
  // Rows come and go at the end only, so the view keeps its columns.
  if (count > m_rows) {
    beginInsertRows({}, m_rows, count - 1);
    m_rows = count;
    endInsertRows();
  } else if (count < m_rows) {
    beginRemoveRows({}, count, m_rows - 1);
    m_rows = count;
    endRemoveRows();
  }
  if (moved && m_rows > 0) {
    emit dataChanged(index(0, 0), index(m_rows - 1, std::max(0, columnCount() - 1)));
    emit headerDataChanged(Qt::Vertical, 0, m_rows - 1);
  }
}

QModelIndex CGridWindow::GridIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return {};
  return m_grid->index(m_top + index.row(), index.column());
}

QModelIndex CGridWindow::WindowIndex(const QModelIndex& gridIndex) const {
  if (!gridIndex.isValid() || gridIndex.model() != m_grid) return {};
  const int row = gridIndex.row() - m_top;
  return row >= 0 && row < m_rows ? index(row, gridIndex.column()) : QModelIndex();
}

int CGridWindow::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int CGridWindow::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_grid->columnCount(); }

QVariant CGridWindow::data(const QModelIndex& index, int role) const { return m_grid->data(GridIndex(index), role); }

QVariant CGridWindow::headerData(int section, Qt::Orientation orientation, int role) const {
  return m_grid->headerData(orientation == Qt::Vertical ? m_top + section : section, orientation, role);
}

Qt::ItemFlags CGridWindow::flags(const QModelIndex& index) const { return m_grid->flags(GridIndex(index)); }

void CGridWindow::OnGridChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  const int first = std::max(topLeft.row(), m_top);
  const int last = std::min(bottomRight.row(), m_top + m_rows - 1);
  if (first <= last)
    emit dataChanged(index(first - m_top, topLeft.column()), index(last - m_top, bottomRight.column()), roles);
}
