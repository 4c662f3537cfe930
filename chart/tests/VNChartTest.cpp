// The chart component: what it reads from a data file, what it draws from
// it, where it says its data points are, and the bitmaps it writes.
#include <gtest/gtest.h>

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QImageReader>
#include <QLabel>
#include <QPieSeries>
#include <QPieSlice>
#include <QTemporaryDir>
#include <cmath>

#include "chart/VNChart.h"
#include "chart/VNChartData.h"

namespace {

using vn::chart::VNChart;
using vn::chart::VNChartData;
using vn::chart::VNChartRegion;
using vn::chart::VNChartType;

// What the console writes for a user summary of three users.
constexpr char kUsers[] =
    "ARRAY 3 1\r\n# X-values\r\n1\r\n# Y-values set 1\r\n1500 700 2800\r\n# Window Title\r\n# \"Space By User\"\r\n"
    "# Header Strings\r\n# \"Space By User\"\r\n# Point Labels\r\n# \"Total\"\r\n# Set Labels\r\n"
    "# \"alice\";\"bob\";\"carol\"\r\n";
// And for a partition summary of two drives.
constexpr char kDrives[] =
    "ARRAY 2 2\r\n# X-values\r\n1 2\r\n# Y-values set 1\r\n300 50\r\n# Y-values set 2\r\n100 150\r\n";

const QColor kColors[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(255, 255, 0), QColor(211, 211, 211)};

TEST(VNChartDataTest, ReadsTheNumericSectionAndRefusesDamage) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
    int sets, points;
    const char* errorPart;
  };
  const Case cases[] = {
      {"users", kUsers, true, 3, 1, ""},
      {"drives", kDrives, true, 2, 2, ""},
      {"values over several lines and tabs", "# c\n\nARRAY 1 3\n1\t2\n3 4 5 6\n", true, 1, 3, ""},
      {"leading blank", "ARRAY 2 1\n1\n 1000 2500\n", true, 2, 1, ""},
      {"no sets", "ARRAY 0 1\n1\n\n", true, 0, 1, ""},
      {"empty", "", false, 0, 0, "no ARRAY"},
      {"comments only", "# a\n# b\n", false, 0, 0, "no ARRAY"},
      {"not ARRAY", "ARRAYS 1 1\n1\n1\n", false, 0, 0, "Line 1"},
      {"counts not numbers", "ARRAY two 1\n", false, 0, 0, "counts"},
      {"negative count", "ARRAY -1 1\n", false, 0, 0, "counts"},
      {"extra token", "ARRAY 1 1 1\n1\n1\n", false, 0, 0, "counts"},
      {"too many values", "ARRAY 100000 1000\n", false, 0, 0, "more values"},
      {"cell with commas", "ARRAY 1 1\n1\n1,234\n", false, 0, 0, "Line 3: a value is not a number"},
      {"cut short", "ARRAY 2 2\n1 2\n3 4\n5\n", false, 0, 0, "ends before"},
      {"more than announced", "ARRAY 1 1\n1\n2 3\n", false, 0, 0, "more values than"},
      {"NUL in a value", std::string("ARRAY 1 1\n1\n2\0003\n", 17), false, 0, 0, "not a number"},
  };
  for (const Case& c : cases) {
    QString error;
    const auto data = VNChartData::CreateFromText(c.text, &error);
    EXPECT_EQ(data != nullptr, c.ok) << c.name << ": " << error.toStdString();
    if (data) {
      EXPECT_EQ(data->SetCount(), c.sets) << c.name;
      EXPECT_EQ(data->PointCount(), c.points) << c.name;
    } else {
      EXPECT_TRUE(error.contains(QString::fromLatin1(c.errorPart))) << c.name << ": " << error.toStdString();
    }
  }
  const auto users = VNChartData::CreateFromText(kUsers);
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(users->YElement(2, 0), 2800);
  EXPECT_EQ(users->LastSet(), 2);
  EXPECT_EQ(users->LastPoint(2), 0);
  EXPECT_EQ(users->LastPoint(3), -1);
  EXPECT_EQ(users->YElement(3, 0), 0);  // outside the data

  QTemporaryDir dir;
  QString error;
  EXPECT_EQ(VNChartData::CreateFromFile(dir.filePath(QStringLiteral("absent")), &error), nullptr);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(VNChartData::CreateFromFile(dir.path(), &error), nullptr);
}

