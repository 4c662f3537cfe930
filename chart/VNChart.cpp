#include "chart/VNChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLegendMarker>
#include <QPainter>
#include <QPieSeries>
#include <QPieSlice>
#include <QPrinter>
#include <QResizeEvent>
#include <QCategoryAxis>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace vn::chart {
namespace {

// Digits in groups of three separated by ",", a leading "-" for negatives.
QString Grouped(double value) {
  const double rounded = std::round(value);
  QString digits = QString::number(std::fabs(rounded), 'f', 0);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
  return rounded < 0 ? QLatin1Char('-') + digits : digits;
}

// A step of 1, 2 or 5 times a power of ten that cuts range into about `parts`.
double NiceStep(double range, int parts) {
  if (range <= 0) return 1;
  const double raw = range / parts;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

}  // namespace

// The view is made with its chart: a view made without one makes a chart of
// its own, which setChart would hand back to nobody.
VNChart::VNChart(QWidget* parent)
    : QWidget(parent), m_view(new QChartView(new QChart(), this)), m_chart(m_view->chart()) {
  m_chart->setAnimationOptions(QChart::NoAnimation);
  m_chart->legend()->setAlignment(Qt::AlignRight);
  m_view->setFrameShape(QFrame::NoFrame);
  m_view->setRenderHint(QPainter::Antialiasing);
  // The pointer's moves reach whoever holds the chart (the hover label).
  m_view->setMouseTracking(true);
  m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
  setMouseTracking(true);
  connect(m_chart, &QChart::plotAreaChanged, this, [this] { PlaceCaptions(); });
}

VNChart::~VNChart() = default;

void VNChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_view->setGeometry(rect());
}

void VNChart::SetData(std::shared_ptr<const VNChartData> data) {
  m_data = std::move(data);
  Rebuild();
}

void VNChart::SetChartType(VNChartType type) {
  if (type == m_type) return;
  m_type = type;
  Rebuild();
}

void VNChart::SetNthHeaderString(int n, const QString& text) {
  if (n < 0 || n > 1000) return;
  while (m_headers.size() <= n) m_headers.append(QString());
  m_headers[n] = text;
  UpdateHeader();
}

void VNChart::SetNthPointLabel(int n, const QString& text) {
  if (n < 0 || n >= VNChartData::kMaxPoints) return;
  if (m_pointLabels.size() <= static_cast<std::size_t>(n)) m_pointLabels.resize(static_cast<std::size_t>(n) + 1);
  m_pointLabels[static_cast<std::size_t>(n)] = text;
  if (n < DrawnPoints()) Rebuild();
}

void VNChart::SetNthSetLabel(int n, const QString& text) {
  if (n < 0 || n >= VNChartData::kMaxSets) return;
  if (m_setLabels.size() <= static_cast<std::size_t>(n)) m_setLabels.resize(static_cast<std::size_t>(n) + 1);
  m_setLabels[static_cast<std::size_t>(n)] = text;
  if (!m_data || n >= m_data->SetCount()) return;
  // Renaming in place keeps a long list of labels from rebuilding the chart each time.
  if (m_type == VNChartType::Pie) {
    for (QAbstractSeries* series : m_chart->series())
      if (auto* pie = qobject_cast<QPieSeries*>(series); pie && n < pie->count()) pie->slices().at(n)->setLabel(text);
  } else if (!m_chart->series().isEmpty()) {
    if (auto* bars = qobject_cast<QBarSeries*>(m_chart->series().front()); bars && n < bars->count())
      bars->barSets().at(n)->setLabel(text);
  }
}

QString VNChart::GetNthSetLabel(int n) const {
  return n >= 0 && static_cast<std::size_t>(n) < m_setLabels.size() ? m_setLabels[static_cast<std::size_t>(n)] : QString();
}

QString VNChart::GetNthPointLabel(int n) const {
  return n >= 0 && static_cast<std::size_t>(n) < m_pointLabels.size() ? m_pointLabels[static_cast<std::size_t>(n)]
                                                                       : QString();
}

QString VNChart::SetName(int set) const {
  const QString label = GetNthSetLabel(set);
  return label.isEmpty() ? QStringLiteral("Set %1").arg(set + 1) : label;
}

QString VNChart::PointName(int point) const { return GetNthPointLabel(point); }

void VNChart::SetNthSetColor(int n, const QColor& color) {
  if (n < 0 || n >= kStyleCount) return;
  if (m_colors.size() < kStyleCount) m_colors.resize(kStyleCount, QColor(Qt::gray));
  m_colors[static_cast<std::size_t>(n)] = color;
  Rebuild();
}

QColor VNChart::SetColor(int n) const {
  if (m_colors.empty() || n < 0) return QColor(Qt::gray);
  return m_colors[static_cast<std::size_t>(n) % m_colors.size()];
}

