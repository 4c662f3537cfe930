// The graph window as the console opens it: result windows of the four
// summaries, offscreen, charted through Graph...; the chart data file each
// writes, the chart its graph window draws, Pie and Bar, the label that
// follows the pointer, bitmaps and printing, damaged files, and the file
// deleted when its window closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "chart/VNChart.h"
#include "chart/VNChartData.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/graphs/GraphDoc.h"
#include "console/widgets/graphs/GraphView.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "testing/TestFiles.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"

namespace {

using vn::chart::VNChart;
using vn::testing::WriteText;

std::string Result(const std::string& heading, const std::string& columns, const std::vector<std::string>& rows) {
  // The column count is the column header line's field count.
  const auto fields = std::count(columns.begin(), columns.end(), ',') + 1;
  std::string text = "\"A1\",9," + std::to_string(fields) + "\r\n" + heading + columns + "\r\n";
  for (const std::string& row : rows) text += row + "\r\n";
  return text;
}

const std::string kPartitions =
    Result("\"B1\",\"Partition Summary\"\r\n\"B1\",\"Computer: SRV1\"\r\n",
           "\"H1\",\"Computer Name\",\"Drive Name\",\"Used Space\",\"Free Space\"",
           {"\"DS\",\"SRV1\",\"C:\",1234567,500000", "\"DS\",\"SRV1\",\"D:\",20000,2000000",
            "\"DS\",\"SRV2\",\"C:\",300000,70000"});
const std::string kUsers = Result("\"B1\",\"Space By User\"\r\n", "\"H1\",\"User Name\",\"Files\",\"Total Size\"",
                                  {"\"S1\",\"alice\",3,1500", "\"S1\",\"bob\",2,700", "\"S1\",\"carol\",9,2800"});
const std::string kGroups = Result("\"B1\",\"Group Usage Report\"\r\n", "\"H1\",\"Group Name\",\"Files\",\"Used\"",
                                   {"\"S1\",\"staff\",3,1000", "\"S1\",\"wheel\",4,250"});
const std::string kDetailed =
    Result("\"B1\",\"Detailed Summary\"\r\n", "\"H1\",\"Category\",\"Files\",\"Size Used\"",
           {"\"DS\",\".txt\",1,100", "\"DS\",\".doc\",1,200", "\"DS\",\"Used Space\",9,1000",
            "\"DS\",\"Free Space\",0,2500"});

class GraphViewTest : public ::testing::Test {
 protected:
  GraphViewTest() {
    pKSRptDocTemplate = new CMultiDocTemplate(vn::console::IDR_KSRPTTYPE, RUNTIME_CLASS(CFastReadDoc),
                                              RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CFastReadView));
    m_session.m_app->AddDocTemplate(pKSRptDocTemplate);
    m_session.m_mainFrame->activateWindow();
    QApplication::processEvents();
  }
  ~GraphViewTest() override {
    m_session.End();
    pKSRptDocTemplate = nullptr;
  }

  CFastReadView* OpenResult(const std::string& text, const std::string& name = "result.csv") {
    const std::string path = m_dir.filePath(QString::fromStdString(name)).toStdString();
    WriteText(path, text);
    CDocument* pDoc = pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(path));
    return pDoc ? dynamic_cast<CFastReadView*>(pDoc->GetViews().front()) : nullptr;
  }
  static bool Enabled(CCmdTarget* target, UINT id) {
    CCmdUI state(id);
    state.DoUpdate(target, TRUE);
    return state.m_bEnabled;
  }
  // Charts the result through its Graph command; the graph window's view.
  static CGraphView* Graph(CFastReadView* result) {
    const std::vector<CDocument*> before = pGraphDocTemplate->GetDocuments();
    result->OnCmdMsg(CFastReadView::ID_GRAPH, CN_COMMAND, nullptr);
    const std::vector<CDocument*> after = pGraphDocTemplate->GetDocuments();
    if (after.size() != before.size() + 1) return nullptr;
    auto* view = dynamic_cast<CGraphView*>(after.back()->GetViews().front());
    QApplication::processEvents();
    return view;
  }
  static QStringList SetLabels(VNChart* chart) {
    QStringList labels;
    for (int set = 0; chart->Data() && set < chart->Data()->SetCount(); ++set) labels << chart->GetNthSetLabel(set);
    return labels;
  }

  vn::console::testing::ConsoleSession<> m_session;
  QTemporaryDir m_dir;
};