TEST(VNChartDataTest, SmallSetsAreGroupedIntoOneLastSet) {
  VNChartData data({1}, {{5}, {50}, {1}, {40}, {2}});
  const std::vector<int> place = data.GroupSmallSets(3);
  // The two largest keep their order; the three others add up in the last set.
  EXPECT_EQ(place, (std::vector<int>{2, 0, 2, 1, 2}));
  ASSERT_EQ(data.SetCount(), 3);
  EXPECT_EQ(data.YElement(0, 0), 50);
  EXPECT_EQ(data.YElement(1, 0), 40);
  EXPECT_EQ(data.YElement(2, 0), 8);

  VNChartData few({1}, {{5}, {6}});
  EXPECT_EQ(few.GroupSmallSets(3), (std::vector<int>{0, 1}));
  EXPECT_EQ(few.SetCount(), 2);
}

class VNChartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_chart.resize(640, 480);
    for (int i = 0; i < 4; ++i) m_chart.SetNthSetColor(i, kColors[i]);
    m_chart.SetBackground(QColor(0xDD, 0xDD, 0xEE));
    m_chart.show();
  }
  void Load(const char* text) {
    std::shared_ptr<const VNChartData> data = VNChartData::CreateFromText(text);
    ASSERT_NE(data, nullptr);
    m_chart.SetData(data);
    QCoreApplication::processEvents();  // lets the chart lay itself out
  }
  // Every set's point: Pick at Unpick's place finds it, and the bitmap has
  // the set's colour there.
  void ExpectDrawnWherePicked() {
    const QImage image = m_chart.Render(m_chart.size());
    const auto& data = *m_chart.Data();
    for (int set = 0; set < data.SetCount(); ++set)
      for (int point = 0; point < data.PointCount(); ++point) {
        const QPoint at = m_chart.Unpick(set, point);
        ASSERT_NE(at, QPoint(-1, -1)) << set << "/" << point;
        const auto pick = m_chart.Pick(at);
        EXPECT_EQ(pick.region, VNChartRegion::DataPoint) << set << "/" << point;
        EXPECT_EQ(pick.set, set);
        EXPECT_EQ(pick.point, point);
        EXPECT_EQ(pick.distance, 0);
        EXPECT_EQ(image.pixelColor(at), kColors[set]) << "set " << set << " point " << point << " at " << at.x()
                                                      << "," << at.y();
      }
  }
  VNChart m_chart;
};

TEST_F(VNChartTest, PieHasOneSlicePerSetWithItsLabelValueAndColour) {
  Load(kUsers);
  const QStringList labels{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")};
  for (int i = 0; i < 3; ++i) m_chart.SetNthSetLabel(i, labels[i]);
  m_chart.SetNthPointLabel(0, QStringLiteral("Total"));
  m_chart.SetNthHeaderString(0, QStringLiteral("Space By User"));
  m_chart.SetNthHeaderString(1, QStringLiteral("SRV1"));
  QCoreApplication::processEvents();

  EXPECT_EQ(m_chart.HeaderStrings(), (QStringList{QStringLiteral("Space By User"), QStringLiteral("SRV1")}));
  EXPECT_EQ(m_chart.Chart()->title(), QStringLiteral("Space By User<br>SRV1"));
  m_chart.SetNthHeaderString(2, QStringLiteral("a < b & c"));
  EXPECT_EQ(m_chart.Chart()->title(), QStringLiteral("Space By User<br>SRV1<br>a &lt; b &amp; c"));
  m_chart.SetNthHeaderString(2, QString());
  ASSERT_EQ(m_chart.Chart()->series().size(), 1);
  const auto* pie = qobject_cast<QPieSeries*>(m_chart.Chart()->series().front());
  ASSERT_NE(pie, nullptr);
  ASSERT_EQ(pie->count(), 3);
  EXPECT_EQ(pie->sum(), 5000);
  const double values[] = {1500, 700, 2800};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pie->slices().at(i)->label(), labels[i]);
    EXPECT_EQ(pie->slices().at(i)->value(), values[i]);
    EXPECT_EQ(pie->slices().at(i)->brush().color(), kColors[i]);
  }
  ExpectDrawnWherePicked();
  // The corner of the chart is no data point.
  const auto outside = m_chart.Pick(QPoint(2, 470));
  EXPECT_NE(outside.region, VNChartRegion::DataPoint);
  EXPECT_GT(outside.distance, 0);
}