void VNChart::SetBackground(const QColor& color) { m_chart->setBackgroundBrush(color); }

QFont VNChart::FontFromDescription(const QString& description) {
  const QStringList parts = description.split(QLatin1Char(','));
  QFont font;
  if (!parts.isEmpty() && !parts[0].trimmed().isEmpty()) font.setFamily(parts[0].trimmed());
  if (parts.size() > 1) {
    bool ok = false;
    const int points = parts[1].trimmed().toInt(&ok);
    if (ok && points > 0 && points < 200) font.setPointSize(points);
  }
  if (parts.size() > 2) {
    const QString style = parts[2].trimmed();
    font.setBold(style.contains(QLatin1String("Bold"), Qt::CaseInsensitive));
    font.setItalic(style.contains(QLatin1String("Italic"), Qt::CaseInsensitive));
  }
  return font;
}

void VNChart::SetLegendFont(const QString& description) {
  m_legendFont = FontFromDescription(description);
  m_chart->legend()->setFont(m_legendFont);
  Rebuild();
}

void VNChart::SetHeaderFont(const QString& description) {
  m_headerFont = FontFromDescription(description);
  m_chart->setTitleFont(m_headerFont);
}

void VNChart::SetNumberFormat(const QString& format) {
  m_numberFormat = format;
  Rebuild();
}

QString VNChart::FormatNumber(double value) const {
  if (m_numberFormat.contains(QLatin1Char(','))) return Grouped(value);
  return QString::number(std::round(value), 'f', 0);
}

void VNChart::UpdateHeader() {
  QStringList lines = m_headers;
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
  // The title is rich text: each line escaped, lines broken explicitly.
  for (QString& line : lines) line = line.toHtmlEscaped();
  m_chart->setTitle(lines.join(QStringLiteral("<br>")));
}

int VNChart::DrawnPoints() const { return m_data ? std::min(m_data->PointCount(), kMaxDrawnPoints) : 0; }

void VNChart::Rebuild() {
  for (QGraphicsSimpleTextItem* caption : m_captions) delete caption;
  m_captions.clear();
  m_chart->removeAllSeries();
  for (QAbstractAxis* axis : m_chart->axes()) {
    m_chart->removeAxis(axis);
    delete axis;
  }
  const int points = DrawnPoints();
  if (!m_data || m_data->SetCount() == 0 || points == 0) return;
  const int sets = m_data->SetCount();

  if (m_type == VNChartType::Pie) {
    for (int point = 0; point < points; ++point) {
      auto* pie = new QPieSeries();
      for (int set = 0; set < sets; ++set) {
        QPieSlice* slice = pie->append(SetName(set), std::max(0.0, m_data->YElement(set, point)));
        slice->setBrush(SetColor(set));
        slice->setPen(QPen(QColor(Qt::white), 1));
      }
      m_chart->addSeries(pie);
      // One legend for all pies: the sets are the same in each.
      if (point > 0)
        for (QLegendMarker* marker : m_chart->legend()->markers(pie)) marker->setVisible(false);
      auto* caption = new QGraphicsSimpleTextItem(PointName(point), m_chart);
      caption->setFont(m_legendFont);
      m_captions.push_back(caption);
    }
    m_chart->legend()->setVisible(true);
  } else {
    auto* bars = new QBarSeries();
    double low = 0, high = 0;
    for (int set = 0; set < sets; ++set) {
      auto* barSet = new QBarSet(SetName(set));
      barSet->setBrush(SetColor(set));
      barSet->setPen(QPen(SetColor(set).darker(130), 1));
      for (int point = 0; point < points; ++point) {
        const double value = m_data->YElement(set, point);
        barSet->append(value);
        low = std::min(low, value);
        high = std::max(high, value);
      }
      bars->append(barSet);
    }
    m_chart->addSeries(bars);
    auto* categories = new QBarCategoryAxis();
    QStringList names;
    for (int point = 0; point < points; ++point) {
      // Category names must differ: an empty or repeated label gets the point's number.
      QString name = PointName(point);
      if (name.isEmpty() || names.contains(name)) name = QStringLiteral("%1 (%2)").arg(name).arg(point + 1).trimmed();
      names.append(name);
    }
    categories->append(names);
    categories->setLabelsFont(m_legendFont);
    m_chart->addAxis(categories, Qt::AlignBottom);
    bars->attachAxis(categories);

    // The value axis labels its ticks in the number format.
    const double step = NiceStep(high - low, 5);
    const double bottom = std::floor(low / step) * step;
    const double top = std::max(bottom + step, std::ceil(high / step) * step);
    auto* values = new QCategoryAxis();
    values->setRange(bottom, top);
    values->setStartValue(bottom - step / 1000);
    for (double tick = bottom; tick <= top + step / 2; tick += step) values->append(FormatNumber(tick), tick);
    values->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    values->setLabelsFont(m_legendFont);
    m_chart->addAxis(values, Qt::AlignLeft);
    bars->attachAxis(values);
    m_chart->legend()->setVisible(true);
  }
  PlaceCaptions();
}

