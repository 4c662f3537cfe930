#include "console/widgets/graphs/GraphView.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <array>

#include "chart/VNChart.h"
#include "chart/VNChartData.h"
#include "console/core/graphs/ChartDataFile.h"
#include "console/core/graphs/GraphRules.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/Document.h"
#include "ui/MDIChildWnd.h"
#include "ui/MDIFrameWnd.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CGraphView, CView)

namespace {

using vn::chart::VNChart;
using vn::chart::VNChartData;
using vn::chart::VNChartRegion;
using vn::chart::VNChartType;

// The colours of the first 17 data sets; later sets take them again.
constexpr std::array<QRgb, VNChart::kStyleCount> kSetColors = {
    qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),   qRgb(211, 211, 211), qRgb(0, 206, 209),
    qRgb(240, 128, 128), qRgb(255, 255, 240), qRgb(255, 140, 0),   qRgb(46, 139, 87),   qRgb(245, 222, 179),
    qRgb(245, 245, 220), qRgb(0, 255, 127),   qRgb(255, 0, 255),   qRgb(160, 82, 45),   qRgb(255, 182, 193),
    qRgb(30, 144, 255),  qRgb(222, 184, 135),
};
const QColor kBackground(0xDD, 0xDD, 0xEE);
const QColor kLabelBackground(0xCC, 0xCC, 0xFF);
constexpr char kLegendFont[] = "Arial, 8, Regular";
constexpr char kHeaderFont[] = "Arial, 12, Bold";
constexpr char kNumberFormat[] = "#,###";
constexpr char kBitmapFilter[] = "Bitmap Image (*.bmp)";

QString Text(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The label that follows the pointer: one for the whole module, on the chart
// whose data point it names.
struct HoverLabel {
  QPointer<VNChart> chart;
  int area = 0;
  int set = -1;
  int point = -1;
};
HoverLabel g_label;

void RemoveLabel() {
  if (g_label.chart) g_label.chart->TextAreaDestroy(g_label.area);
  g_label = HoverLabel{};
}

}  // namespace

CGraphView::CGraphView() : m_pChart(new VNChart(this)), m_pPrinter(std::make_unique<QPrinter>()) {
  MapCommand(ID_GRAPH_BAR, &CGraphView::OnBar);
  MapCommand(ID_GRAPH_PIE, &CGraphView::OnPie);
  MapUpdateCommand(ID_GRAPH_BAR, &CGraphView::OnUpdateBar);
  MapUpdateCommand(ID_GRAPH_PIE, &CGraphView::OnUpdatePie);
  MapCommand(ID_FILE_PRINT, &CGraphView::OnFilePrint);
  MapCommand(ID_FILE_PRINT_PREVIEW, &CGraphView::OnFilePrintPreview);
  MapCommand(ID_FILE_PRINT_SETUP, &CGraphView::OnFilePrintSetup);
  MapCommand(ID_FILE_PAGE_SETUP, &CGraphView::OnFilePageSetup);
  MapCommand(ID_FILE_SAVE_AS, &CGraphView::OnFileSaveAs);
  MapCommand(ID_FILE_CLOSE, &CGraphView::OnFileClose);
  // The view follows the pointer over the chart, which only draws.
  m_pChart->setAttribute(Qt::WA_TransparentForMouseEvents);
  setMouseTracking(true);
}

CGraphView::~CGraphView() {
  if (g_label.chart == m_pChart) RemoveLabel();
}

void CGraphView::OnInitialUpdate() {
  CView::OnInitialUpdate();
  LoadChart();
  // Once the frame is shown, the chart asks for the room it wants.
  QTimer::singleShot(0, this, [this] { (void)OnChartMessage(kMsgChartResized); });
}

