#pragma once
// The view of a graph window: its document's chart data file drawn by the
// chart component (chart/VNChart.h) as a pie (at start) or bar chart that
// fills the view. The first update reads the numbers (no data when the
// component refuses them: the chart then shows only what the labelled
// sections give), sets the chart's look, colours, header strings, point
// and set labels, and titles the document "Graph - <report title>".
//
// Past kMaxChartSets sets (console/core/graphs/GraphRules.h) a pie cannot
// be read: the largest sets keep slices of their own and the others are
// summed into one set labelled "Other".
//
// Commands: Bar (33338) and Pie (33337), each disabled while it is the
// chart's type; Print (57607), Print Preview (0xE109), Print Setup (57606),
// Page Setup (57605) through Qt's printing; Close (57602) closes the window;
// Save As (57604) saves the chart
// as a Windows bitmap. Moving the pointer over a slice or bar, while the
// main window is active and this view is the active one, shows a label with
// the set's label and the value; elsewhere the label goes. There is one
// such label in the module.
//
// Owned by its frame; the chart is its child. User-interface thread only.

#include <QPointer>
#include <QString>
#include <memory>

#include "console/widgets/support/KSExport.h"
#include "ui/View.h"
#include "ui/WindowMessages.h"

class CCmdUI;
class QPrinter;

namespace vn::chart {
class VNChart;
class VNChartData;
}  // namespace vn::chart

class KS_EXPORT CGraphView : public CView {
  DECLARE_DYNCREATE(CGraphView)

 public:
  enum : UINT {
    ID_GRAPH_BAR = 33338,
    ID_GRAPH_PIE = 33337,
    ID_FILE_PRINT_PREVIEW = 0xE109,
  };
  // Chart types as the view counts them.
  static constexpr int kBar = 2;
  static constexpr int kPie = 3;
  // Messages the chart window may send its view.
  static constexpr UINT kMsgChartResized = 4025;
  static constexpr UINT kMsgPaletteChanged = 4026;

  CGraphView();
  ~CGraphView() override;

  void OnInitialUpdate() override;
  void OnDraw(QPainter* pDC) override;

  void OnBar();
  void OnPie();
  void OnUpdateBar(CCmdUI* pCmdUI);
  void OnUpdatePie(CCmdUI* pCmdUI);
  void OnFilePrint();
  void OnFilePrintPreview();
  void OnFilePrintSetup();
  void OnFilePageSetup();
  // Closes the graph window (and so its document and file).
  void OnFileClose();
  // Asks for a name and saves the chart there (SaveBitmap).
  void OnFileSaveAs();
  // Writes the chart as a bitmap under BitmapFileName(chosen); false when
  // it could not be written.
  bool SaveBitmap(const QString& chosen);
  // The pointer is at `position` (view pixels): shows or removes the label.
  void OnMouseMove(const QPoint& position);
  // A message of the chart window; its answer.
  LRESULT OnChartMessage(UINT message);

  int ChartType() const { return m_nChartType; }
  vn::chart::VNChart* GetChart() const { return m_pChart; }
  QPrinter* Printer() const { return m_pPrinter.get(); }
  // The text of the label that follows the pointer, empty while none is shown.
  static QString HoverLabelText();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void LoadChart();
  void SetChartType(int type);
  void ShowLabel(int set, int point);

  vn::chart::VNChart* m_pChart;
  std::shared_ptr<vn::chart::VNChartData> m_pData;
  int m_nChartType = kPie;
  std::unique_ptr<QPrinter> m_pPrinter;
};