TEST_F(VNChartTest, OnePiePerPointAndBarsOfEachSetOverThePoints) {
  Load(kDrives);
  m_chart.SetNthSetLabel(0, QStringLiteral("Used Space"));
  m_chart.SetNthSetLabel(1, QStringLiteral("Free Space"));
  m_chart.SetNthPointLabel(0, QStringLiteral("SRV1\\C:"));
  m_chart.SetNthPointLabel(1, QStringLiteral("SRV1\\D:"));
  QCoreApplication::processEvents();
  EXPECT_EQ(m_chart.Chart()->series().size(), 2);
  ExpectDrawnWherePicked();

  m_chart.SetChartType(VNChartType::Bar);
  QCoreApplication::processEvents();
  ASSERT_EQ(m_chart.Chart()->series().size(), 1);
  const auto* bars = qobject_cast<QBarSeries*>(m_chart.Chart()->series().front());
  ASSERT_NE(bars, nullptr);
  ASSERT_EQ(bars->count(), 2);
  EXPECT_EQ(bars->barSets().at(0)->label(), QStringLiteral("Used Space"));
  EXPECT_EQ(bars->barSets().at(1)->at(1), 150);
  ExpectDrawnWherePicked();
  // The taller bar of a point is drawn taller.
  EXPECT_LT(m_chart.Unpick(0, 0).y(), m_chart.Unpick(1, 0).y());
}

TEST_F(VNChartTest, NumbersFontsAndTextAreas) {
  const std::pair<double, const char*> numbers[] = {
      {1234567, "1,234,567"}, {0, "0"}, {999, "999"}, {1000, "1,000"}, {-2500.4, "-2,500"}, {12.5, "13"}};
  for (const auto& [value, text] : numbers) EXPECT_EQ(m_chart.FormatNumber(value), QString::fromLatin1(text)) << value;
  m_chart.SetNumberFormat(QStringLiteral("#"));
  EXPECT_EQ(m_chart.FormatNumber(1234567), QStringLiteral("1234567"));

  const QFont bold = VNChart::FontFromDescription(QStringLiteral("Arial, 12, Bold"));
  EXPECT_EQ(bold.family(), QStringLiteral("Arial"));
  EXPECT_EQ(bold.pointSize(), 12);
  EXPECT_TRUE(bold.bold());
  EXPECT_FALSE(VNChart::FontFromDescription(QStringLiteral("Arial, 8, Regular")).bold());

  const int area = m_chart.TextAreaCreate();
  ASSERT_NE(m_chart.TextArea(area), nullptr);
  EXPECT_FALSE(m_chart.TextArea(area)->isVisible());
  ASSERT_TRUE(m_chart.TextAreaSetValues(area, {QPoint(630, 5), QStringLiteral("alice 1,500"), QColor(0xFF, 0xCC, 0xCC)}));
  QLabel* label = m_chart.TextArea(area);
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->text(), QStringLiteral("alice 1,500"));
  EXPECT_TRUE(m_chart.rect().contains(label->geometry()));  // kept inside the chart
  m_chart.TextAreaDestroy(area);
  EXPECT_EQ(m_chart.TextArea(area), nullptr);
  EXPECT_FALSE(m_chart.TextAreaSetValues(area, {}));
}

TEST_F(VNChartTest, BitmapsAreWindowsBitmapsOfTheSizeAsked) {
  Load(kUsers);
  QTemporaryDir dir;
  const QSize sizes[] = {QSize(), QSize(300, 200), QSize(1200, 900)};
  for (const QSize& size : sizes) {
    const QString path = dir.filePath(QStringLiteral("chart%1.bmp").arg(size.width()));
    ASSERT_TRUE(m_chart.DrawToFile(path, size));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("bmp"));
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.size(), size.isEmpty() ? m_chart.size() : size);
    // Something of the chart is on it: its background and a slice's colour.
    bool sawSlice = false;
    for (int y = 0; y < image.height() && !sawSlice; y += 3)
      for (int x = 0; x < image.width() && !sawSlice; x += 3) sawSlice = image.pixelColor(x, y) == kColors[2];
    EXPECT_TRUE(sawSlice) << size.width();
  }
  EXPECT_FALSE(m_chart.DrawToFile(dir.filePath(QStringLiteral("no/such/dir/chart.bmp"))));
}

TEST_F(VNChartTest, AChartWithoutDataDrawsItsHeaderOnly) {
  m_chart.SetNthHeaderString(0, QStringLiteral("Header"));
  m_chart.SetData(nullptr);
  EXPECT_TRUE(m_chart.Chart()->series().isEmpty());
  EXPECT_EQ(m_chart.Unpick(0, 0), QPoint(-1, -1));
  EXPECT_EQ(m_chart.Pick(QPoint(100, 100)).set, -1);
  m_chart.SetChartType(VNChartType::Bar);
  EXPECT_TRUE(m_chart.Chart()->series().isEmpty());
  QTemporaryDir dir;
  EXPECT_TRUE(m_chart.DrawToFile(dir.filePath(QStringLiteral("empty.bmp")), QSize(50, 40)));
}

}  // namespace