bool VNChart::PieCircle(int point, QPointF& center, double& radius) const {
  const QList<QAbstractSeries*> series = m_chart->series();
  if (m_type != VNChartType::Pie || point < 0 || point >= series.size()) return false;
  const auto* pie = qobject_cast<const QPieSeries*>(series.at(point));
  if (!pie) return false;
  const QRectF plot = m_chart->plotArea();
  center = QPointF(plot.left() + plot.width() * pie->horizontalPosition(),
                   plot.top() + plot.height() * pie->verticalPosition());
  radius = std::min(plot.width(), plot.height()) / 2 * pie->pieSize();
  return radius > 0;
}

void VNChart::PlaceCaptions() {
  const QRectF plot = m_chart->plotArea();
  if (m_type == VNChartType::Pie) {
    const QList<QAbstractSeries*> series = m_chart->series();
    const auto count = static_cast<int>(series.size());
    if (count == 0 || plot.isEmpty()) return;
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const int rows = (count + columns - 1) / columns;
    const double cellWidth = plot.width() / columns, cellHeight = plot.height() / rows;
    const double captionHeight = QFontMetricsF(m_legendFont).height() + 4;
    const double radius = std::max(1.0, std::min(cellWidth * 0.45, (cellHeight - captionHeight) * 0.45));
    for (int i = 0; i < count; ++i) {
      auto* pie = qobject_cast<QPieSeries*>(series.at(i));
      if (!pie) continue;
      const double x = (i % columns + 0.5) / columns;
      const double y = ((i / columns) * cellHeight + (cellHeight - captionHeight) / 2) / plot.height();
      pie->setHorizontalPosition(x);
      pie->setVerticalPosition(y);
      pie->setPieSize(2 * radius / std::min(plot.width(), plot.height()));
      if (static_cast<std::size_t>(i) < m_captions.size()) {
        QGraphicsSimpleTextItem* caption = m_captions[static_cast<std::size_t>(i)];
        const QRectF box = caption->boundingRect();
        caption->setPos(plot.left() + x * plot.width() - box.width() / 2,
                        plot.top() + y * plot.height() + radius + 2);
      }
    }
  }
}

VNChartPick VNChart::Pick(QPoint position) const {
  VNChartPick pick;
  const QPointF at(position);
  const QRectF plot = m_chart->plotArea();
  if (plot.contains(at))
    pick.region = VNChartRegion::PlotArea;
  else if (m_chart->legend()->isVisible() && m_chart->legend()->geometry().contains(at))
    pick.region = VNChartRegion::Legend;
  else if (at.y() < plot.top() && rect().contains(position))
    pick.region = VNChartRegion::Header;
  if (!m_data || m_data->SetCount() == 0) return pick;

  double nearest = -1;
  auto consider = [&](int set, int point, double distance) {
    if (nearest >= 0 && distance >= nearest) return;
    nearest = distance;
    pick.set = set;
    pick.point = point;
    pick.distance = static_cast<int>(std::ceil(distance));
  };
  if (m_type == VNChartType::Pie) {
    const QList<QAbstractSeries*> series = m_chart->series();
    for (int point = 0; point < static_cast<int>(series.size()); ++point) {
      QPointF center;
      double radius = 0;
      if (!PieCircle(point, center, radius)) continue;
      const double dx = at.x() - center.x(), dy = at.y() - center.y();
      double angle = std::atan2(dx, -dy) * 180 / std::numbers::pi;  // clockwise from twelve o'clock
      if (angle < 0) angle += 360;
      const auto* pie = qobject_cast<const QPieSeries*>(series.at(point));
      for (int set = 0; set < pie->count(); ++set) {
        const QPieSlice* slice = pie->slices().at(set);
        if (slice->angleSpan() <= 0 || angle < slice->startAngle() || angle >= slice->startAngle() + slice->angleSpan())
          continue;
        consider(set, point, std::max(0.0, std::hypot(dx, dy) - radius));
      }
    }
  } else {
    for (int point = 0; point < DrawnPoints(); ++point)
      for (int set = 0; set < m_data->SetCount(); ++set) {
        const QRectF bar = BarRect(set, point);
        if (bar.isEmpty()) continue;
        const double dx = std::max({bar.left() - at.x(), 0.0, at.x() - bar.right()});
        const double dy = std::max({bar.top() - at.y(), 0.0, at.y() - bar.bottom()});
        consider(set, point, std::hypot(dx, dy));
      }
  }
  if (pick.distance == 0) pick.region = VNChartRegion::DataPoint;
  return pick;
}