TEST_F(GraphViewTest, GraphIsOfferedForTheFourSummariesOnly) {
  const std::pair<std::string, bool> cases[] = {
      {kPartitions, true}, {kUsers, true}, {kGroups, true}, {kDetailed, true},
      {Result("\"B1\",\"Space By Quota\"\r\n", "\"H1\",\"User\",\"Total\",\"Used\"", {"\"S1\",\"a\",1,1"}), false},
      {Result("\"B1\",\"All Files\"\r\n", "\"H1\",\"FileName\",\"Size\"", {"\"D1\",\"a\",1"}), false},
  };
  int n = 0;
  for (const auto& [text, offered] : cases) {
    CFastReadView* view = OpenResult(text, "r" + std::to_string(n++) + ".csv");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Enabled(view, CFastReadView::ID_GRAPH), offered) << text;
    EXPECT_EQ(Enabled(view, CFastReadView::ID_GRAPH_POPUP), offered) << text;
    const std::unique_ptr<QMenu> menu = view->CreateContextMenu(1);
    ASSERT_NE(menu, nullptr);
  }
}

TEST_F(GraphViewTest, EachSummaryChartsItsRowsInAGraphWindowOfItsOwn) {
  struct Case {
    const std::string* result;
    const char* title;
    int sets, points;
    QStringList setLabels;
    QString firstPointLabel;
    double firstValue;
  };
  const Case cases[] = {
      {&kPartitions, "Partition Summary", 2, 3, {QStringLiteral("Used Space"), QStringLiteral("Free Space")},
       QStringLiteral("SRV1\\C:"), 1234567},
      {&kUsers, "Space By User", 3, 1, {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")},
       QStringLiteral("Total Size"), 1500},
      {&kGroups, "Group Usage Report", 2, 1, {QStringLiteral("staff"), QStringLiteral("wheel")}, QStringLiteral("Used"),
       1000},
      {&kDetailed, "Detailed Summary", 4, 1,
       {QStringLiteral(".txt"), QStringLiteral(".doc"), QStringLiteral("Others"), QStringLiteral("Free")},
       QStringLiteral("Size Used"), 100},
  };
  int n = 0;
  for (const Case& c : cases) {
    CFastReadView* result = OpenResult(*c.result, "s" + std::to_string(n++) + ".csv");
    ASSERT_NE(result, nullptr) << c.title;
    CGraphView* view = Graph(result);
    ASSERT_NE(view, nullptr) << c.title;
    const QString path = view->GetDocument()->GetPathName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Gra[0-9A-F]+\\.tmp$")).match(QFileInfo(path).fileName()).hasMatch())
        << path.toStdString();
    EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_EQ(view->GetDocument()->GetTitle(), QStringLiteral("Graph - %1").arg(QString::fromLatin1(c.title)));

    VNChart* chart = view->GetChart();
    ASSERT_NE(chart->Data(), nullptr) << c.title;
    EXPECT_EQ(chart->Data()->SetCount(), c.sets) << c.title;
    EXPECT_EQ(chart->Data()->PointCount(), c.points) << c.title;
    EXPECT_EQ(chart->Data()->YElement(0, 0), c.firstValue) << c.title;
    EXPECT_EQ(SetLabels(chart), c.setLabels) << c.title;
    EXPECT_EQ(chart->GetNthPointLabel(0), c.firstPointLabel) << c.title;
    EXPECT_EQ(chart->HeaderStrings().value(0).trimmed(), QString::fromLatin1(c.title));
    EXPECT_EQ(view->ChartType(), CGraphView::kPie);

    // A second graph of the same result is a window and file of its own.
    CGraphView* second = Graph(result);
    ASSERT_NE(second, nullptr);
    const QString secondPath = second->GetDocument()->GetPathName();
    EXPECT_NE(secondPath, path);
    second->GetParentFrame()->close();
    EXPECT_FALSE(QFile::exists(secondPath));
    EXPECT_TRUE(QFile::exists(path));
    view->GetParentFrame()->close();
    EXPECT_FALSE(QFile::exists(path)) << c.title;
  }
  EXPECT_TRUE(pGraphDocTemplate->GetDocuments().empty());
}

TEST_F(GraphViewTest, PieAndBarExcludeEachOther) {
  CGraphView* view = Graph(OpenResult(kPartitions));
  ASSERT_NE(view, nullptr);
  // The window took the chart's size, as far as the main window's area lets it.
  const QWidget* area = view->GetParentFrame()->parentWidget();
  ASSERT_NE(area, nullptr);
  EXPECT_TRUE(area->rect().contains(view->GetParentFrame()->geometry()));
  EXPECT_EQ(view->width(), std::min(640, view->width() + area->width() - view->GetParentFrame()->width()));
  EXPECT_TRUE(Enabled(view, CGraphView::ID_GRAPH_BAR));
  EXPECT_FALSE(Enabled(view, CGraphView::ID_GRAPH_PIE));
  // Through the main frame's command chain, as the menu runs it.
  EXPECT_TRUE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_BAR));
  EXPECT_EQ(view->ChartType(), CGraphView::kBar);
  EXPECT_EQ(view->GetChart()->ChartType(), vn::chart::VNChartType::Bar);
  EXPECT_FALSE(Enabled(view, CGraphView::ID_GRAPH_BAR));
  EXPECT_TRUE(Enabled(view, CGraphView::ID_GRAPH_PIE));
  EXPECT_FALSE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_BAR));  // disabled: not run
  EXPECT_TRUE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_PIE));
  EXPECT_EQ(view->ChartType(), CGraphView::kPie);

  // File, Close ends the window, its document and its file.
  const QString path = view->GetDocument()->GetPathName();
  EXPECT_TRUE(m_session.m_mainFrame->OnCommand(ID_FILE_CLOSE));
  EXPECT_TRUE(pGraphDocTemplate->GetDocuments().empty());
  EXPECT_FALSE(QFile::exists(path));
}

