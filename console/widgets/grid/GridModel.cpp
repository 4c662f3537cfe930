#include "console/widgets/grid/GridModel.h"

CGridSource::~CGridSource() = default;

CGridModel::CGridModel(QObject* parent) : QAbstractTableModel(parent) {}

CGridModel::~CGridModel() = default;

void CGridModel::SetSource(CGridSource* source) {
  beginResetModel();
  m_source = source;
  m_cachedRow = -1;
  endResetModel();
}

void CGridModel::SetFont(const QFont& font) {
  m_font = font;
  Redraw();
}

void CGridModel::SetColors(const QColor& text, const QColor& background) {
  m_text = text;
  m_background = background;
  Redraw();
}

void CGridModel::Reset() {
  beginResetModel();
  m_cachedRow = -1;
  endResetModel();
}

void CGridModel::Redraw() {
  m_cachedRow = -1;
  if (rowCount() > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void CGridModel::RedrawRow(int row) {
  if (row == m_cachedRow) m_cachedRow = -1;
  if (row >= 0 && row < rowCount() && columnCount() > 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

const std::vector<GridCell>& CGridModel::Row(int row) const {
  if (row != m_cachedRow) {
    m_cells.assign(static_cast<std::size_t>(columnCount()), GridCell());
    if (m_source && row >= 0 && row < rowCount()) m_source->GridRow(row, m_cells);
    m_cells.resize(static_cast<std::size_t>(columnCount()));
    m_cachedRow = row;
  }
  return m_cells;
}

int CGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_source ? 0 : m_source->GridRowCount();
}

int CGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_source ? 0 : m_source->GridColumnCount();
}

QVariant CGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const GridCell& cell = Row(index.row())[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return cell.value.isEmpty() ? QVariant() : QVariant(cell.value);
    case Qt::TextAlignmentRole:
      return QVariant(static_cast<int>(cell.alignment));
    case Qt::ForegroundRole:
      if (cell.textColor.isValid()) return cell.textColor;
      return m_text.isValid() ? QVariant(m_text) : QVariant();
    case Qt::BackgroundRole:
      if (cell.background.isValid()) return cell.background;
      return m_background.isValid() ? QVariant(m_background) : QVariant();
    case Qt::FontRole: {
      QFont font = m_font;
      font.setBold(cell.bold);
      font.setStrikeOut(cell.strikeOut);
      return font;
    }
    default:
      return {};
  }
}

QVariant CGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  // Columns count from 1; row 0 is the column header line and has no number.
  if (orientation == Qt::Horizontal) return section + 1;
  return section == 0 ? QVariant(QString()) : QVariant(section);
}

Qt::ItemFlags CGridModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