void CGraphView::LoadChart() {
  CDocument* pDoc = GetDocument();
  if (!pDoc) return;
  const QString path = pDoc->GetPathName();

  // Numbers the component cannot read leave the chart without data.
  std::unique_ptr<VNChartData> data = VNChartData::CreateFromFile(path);
  std::vector<int> setPlace;
  if (data) setPlace = data->GroupSmallSets(vn::console::kMaxChartSets);
  const bool grouped = data && data->SetCount() < static_cast<int>(setPlace.size());
  m_pData = std::move(data);

  m_nChartType = kPie;
  m_pChart->SetChartType(VNChartType::Pie);
  m_pChart->SetBackground(kBackground);
  m_pChart->SetLegendFont(QString::fromLatin1(kLegendFont));
  m_pChart->SetNumberFormat(QString::fromLatin1(kNumberFormat));
  m_pChart->SetHeaderFont(QString::fromLatin1(kHeaderFont));
  for (int set = 0; set < VNChart::kStyleCount; ++set)
    m_pChart->SetNthSetColor(set, QColor(kSetColors[static_cast<std::size_t>(set)]));

  const vn::console::ChartLabels labels = vn::console::ReadChartLabels(QFile::encodeName(path).toStdString());
  for (std::size_t i = 0; i < labels.headers.size(); ++i)
    m_pChart->SetNthHeaderString(static_cast<int>(i), Text(labels.headers[i]));
  for (std::size_t i = 0; i < labels.pointLabels.size(); ++i)
    m_pChart->SetNthPointLabel(static_cast<int>(i), Text(labels.pointLabels[i]));
  for (std::size_t i = 0; i < labels.setLabels.size(); ++i) {
    // A set summed into the grouped one loses its own label.
    if (i < setPlace.size()) {
      const int place = setPlace[i];
      if (!grouped || place < vn::console::kMaxChartSets - 1) m_pChart->SetNthSetLabel(place, Text(labels.setLabels[i]));
    } else if (!m_pData) {
      m_pChart->SetNthSetLabel(static_cast<int>(i), Text(labels.setLabels[i]));
    }
  }
  if (grouped) m_pChart->SetNthSetLabel(vn::console::kMaxChartSets - 1, QString::fromLatin1(vn::console::kGroupedSetLabel));
  m_pChart->SetData(m_pData);
  if (labels.hasTitle) pDoc->SetTitle(QStringLiteral("Graph - %1").arg(Text(labels.title)));
}

void CGraphView::OnDraw(QPainter*) { m_pChart->update(); }

void CGraphView::resizeEvent(QResizeEvent* event) {
  CView::resizeEvent(event);
  m_pChart->setGeometry(0, 0, event->size().width(), event->size().height());
}

void CGraphView::SetChartType(int type) {
  m_nChartType = type;
  m_pChart->SetChartType(type == kBar ? VNChartType::Bar : VNChartType::Pie);
  // The label names a point of the chart as it was drawn.
  if (g_label.chart == m_pChart) RemoveLabel();
}

void CGraphView::OnBar() { SetChartType(kBar); }

void CGraphView::OnPie() { SetChartType(kPie); }

void CGraphView::OnUpdateBar(CCmdUI* pCmdUI) { pCmdUI->Enable(m_nChartType != kBar); }

void CGraphView::OnUpdatePie(CCmdUI* pCmdUI) { pCmdUI->Enable(m_nChartType != kPie); }

void CGraphView::OnFilePrint() {
  QPrintDialog dlg(m_pPrinter.get(), this);
  if (dlg.exec() == QDialog::Accepted) m_pChart->Print(m_pPrinter.get());
}

void CGraphView::OnFilePrintPreview() {
  QPrintPreviewDialog dlg(m_pPrinter.get(), this);
  connect(&dlg, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* printer) { m_pChart->Print(printer); });
  dlg.exec();
}

void CGraphView::OnFilePrintSetup() {
  QPrintDialog dlg(m_pPrinter.get(), this);
  dlg.setOption(QAbstractPrintDialog::PrintToFile);
  (void)dlg.exec();  // the choices stay with the printer for the next print
}