TEST_F(GraphViewTest, TheLabelFollowsThePointerFromPointToPoint) {
  CGraphView* view = Graph(OpenResult(kUsers));
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(m_session.m_mainFrame->isActiveWindow());
  VNChart* chart = view->GetChart();
  const QPoint alice = chart->mapTo(view, chart->Unpick(0, 0));
  const QPoint carol = chart->mapTo(view, chart->Unpick(2, 0));

  view->OnMouseMove(alice);
  EXPECT_EQ(CGraphView::HoverLabelText(), QStringLiteral("alice 1,500"));
  const QLabel* shown = chart->findChild<QLabel*>();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->isVisible());
  view->OnMouseMove(alice + QPoint(1, 1));  // the same slice keeps its label
  EXPECT_EQ(chart->findChildren<QLabel*>().size(), 1);
  EXPECT_EQ(chart->findChild<QLabel*>(), shown);
  view->OnMouseMove(carol);
  EXPECT_EQ(CGraphView::HoverLabelText(), QStringLiteral("carol 2,800"));
  view->OnMouseMove(QPoint(1, view->height() - 2));  // off every slice
  EXPECT_EQ(CGraphView::HoverLabelText(), QString());

  // Bars label their values the same way.
  ASSERT_TRUE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_BAR));
  QApplication::processEvents();
  view->OnMouseMove(chart->mapTo(view, chart->Unpick(1, 0)));
  EXPECT_EQ(CGraphView::HoverLabelText(), QStringLiteral("bob 700"));

  // A graph window that is not the active one shows no label.
  CGraphView* other = Graph(OpenResult(kGroups, "groups.csv"));
  ASSERT_NE(other, nullptr);
  view->OnMouseMove(chart->mapTo(view, chart->Unpick(2, 0)));
  EXPECT_EQ(CGraphView::HoverLabelText(), QStringLiteral("bob 700")) << "the label stays as it was";
  // Closing the window whose chart holds the label takes the label along.
  view->GetParentFrame()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CGraphView::HoverLabelText(), QString());
}

