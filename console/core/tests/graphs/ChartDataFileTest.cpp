// Chart data files written from the four summaries and read back: the exact
// lines of each writer, the columns and rows each one looks for, and the
// labelled sections' reader on sound and damaged files.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "console/core/graphs/ChartDataFile.h"
#include "console/core/results/FXDataManager.h"

namespace {

using namespace vn::console;
using Rows = std::vector<std::vector<std::string>>;

// A result as the result window shows it: rows[0] the column titles,
// rows[r][c - 1] the text of column c.
ChartResult ResultOf(int kind, const Rows& rows, std::string title = "Report", std::string header = "Line one") {
  ChartResult result;
  result.reportKind = kind;
  result.rowCount = static_cast<int>(rows.size()) - 1;
  result.columnCount = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  result.cellText = [rows](int row, int column) -> std::string {
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 1 ||
        column > static_cast<int>(rows[static_cast<std::size_t>(row)].size()))
      return {};
    return rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column - 1)];
  };
  result.title = std::move(title);
  result.header = std::move(header);
  return result;
}

class ChartDataFileTest : public ::testing::Test {
 protected:
  std::string Path(const char* name = "Gra1.tmp") const { return QFile::encodeName(m_dir.filePath(QString::fromLatin1(name))).toStdString(); }
  static std::string Contents(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll().toStdString();
  }
  // The file's lines as written, each with its "\r\n".
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }
  QTemporaryDir m_dir;
};

const Rows kPartitions = {
    {"DS", "Computer Name", "Drive Name", "Used Space", "Free Space", "Size"},
    {"DS", "SRV1", "C:", "1,234,567", "500", "x"},
    {"DS", "SRV1", "D:", "20", "2,000", "x"},
    {"DS", "SRV2", "C:", "0", "7", "x"},
};

TEST_F(ChartDataFileTest, PartitionSummaryGivesUsedAndFreeOverOnePointPerDrive) {
  const std::string path = Path();
  ASSERT_EQ(SaveGraphDataToFile(path, ResultOf(4, kPartitions, "Partition Summary", "Partition Summary \r\nSRV1 ")), 1);
  EXPECT_EQ(Contents(path), Lines({"ARRAY 2 3", "# X-values", "1 2 3", "# Y-values set 1", "1234567 20 0",
                                   "# Y-values set 2", "500 2000 7", "# Window Title", "# \"Partition Summary\"",
                                   "# Header Strings", "# \"Partition Summary \";\"SRV1 \"", "# Set Labels",
                                   "# \"Used Space\",\"Free Space\"", "# Point Labels",
                                   "# \"SRV1\\C:\",\"SRV1\\D:\",\"SRV2\\C:\""}));

  const ChartLabels labels = ReadChartLabels(path);
  EXPECT_EQ(labels.error, ChartFileError::None);
  EXPECT_TRUE(labels.hasTitle);
  EXPECT_EQ(labels.title, "Partition Summary");
  EXPECT_EQ(labels.headers, (std::vector<std::string>{"Partition Summary ", "SRV1 "}));
  EXPECT_EQ(labels.setLabels, (std::vector<std::string>{"Used Space", "Free Space"}));
  EXPECT_EQ(labels.pointLabels, (std::vector<std::string>{"SRV1\\C:", "SRV1\\D:", "SRV2\\C:"}));
}

TEST_F(ChartDataFileTest, UsersTakeTheTotalColumnGroupsTheUsedColumnAndTheTotalsRowIsLeftOut) {
  const Rows users = {
      {"S1", "User Name", "Files", "Used", "Total Size"},
      {"S1", "alice", "3", "10", "1,500"},
      {"S1", "bob", "Totals here?", "20", "2,500"},  // "Totals" in column 3 is the one that counts
      {"S1", "carol", "5", "30", "700"},
  };
  const std::string userPath = Path("user.tmp");
  ASSERT_EQ(SaveGraphDataToFile(userPath, ResultOf(CFXDataManager::kKindSpaceByUser, users, "Space By User")), 1);
  EXPECT_EQ(Contents(userPath),
            Lines({"ARRAY 2 1", "# X-values", "1", "# Y-values set 1", "1500 700", "# Window Title",
                   "# \"Space By User\"", "# Header Strings", "# \"Line one\"", "# Point Labels", "# \"Total Size\"",
                   "# Set Labels", "# \"alice\";\"carol\""}));

  const Rows groups = {
      {"S1", "Group Name", "Files", "Space Used", "Total"},
      {"S1", "staff", "3", "1,000", "5"},
      {"S1", "wheel", "4", "250", "6"},
  };
  const std::string groupPath = Path("group.tmp");
  ASSERT_EQ(SaveGraphDataToFile(groupPath, ResultOf(CFXDataManager::kKindGroupUsage, groups, "Group Usage Report", "")), 1);
  EXPECT_EQ(Contents(groupPath),
            Lines({"ARRAY 2 1", "# X-values", "1", "# Y-values set 1", "1000 250", "# Window Title",
                   "# \"Group Usage Report\"", "# Header Strings", "# ", "# Point Labels", "# \"Space Used\"",
                   "# Set Labels", "# \"staff\";\"wheel\""}));
  const ChartLabels labels = ReadChartLabels(groupPath);
  EXPECT_EQ(labels.error, ChartFileError::None);
  EXPECT_TRUE(labels.headers.empty());  // an empty heading gives an empty list
  EXPECT_EQ(labels.setLabels, (std::vector<std::string>{"staff", "wheel"}));

  // A user result whose only "Used" column is not what it charts.
  const Rows noTotal = {{"S1", "User Name", "Used"}, {"S1", "alice", "1"}};
  const std::string missing = Path("missing.tmp");
  EXPECT_EQ(SaveGraphDataToFile(missing, ResultOf(CFXDataManager::kKindSpaceByUser, noTotal)), 0);
  EXPECT_EQ(Contents(missing), "<missing>");
}

