#pragma once
// The rows of a CGridModel that the grid shows: grid rows top..top+rows-1 as
// a table of its own, which is what the grid's table view and its row header
// see. So the view keeps its per-row geometry (Qt's header sections) for a
// screenful, whatever the grid's length; scrolling moves the window
// (SetWindow) and the cells it shows are asked of the grid model again.
//
// Row r of the window is grid row top + r; columns are the grid model's. The
// row header labels are the grid model's (the grid row numbers). Follows the
// grid model's resets and changes. Owned by its CGridCtrl; the grid model
// outlives it. User-interface thread only.

#include <QAbstractTableModel>

class CGridModel;

class CGridWindow : public QAbstractTableModel {
 public:
  explicit CGridWindow(CGridModel* grid, QObject* parent = nullptr);
  ~CGridWindow() override;

  int Top() const { return m_top; }
  // Shows grid rows from `top` on, at most `rows` of them (fewer at the end).
  void SetWindow(int top, int rows);

  // The grid model's index of a window index and back (invalid when the row
  // is not in the window).
  QModelIndex GridIndex(const QModelIndex& index) const;
  QModelIndex WindowIndex(const QModelIndex& gridIndex) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  int Fit(int top, int rows) const;
  void OnGridChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);

  CGridModel* m_grid;
  int m_top = 0;
  int m_rows = 0;     // rows in the window now
  int m_wanted = 0;   // rows asked for (the screenful)
};