TEST_F(GraphViewTest, SaveAsWritesABitmapAndPrintingDrawsTheChart) {
  CGraphView* view = Graph(OpenResult(kDetailed));
  ASSERT_NE(view, nullptr);
  const QString chosen[] = {m_dir.filePath(QStringLiteral("chart")), m_dir.filePath(QStringLiteral("dot.")),
                            m_dir.filePath(QStringLiteral("UPPER.BMP"))};
  const QString written[] = {m_dir.filePath(QStringLiteral("chart.bmp")), m_dir.filePath(QStringLiteral("dot.bmp")),
                             m_dir.filePath(QStringLiteral("UPPER.BMP"))};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(view->SaveBitmap(chosen[i])) << i;
    QImageReader reader(written[i]);
    EXPECT_EQ(reader.format(), QByteArray("bmp"));
    EXPECT_EQ(reader.read().size(), view->GetChart()->size());
  }
  EXPECT_FALSE(view->SaveBitmap(m_dir.filePath(QStringLiteral("no/such/chart"))));

  const QString pdf = m_dir.filePath(QStringLiteral("chart.pdf"));
  view->Printer()->setOutputFormat(QPrinter::PdfFormat);
  view->Printer()->setOutputFileName(pdf);
  view->GetChart()->Print(view->Printer());
  EXPECT_GT(QFileInfo(pdf).size(), 1000);
}

TEST_F(GraphViewTest, ThousandsOfUsersKeepTheLargestSlicesAndGroupTheRest) {
  std::vector<std::string> rows;
  double total = 0;
  for (int i = 0; i < 3000; ++i) {
    rows.push_back("\"S1\",\"user" + std::to_string(i) + "\",1," + std::to_string(i == 7 ? 900000 : i));
    total += i == 7 ? 900000 : i;
  }
  CGraphView* view = Graph(OpenResult(Result("\"B1\",\"Space By User\"\r\n", "\"H1\",\"User Name\",\"Files\",\"Total\"", rows)));
  ASSERT_NE(view, nullptr);
  const auto& data = *view->GetChart()->Data();
  ASSERT_EQ(data.SetCount(), 20);
  const QStringList labels = SetLabels(view->GetChart());
  EXPECT_EQ(labels.back(), QStringLiteral("Other"));
  EXPECT_TRUE(labels.contains(QStringLiteral("user7")));
  EXPECT_TRUE(labels.contains(QStringLiteral("user2999")));
  EXPECT_FALSE(labels.contains(QStringLiteral("user5")));
  double sum = 0;
  for (int set = 0; set < data.SetCount(); ++set) sum += data.YElement(set, 0);
  EXPECT_EQ(sum, total);
}