TEST_F(ChartDataFileTest, DetailedSummaryListsCategoriesThenOthersAndFree) {
  struct Case {
    const char* name;
    Rows rows;
    std::string values;
    std::string sets;
  };
  const Case cases[] = {
      {"three categories",
       {{"DS", "Category", "Files", "Size Used (KB)"},
        {"DS", ".txt", "1", "100"},
        {"DS", "Used Space", "9", "1,000"},
        {"DS", ".doc", "1", "200"},
        {"DS", ".exe", "1", "300"},
        {"DS", "Free Space", "0", "2,500.6"}},
       "100 200 300 400 2501",
       "# \".txt\";\".doc\";\".exe\";\"Others\";\"Free\""},
      {"no category listed",
       {{"DS", "Category", "Size Used"}, {"DS", "Used", "1,000"}, {"DS", "Free", "2,500.4"}},
       " 1000 2500",
       "# \"Others\";\"Free\""},
      {"big cell",
       {{"DS", "Category", "Size Used"}, {"DS", ".iso", "1,234,567"}, {"DS", "Used", "2,000,000"}, {"DS", "Free", "1"}},
       "1234567 765433 1",
       "# \".iso\";\"Others\";\"Free\""},
  };
  for (const Case& c : cases) {
    const std::string path = Path(c.name);
    ASSERT_EQ(SaveGraphDataToFile(path, ResultOf(CFXDataManager::kKindDetailedSummary, c.rows, "Detailed Summary")), 1)
        << c.name;
    const std::size_t sets = c.rows.size() - 1 - 2 + 2;  // categories, Others and Free
    EXPECT_EQ(Contents(path),
              Lines({"ARRAY " + std::to_string(sets) + " 1", "# X-values", "1", "# Y-values set 1", c.values,
                     "# Window Title", "# \"Detailed Summary\"", "# Header Strings", "# \"Line one\"",
                     "# Point Labels", "# \"" + c.rows[0][2 + (c.rows[0].size() == 4 ? 1 : 0)] + "\"",
                     "# Set Labels", c.sets}))
        << c.name;
  }
}

TEST_F(ChartDataFileTest, MissingColumnsRowsAndKindsWriteNothing) {
  struct Case {
    const char* name;
    int kind;
    Rows rows;
  };
  const Case cases[] = {
      {"summary without Computer Name", 4, {{"DS", "Drive Name", "Used Space", "Free Space"}, {"DS", "C:", "1", "2"}}},
      {"group without Used", 7, {{"S1", "Group Name", "Total"}, {"S1", "staff", "1"}}},
      {"user without User", 11, {{"S1", "Owner", "Total"}, {"S1", "alice", "1"}}},
      {"detailed without Free row", 15, {{"DS", "Category", "Size Used"}, {"DS", "Used", "1"}, {"DS", ".a", "1"}}},
      {"detailed without Used row", 15, {{"DS", "Category", "Size Used"}, {"DS", "Free", "1"}}},
      {"detailed without Size Used", 15, {{"DS", "Category", "Size"}, {"DS", "Used", "1"}, {"DS", "Free", "1"}}},
      {"quota", CFXDataManager::kKindSpaceByQuota, {{"S1", "User", "Total", "Used"}, {"S1", "a", "1", "1"}}},
      {"custom or unknown", 0, {{"S1", "User", "Total"}, {"S1", "a", "1"}}},
      {"no columns", 4, {}},
  };
  for (const Case& c : cases) {
    const std::string path = Path(c.name);
    {
      QFile file(QFile::decodeName(path.c_str()));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write("kept");
    }
    EXPECT_EQ(SaveGraphDataToFile(path, ResultOf(c.kind, c.rows)), 0) << c.name;
    EXPECT_EQ(Contents(path), "kept") << c.name << ": the file must not even be opened";
  }
  for (const int kind : {4, 7, 11, 15}) EXPECT_TRUE(CanGraphReportKind(kind)) << kind;
  for (const int kind : {0, 1, 8, 14, 16}) EXPECT_FALSE(CanGraphReportKind(kind)) << kind;

  // A file that cannot be written.
  EXPECT_EQ(SaveGraphDataToFile(Path("no/such/dir/Gra.tmp"), ResultOf(4, kPartitions)), 0);
}