void CGraphView::OnFilePageSetup() {
  QPageSetupDialog dlg(m_pPrinter.get(), this);
  (void)dlg.exec();  // the choices stay with the printer for the next print
}

void CGraphView::OnFileClose() {
  if (CMDIChildWnd* pFrame = GetParentFrame()) pFrame->close();
}

void CGraphView::OnFileSaveAs() {
  QFileDialog dlg(this);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setNameFilter(QString::fromLatin1(kBitmapFilter));
  dlg.setDefaultSuffix(QStringLiteral("bmp"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
  (void)SaveBitmap(dlg.selectedFiles().front());  // as the chart component reports nothing, neither does the view
}

bool CGraphView::SaveBitmap(const QString& chosen) {
  const std::string name = vn::console::BitmapFileName(QFile::encodeName(chosen).toStdString());
  return m_pChart->DrawToFile(QFile::decodeName(name.c_str()));
}

void CGraphView::mouseMoveEvent(QMouseEvent* event) {
  OnMouseMove(event->position().toPoint());
  CView::mouseMoveEvent(event);
}

void CGraphView::OnMouseMove(const QPoint& position) {
  auto* pMain = dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd());
  CMDIChildWnd* pFrame = GetParentFrame();
  if (!pMain || !pMain->isActiveWindow() || !pFrame || pMain->MDIGetActive() != pFrame ||
      pFrame->GetActiveView() != this)
    return;
  const vn::chart::VNChartPick pick = m_pChart->Pick(m_pChart->mapFrom(this, position));
  if (pick.region == VNChartRegion::DataPoint && pick.distance == 0)
    ShowLabel(pick.set, pick.point);
  else if (g_label.chart)
    RemoveLabel();
}

void CGraphView::ShowLabel(int set, int point) {
  if (g_label.chart) {
    if (g_label.chart == m_pChart && g_label.set == set && g_label.point == point) return;
    RemoveLabel();
  }
  const QPoint at = m_pChart->Unpick(set, point);
  if (at.x() == -1 || at.y() == -1) return;
  if (!m_pData || set > m_pData->LastSet() || point > m_pData->LastPoint(set)) return;

  const std::string text =
      vn::console::HoverText(m_pChart->GetNthSetLabel(set).toStdString(), m_pData->YElement(set, point));
  QFont labelFont = font();
  labelFont.setPixelSize(12);
  const int area = m_pChart->TextAreaCreate();
  if (area == 0) return;
  vn::chart::VNChartTextAreaValues values;
  values.position = at;
  values.text = Text(text);
  values.background = kLabelBackground;
  values.font = labelFont;
  (void)m_pChart->TextAreaSetValues(area, values);  // a new area always takes its values
  g_label = HoverLabel{m_pChart, area, set, point};
}

QString CGraphView::HoverLabelText() {
  if (!g_label.chart) return {};
  const QLabel* label = g_label.chart->TextArea(g_label.area);
  return label ? label->text() : QString();
}

LRESULT CGraphView::OnChartMessage(UINT message) {
  switch (message) {
    case kMsgChartResized: {
      // The chart asks for room: the frame grows or shrinks by the
      // difference, kept inside the main window's area.
      CMDIChildWnd* pFrame = GetParentFrame();
      const QSize wanted = m_pChart->sizeHint();
      if (!pFrame || wanted == size()) return 1;
      QRect frame(pFrame->pos(), pFrame->size() + (wanted - size()));
      if (const QWidget* pArea = pFrame->parentWidget()) {
        const QRect area = pArea->rect();
        frame.setSize(frame.size().boundedTo(area.size()));
        frame.moveLeft(std::clamp(frame.left(), 0, std::max(0, area.width() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), 0, std::max(0, area.height() - frame.height())));
      }
      pFrame->setGeometry(frame);
      return 1;
    }
    case kMsgPaletteChanged:
      // Colours are true colours here: there is no palette to realise again.
      return 0;
    default:
      return 0;
  }
}