TEST_F(GraphViewTest, SummariesWithoutRowsOpenEmptyCharts) {
  const std::string empty[] = {
      Result("\"B1\",\"Space By User\"\r\n", "\"H1\",\"User Name\",\"Files\",\"Total\"", {}),
      Result("\"B1\",\"Partition Summary\"\r\n", "\"H1\",\"Computer Name\",\"Drive Name\",\"Used Space\",\"Free Space\"", {}),
  };
  int n = 0;
  for (const std::string& text : empty) {
    CGraphView* view = Graph(OpenResult(text, "empty" + std::to_string(n++) + ".csv"));
    ASSERT_NE(view, nullptr) << text;
    VNChart* chart = view->GetChart();
    ASSERT_NE(chart->Data(), nullptr);
    EXPECT_EQ(chart->Data()->SetCount() * chart->Data()->PointCount(), 0);
    EXPECT_EQ(chart->Unpick(0, 0), QPoint(-1, -1));
    view->OnMouseMove(QPoint(view->width() / 2, view->height() / 2));
    EXPECT_EQ(CGraphView::HoverLabelText(), QString());
    EXPECT_TRUE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_BAR));
    EXPECT_TRUE(view->SaveBitmap(m_dir.filePath(QStringLiteral("empty"))));
  }
  // A detailed summary without its Free row is not charted, and leaves no file.
  const QStringList before = QDir::temp().entryList({QStringLiteral("Gra*.tmp")});
  CFastReadView* noFree = OpenResult(Result("\"B1\",\"Detailed Summary\"\r\n", "\"H1\",\"Category\",\"Files\",\"Size Used\"",
                                            {"\"DS\",\".txt\",1,100", "\"DS\",\"Used Space\",9,1000"}),
                                     "nofree.csv");
  ASSERT_NE(noFree, nullptr);
  EXPECT_TRUE(Enabled(noFree, CFastReadView::ID_GRAPH));
  EXPECT_EQ(Graph(noFree), nullptr);
  EXPECT_EQ(QDir::temp().entryList({QStringLiteral("Gra*.tmp")}), before);
}

TEST_F(GraphViewTest, DamagedFilesOpenAsChartsWithoutWhatTheyLack) {
  struct Case {
    const char* name;
    const char* text;
    bool hasData;
    QString title;
    int setLabels;
  };
  const Case cases[] = {
      {"cut in the numbers", "ARRAY 3 1\r\n# X-values\r\n1\r\n# Y-values set 1\r\n1 2", false, QString(), 0},
      {"a cell that is no number", "ARRAY 1 1\r\n1\r\nn/a\r\n# Window Title\r\n# \"T\"\r\n", false,
       QStringLiteral("Graph - T"), 0},
      {"cut in the labels", "ARRAY 2 1\r\n1\r\n1 2\r\n# Set Labels\r\n# \"a\";\"b", true, QString(), 1},
      {"empty", "", false, QString(), 0},
      {"binary", "\x01\x02\xff\xfe#\n#\n#", false, QString(), 0},
  };
  for (const Case& c : cases) {
    const QString path = m_dir.filePath(QString::fromLatin1(c.name));
    WriteText(path.toStdString(), c.text);
    CDocument* pDoc = pGraphDocTemplate->OpenDocumentFile(path);
    ASSERT_NE(pDoc, nullptr) << c.name;
    auto* view = dynamic_cast<CGraphView*>(pDoc->GetViews().front());
    ASSERT_NE(view, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(view->GetChart()->Data() != nullptr, c.hasData) << c.name;
    if (!c.title.isEmpty()) {
      EXPECT_EQ(pDoc->GetTitle(), c.title) << c.name;
    }
    int labelled = 0;
    for (int set = 0; set < 10; ++set) labelled += view->GetChart()->GetNthSetLabel(set).isEmpty() ? 0 : 1;
    EXPECT_EQ(labelled, c.setLabels) << c.name;
    // The window still answers its commands.
    EXPECT_TRUE(m_session.m_mainFrame->OnCommand(CGraphView::ID_GRAPH_BAR)) << c.name;
    view->OnMouseMove(QPoint(10, 10));
    EXPECT_TRUE(view->SaveBitmap(m_dir.filePath(QStringLiteral("damaged"))));
    view->GetParentFrame()->close();
    EXPECT_FALSE(QFile::exists(path)) << c.name;
  }
}

}  // namespace