TEST_F(ChartDataFileTest, ListsSplitAtTheirSeparatorsAndQuotedItemsKeepThem) {
  struct Case {
    const char* list;
    bool ok;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", true, {}},
      {"\"a\"", true, {"a"}},
      {"\"a;b\";\"c,d\"", true, {"a;b", "c,d"}},
      {"\"a\",\"b\"", true, {"a", "b"}},
      {"plain,words", true, {"plain", "words"}},
      {"\"\";\"\"", true, {"", ""}},
      {"\"quoted\"x\"next\"", true, {"quoted", "next"}},  // any one character separates
      {"\"open", false, {}},
      {"\"a\";\"", false, {"a"}},
      {"\"a\";\"b", false, {"a"}},
      {"lone,", true, {"lone"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> items;
    EXPECT_EQ(ParseChartList(c.list, items), c.ok) << c.list;
    EXPECT_EQ(items, c.items) << c.list;
  }
}

TEST_F(ChartDataFileTest, DamagedFilesReadWhatTheyCanAndSayWhere) {
  struct Case {
    const char* name;
    std::string contents;
    ChartFileError error;
    int errorLine;
    bool hasTitle;
    std::vector<std::string> setLabels;
  };
  const Case cases[] = {
      {"empty", "", ChartFileError::None, 0, false, {}},
      {"line feeds only", "# Set Labels\n# \"a\";\"b\"\n# Window Title\n# \"T\"\n", ChartFileError::None, 0, true, {"a", "b"}},
      {"ends after a heading", "# Window Title\r\n# \"T\"\r\n# Set Labels\r\n", ChartFileError::Truncated, 3, true, {}},
      {"ends after the title heading", "# Set Labels\r\n# \"a\"\r\n# Window Title", ChartFileError::Truncated, 3, false, {"a"}},
      {"cut inside an item", "# Set Labels\r\n# \"a\";\"b", ChartFileError::BadList, 2, false, {"a"}},
      {"title without quotes", "# Window Title\r\n# T\r\n# Set Labels\r\n# \"a\"\r\n", ChartFileError::BadTitle, 2, false, {"a"}},
      {"title too short", "# Window Title\r\n#\"\r\n", ChartFileError::BadTitle, 2, false, {}},
      {"binary", std::string("\x00\xff\x01#\x00\n\x80\x81", 8), ChartFileError::None, 0, false, {}},
      {"numbers only", "ARRAY 2 1\r\n1\r\n2 3\r\n", ChartFileError::None, 0, false, {}},
      {"two set sections", "# Set Labels\r\n# \"a\"\r\n# Set Labels\r\n# \"b\";\"c\"\r\n", ChartFileError::None, 0, false, {"b", "c"}},
      {"a shorter second section", "# Set Labels\r\n# \"a\";\"b\"\r\n# Set Labels\r\n# \"c\"\r\n", ChartFileError::None, 0, false, {"c", "b"}},
      {"label line that is not a list", "# Set Labels\r\nx\r\n", ChartFileError::None, 0, false, {}},
  };
  for (const Case& c : cases) {
    const ChartLabels labels = ParseChartLabels(c.contents);
    EXPECT_EQ(labels.error, c.error) << c.name << ": " << ChartFileErrorText(labels.error);
    EXPECT_EQ(labels.errorLine, c.errorLine) << c.name;
    EXPECT_EQ(labels.hasTitle, c.hasTitle) << c.name;
    EXPECT_EQ(labels.setLabels, c.setLabels) << c.name;
  }

  // Files the reader cannot take at all.
  EXPECT_EQ(ReadChartLabels(Path("absent.tmp")).error, ChartFileError::CannotOpen);
  EXPECT_EQ(ReadChartLabels(QFile::encodeName(m_dir.path()).toStdString()).error, ChartFileError::CannotOpen);
  const std::string large = Path("large.tmp");
  {
    QFile file(QFile::decodeName(large.c_str()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(kMaxChartFileSize + 1));  // sparse: costs no disk
  }
  EXPECT_EQ(ReadChartLabels(large).error, ChartFileError::TooLarge);

  // A list of more items than a chart can take stops at the bound.
  std::string many = "# Set Labels\r\n# ";
  for (std::size_t i = 0; i < kMaxListItems + 5; ++i) many += "x,";
  const ChartLabels cut = ParseChartLabels(many);
  EXPECT_EQ(cut.error, ChartFileError::TooManyItems);
  EXPECT_EQ(cut.setLabels.size(), kMaxListItems);
}

}  // namespace