QRectF VNChart::BarRect(int set, int point) const {
  if (m_type != VNChartType::Bar || m_chart->series().isEmpty() || !m_data) return {};
  auto* bars = qobject_cast<QBarSeries*>(m_chart->series().front());
  if (!bars || set < 0 || set >= bars->count() || point < 0 || point >= DrawnPoints()) return {};
  // A group of bars spans the series' bar width around its category, each
  // set one equal part of it, left to right.
  const double width = bars->barWidth();
  const double left = point - width / 2 + width * set / bars->count();
  const double right = left + width / bars->count();
  const double value = m_data->YElement(set, point);
  const QPointF a = m_chart->mapToPosition(QPointF(left, value), bars);
  const QPointF b = m_chart->mapToPosition(QPointF(right, 0), bars);
  return QRectF(a, b).normalized();
}

QPoint VNChart::Unpick(int set, int point) const {
  const QPoint none(-1, -1);
  if (!m_data || set < 0 || set >= m_data->SetCount() || point < 0 || point >= DrawnPoints()) return none;
  if (m_type == VNChartType::Pie) {
    QPointF center;
    double radius = 0;
    if (!PieCircle(point, center, radius)) return none;
    const auto* pie = qobject_cast<const QPieSeries*>(m_chart->series().at(point));
    const QPieSlice* slice = pie->slices().at(set);
    if (slice->angleSpan() <= 0) return none;
    const double angle = (slice->startAngle() + slice->angleSpan() / 2) * std::numbers::pi / 180;
    return QPointF(center.x() + 0.6 * radius * std::sin(angle), center.y() - 0.6 * radius * std::cos(angle))
        .toPoint();
  }
  const QRectF bar = BarRect(set, point);
  if (bar.height() < 1 || bar.width() < 1) return none;
  return bar.center().toPoint();
}

int VNChart::TextAreaCreate() {
  auto* label = new QLabel(this);
  label->hide();
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  for (std::size_t i = 0; i < m_textAreas.size(); ++i)
    if (m_textAreas[i].isNull()) {
      m_textAreas[i] = label;
      return static_cast<int>(i) + 1;
    }
  m_textAreas.emplace_back(label);
  return static_cast<int>(m_textAreas.size());
}

QLabel* VNChart::TextArea(int area) const {
  if (area < 1 || static_cast<std::size_t>(area) > m_textAreas.size()) return nullptr;
  return m_textAreas[static_cast<std::size_t>(area) - 1].data();
}

bool VNChart::TextAreaSetValues(int area, const VNChartTextAreaValues& values) {
  QLabel* label = TextArea(area);
  if (!label) return false;
  label->setText(values.text);
  label->setFont(values.font);
  label->setStyleSheet(QStringLiteral("QLabel { background: %1; border: %2px solid %3; padding: 2px 4px; }")
                           .arg(values.background.name(), QString::number(values.borderWidth), values.border.name()));
  label->adjustSize();
  // Above and to the right of the anchor, kept inside the chart.
  QPoint topLeft(values.position.x() + 6, values.position.y() - label->height() - 6);
  topLeft.setX(std::clamp(topLeft.x(), 0, std::max(0, width() - label->width())));
  topLeft.setY(std::clamp(topLeft.y(), 0, std::max(0, height() - label->height())));
  label->move(topLeft);
  label->raise();
  label->show();
  return true;
}

void VNChart::TextAreaDestroy(int area) {
  if (QLabel* label = TextArea(area)) {
    m_textAreas[static_cast<std::size_t>(area) - 1] = nullptr;
    delete label;
  }
}

QImage VNChart::Render(QSize size) const {
  if (size.isEmpty()) size = this->size();
  QImage image(size, QImage::Format_RGB32);
  image.fill(m_chart->backgroundBrush().color().isValid() ? m_chart->backgroundBrush().color() : QColor(Qt::white));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  m_chart->scene()->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), m_chart->sceneBoundingRect(),
                           Qt::KeepAspectRatio);
  return image;
}

bool VNChart::DrawToFile(const QString& path, QSize size) const {
  QImageWriter writer(path, "bmp");
  return writer.write(Render(size));
}

void VNChart::Print(QPrinter* printer) {
  if (!printer) return;
  QPainter painter;
  if (!painter.begin(printer)) return;
  painter.setRenderHint(QPainter::Antialiasing);
  m_chart->scene()->render(&painter, QRectF(painter.viewport()), m_chart->sceneBoundingRect(), Qt::KeepAspectRatio);
  painter.end();
}

}  // namespace vn::chart
