#pragma once
// The chart component of the graph window: a pie or bar chart of a
// VNChartData, with header strings above it, set and point labels, a colour
// per data set, a number format for values, picking (which data point lies
// under a pixel, and where a data point is drawn), floating text areas,
// printing and bitmap export. It is a widget that fills its parent; the
// drawing is Qt Charts'.
//
// Pie (VNChartType::Pie): one pie per point, one slice per set, the point's
// label under its pie; the set labels form the legend. Bar
// (VNChartType::Bar): for every point a group of bars, one per set, over a
// value axis whose labels follow the number format. At most kMaxDrawnPoints
// points are drawn (the first ones); callers bound the number of sets (see
// VNChartData::GroupSmallSets).
//
// The chart holds a shared reference to its data (SetData); labels and
// colours may be set before or after the data. Text areas are owned by the
// chart and die with it. User-interface thread only.

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "chart/VNChartData.h"

class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLabel;
class QPrinter;

namespace vn::chart {

enum class VNChartType { Bar = 2, Pie = 3 };

// Where a pixel lies, for Pick.
enum class VNChartRegion { Outside, Header, Legend, PlotArea, DataPoint };

struct VNChartPick {
  VNChartRegion region = VNChartRegion::Outside;
  int set = -1;
  int point = -1;
  int distance = -1;  // pixels to the nearest data point: 0 when on it, -1 when there is none
};

// A floating text box on the chart.
struct VNChartTextAreaValues {
  QPoint position;          // the anchor, in chart pixels
  QString text;
  QColor background;
  QColor border = Qt::black;
  int borderWidth = 1;
  QFont font;
};

class VNChart : public QWidget {
 public:
  static constexpr int kMaxDrawnPoints = 64;
  // Styles set by colour; sets beyond them cycle through the colours.
  static constexpr int kStyleCount = 17;

  explicit VNChart(QWidget* parent = nullptr);
  ~VNChart() override;

  void SetData(std::shared_ptr<const VNChartData> data);
  const std::shared_ptr<const VNChartData>& Data() const { return m_data; }

  void SetChartType(VNChartType type);
  VNChartType ChartType() const { return m_type; }

  // Header line n (from 0) above the chart; an empty text ends nothing,
  // lines are shown in order.
  void SetNthHeaderString(int n, const QString& text);
  void SetNthPointLabel(int n, const QString& text);
  void SetNthSetLabel(int n, const QString& text);
  QString GetNthSetLabel(int n) const;
  QString GetNthPointLabel(int n) const;
  QStringList HeaderStrings() const { return m_headers; }

  void SetNthSetColor(int n, const QColor& color);
  QColor SetColor(int n) const;
  void SetBackground(const QColor& color);
  // Fonts as "Family, points, Regular|Bold|Italic|Bold Italic".
  void SetLegendFont(const QString& description);
  void SetHeaderFont(const QString& description);
  static QFont FontFromDescription(const QString& description);
  // The format of values on the value axis: "#,###" groups thousands with
  // commas and shows no decimals; "#" shows plain whole numbers.
  void SetNumberFormat(const QString& format);
  QString FormatNumber(double value) const;

  // What lies under the pixel (chart coordinates).
  VNChartPick Pick(QPoint position) const;
  // Where set's point is drawn: a slice's middle, a bar's top; (-1, -1) when
  // it is not drawn.
  QPoint Unpick(int set, int point) const;

  // Text areas: created hidden, shown by TextAreaSetValues.
  int TextAreaCreate();
  bool TextAreaSetValues(int area, const VNChartTextAreaValues& values);
  void TextAreaDestroy(int area);
  // The label of a text area (null for an unknown one), for tests.
  QLabel* TextArea(int area) const;

  // Prints the chart on the printer's page, keeping its proportions.
  void Print(QPrinter* printer);
  // Draws the chart into an image of `size` (the chart's own size when
  // empty) and writes it as a Windows bitmap. False when it cannot be written.
  bool DrawToFile(const QString& path, QSize size = QSize()) const;
  QImage Render(QSize size) const;

  QChart* Chart() const { return m_chart; }
  // The size a chart reads well at: 640 x 480 pixels.
  QSize sizeHint() const override { return {640, 480}; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Rebuild();
  void UpdateHeader();
  void PlaceCaptions();
  int DrawnPoints() const;
  QString SetName(int set) const;
  QString PointName(int point) const;
  // The circle of point's pie, in chart pixels.
  bool PieCircle(int point, QPointF& center, double& radius) const;
  QRectF BarRect(int set, int point) const;

  QChartView* m_view;
  QChart* m_chart;
  std::shared_ptr<const VNChartData> m_data;
  VNChartType m_type = VNChartType::Pie;
  QStringList m_headers;
  std::vector<QString> m_pointLabels;
  std::vector<QString> m_setLabels;
  std::vector<QColor> m_colors;
  QFont m_legendFont;
  QFont m_headerFont;
  QString m_numberFormat = QStringLiteral("#,###");
  std::vector<QGraphicsSimpleTextItem*> m_captions;  // owned by the chart's scene
  std::vector<QPointer<QLabel>> m_textAreas;         // children of this widget
};

}  // namespace vn::chart
