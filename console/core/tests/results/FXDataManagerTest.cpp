// The result data manager on real files in a temporary directory: written by
// hand for the odd shapes, and by the reporting server's own writer.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/results/FXDataManager.h"
#include "server/engine/ResultWriter.h"
#include "testing/TestFiles.h"

namespace vn::console {
namespace {

class ResultFile {
 public:
  explicit ResultFile(const std::string& content) {
    m_path = m_dir.path().toStdString() + "/result.csv";
    vn::testing::WriteText(m_path, content);
  }
  const std::string& path() const { return m_path; }

 private:
  QTemporaryDir m_dir;
  std::string m_path;
};

// Opens and reads `manager` the way the result document does.
void Load(CFXDataManager& manager) {
  ASSERT_TRUE(manager.Open());
  manager.ReadHeader();
  ASSERT_TRUE(manager.ReadAll());
}

std::vector<std::string> Rows(const CFXDataManager& m) {
  std::vector<std::string> rows;
  for (std::uint32_t r = 1; r <= m.GetRecordCount(); ++r) rows.emplace_back(m.Line(r));
  return rows;
}

const std::string kHeader =
    "\"A1\",14,4\r\n"
    "\"B1\",\"All Files\"\r\n"
    "\"B1\",\"Computer: ALPHA\",\"Objects: C:\\Data\"\r\n"
    "\"H1\",\"FileName\",\"Directory\",\"Size\"\r\n";

TEST(FXDataManagerTest, ReadsHeadingRowsAndTotals) {
  ResultFile file(kHeader +
                  "\"D1\",\"a.txt\",\"C:\\Data\",1234\r\n"
                  "\"D1\",\"b, with comma.txt\",\"C:\\Data\",-1234567\r\n"
                  "\"TF\",\"Files\",2,\"Size\",-1233333\r\n");
  CFXDataManager m(file.path());
  std::vector<std::string> status;
  ASSERT_TRUE(m.Open());
  m.ReadHeader();
  ASSERT_TRUE(m.ReadAll([&](const char* text) { status.emplace_back(text); }));
  EXPECT_EQ(status, (std::vector<std::string>{"Vornal: reading data...\n", "Vornal: reading data complete\n"}));

  EXPECT_EQ(m.GetColumnCount(), 4);
  EXPECT_EQ(m.GetReportName(), "All Files");
  EXPECT_EQ(m.GetHeading(), "All Files \r\nComputer: ALPHA Objects: C:\\Data ");
  EXPECT_EQ(m.GetReportKind(), 0);
  EXPECT_FALSE(m.IsCustomReport());
  EXPECT_EQ(m.GetLineCount(), 4u);
  EXPECT_EQ(m.GetRecordCount(), 2u);
  EXPECT_TRUE(m.HasTotals());
  EXPECT_EQ(m.GetTotalsText(), "Files   2 Size   - 1,233,333");
  EXPECT_EQ(m.Line(0), "\"H1\",\"FileName\",\"Directory\",\"Size\"");
  EXPECT_EQ(m.Line(2), "\"D1\",\"b, with comma.txt\",\"C:\\Data\",-1234567");
  EXPECT_EQ(m.Line(4), "");

  // Cells as the grid shows them.
  ASSERT_EQ(m.SplitFields(m.Line(2), 4), 4);
  EXPECT_EQ(CFXDataManager::DisplayValue(m.Field(1)), "b, with comma.txt");
  EXPECT_EQ(CFXDataManager::DisplayValue(m.Field(3)), "- 1,234,567");
  EXPECT_EQ(m.Field(4), "");

  // GetLine cuts at the buffer and always ends the text.
  std::array<char, 1000> line{};
  EXPECT_TRUE(m.GetLine(1, line));
  EXPECT_STREQ(line.data(), "\"D1\",\"a.txt\",\"C:\\Data\",1234");
  std::array<char, 6> shortBuffer{};
  EXPECT_TRUE(m.GetLine(1, shortBuffer));
  EXPECT_STREQ(shortBuffer.data(), "\"D1\",");
  EXPECT_FALSE(m.GetLine(9, line));
  EXPECT_STREQ(line.data(), "");

  m.Close();
  EXPECT_FALSE(m.IsOpen());
  EXPECT_EQ(m.GetRecordCount(), 0u);
  EXPECT_EQ(m.Line(1), "");
  // The same manager opens the file again.
  Load(m);
  EXPECT_EQ(m.GetRecordCount(), 2u);
}

TEST(FXDataManagerTest, OddShapesOfFiles) {
  struct Case {
    const char* name;
    std::string content;
    std::uint32_t lines, records;
    bool totals;
    int columns;
    std::string lastRow;
  };
  const Case cases[] = {
      {"empty file", "", 0, 0, false, 0, ""},
      {"header records only", "\"A1\",14,4\r\n\"B1\",\"All Files\"\r\n", 0, 0, false, 4, ""},
      {"no rows", kHeader, 1, 0, false, 4, ""},
      {"no final line end", kHeader + "\"D1\",\"a\",\"b\",1\r\n\"D1\",\"c\",\"d\",2", 3, 2, false, 4,
       "\"D1\",\"c\",\"d\",2"},
      {"last line ends in a carriage return only", kHeader + "\"D1\",\"a\",\"b\",1\r", 2, 1, false, 4,
       "\"D1\",\"a\",\"b\",1"},
      {"one empty line at the end", kHeader + "\"D1\",\"a\",\"b\",1\r\n\r\n", 2, 1, false, 4, "\"D1\",\"a\",\"b\",1"},
      {"empty lines inside are rows", kHeader + "\"D1\",\"a\",\"b\",1\r\n\r\n\r\n\"D1\",\"c\",\"d\",2\r\n", 5, 4, false,
       4, "\"D1\",\"c\",\"d\",2"},
      {"totals line only", kHeader + "\"TF\",\"Files\",0\r\n", 2, 0, true, 4, ""},
      {"column header line that looks like totals", "\"A1\",1,2\r\n\"TF\",\"Files\",0\r\n", 1, 0, false, 2, ""},
      {"NUL bytes inside a line", kHeader + std::string("\"D1\",\"a\0b\",\"c\",1\r\n", 18), 2, 1, false, 4,
       std::string("\"D1\",\"a\0b\",\"c\",1", 16)},
      {"no A1: columns of the column header line", "\"B1\",\"X\"\r\n\"H1\",\"A\",\"B\"\r\n\"D1\",1,2\r\n", 2, 1, false,
       3, "\"D1\",1,2"},
      {"no header records at all", "\"D1\",\"a\",1\r\n\"D1\",\"b\",2\r\n", 2, 1, false, 3, "\"D1\",\"b\",2"},
      {"A1 column count beyond what a line can hold", "\"A1\",1,5000\r\n\"H1\"\r\n", 1, 0, false,
       CFXDataManager::kMaxFields, ""},
      {"A1 column count that is no number", "\"A1\",1,\"x\"\r\n\"H1\"\r\n", 1, 0, false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultFile file(c.content);
    CFXDataManager m(file.path());
    Load(m);
    EXPECT_EQ(m.GetLineCount(), c.lines);
    EXPECT_EQ(m.GetRecordCount(), c.records);
    EXPECT_EQ(m.HasTotals(), c.totals);
    EXPECT_EQ(m.GetColumnCount(), c.columns);
    EXPECT_EQ(m.Line(c.records), c.records == 0 ? m.Line(0) : std::string_view(c.lastRow));
    // Sorting and marking never reach past the rows.
    EXPECT_TRUE(m.SortByColumn(2));
    m.MarkDeleted(c.records + 1);
    EXPECT_FALSE(m.IsDeleted(c.records + 1));
  }
}

TEST(FXDataManagerTest, LongLinesAndManyBlocks) {
  std::string content = kHeader;
  const std::string longName(5000, 'x');
  content += "\"D1\",\"" + longName + "\",\"dir\",7\r\n";
  for (int i = 0; i < 1234; ++i) content += "\"D1\",\"f" + std::to_string(i) + "\",\"dir\"," + std::to_string(i) + "\r\n";
  content += "\"TF\",\"Files\",1235";
  ResultFile file(content);
  CFXDataManager m(file.path());
  Load(m);
  EXPECT_EQ(m.GetRecordCount(), 1235u);
  EXPECT_EQ(m.GetTotalsText(), "Files   1,235");
  ASSERT_EQ(m.SplitFields(m.Line(1), 4), 4);
  EXPECT_EQ(m.Field(1).size(), longName.size() + 2);
  EXPECT_EQ(m.Field(3), "7");
  EXPECT_EQ(m.Line(1001), "\"D1\",\"f999\",\"dir\",999");
  std::array<char, 1000> buffer{};
  ASSERT_TRUE(m.GetLine(1, buffer));
  EXPECT_EQ(std::string_view(buffer.data()).size(), 999u);
}

// Line ends as the index must find them, in small files and in files large
// enough to be indexed in two halves at once: every carriage return ends a
// line, one line feed right after it belongs to that end, and other line
// feeds are text.
TEST(FXDataManagerTest, IndexesEveryLineAtAnySize) {
  auto reference = [](const std::string& data) {
    std::vector<std::string_view> lines;
    std::size_t p = 0;
    while (p < data.size() && data.compare(p, std::string::npos, "\r\n") != 0) {
      const std::size_t cr = data.find('\r', p);
      lines.push_back(std::string_view(data).substr(p, cr == std::string::npos ? std::string::npos : cr - p));
      if (cr == std::string::npos) break;
      p = cr + 1;
      if (p < data.size() && data[p] == '\n') ++p;
    }
    return lines;
  };
  const std::string ends[] = {"\r\n", "\r", "\n\r\n", "\r\n\r\n", "\r\r\n"};
  for (std::size_t lines : {40u, 200'000u}) {
    for (const std::string tail : {"", "\r\n", "\r\n\r\n", "\"D1\",\"last\""}) {
      SCOPED_TRACE(std::to_string(lines) + " lines, tail " + std::to_string(tail.size()));
      std::string data = "\"H1\",\"Name\",\"Size\"\r\n";
      for (std::size_t i = 0; i < lines; ++i)
        data += "\"D1\",\"a somewhat longer name " + std::to_string(i * 7919 % 100'003) + "\",\"C:\\Data\"," +
                std::to_string(i) + ends[i % 5];
      data += tail;
      ASSERT_TRUE(lines < 1000 || data.size() > (8u << 20));  // large enough for two halves
      ResultFile file(data);
      CFXDataManager m(file.path());
      Load(m);
      const std::vector<std::string_view> expected = reference(data);
      ASSERT_EQ(m.GetLineCount(), expected.size());
      std::size_t mismatches = 0;
      for (std::uint32_t r = 0; r < expected.size(); ++r) mismatches += m.Line(r) != expected[r];
      EXPECT_EQ(mismatches, 0u);
    }
  }
}

TEST(FXDataManagerTest, FilesThatCannotBeOpened) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  for (const std::string& path : {base + "/missing.csv", base, std::string()}) {
    SCOPED_TRACE(path);
    CFXDataManager m(path);
    EXPECT_FALSE(m.Open());
    EXPECT_FALSE(m.IsOpen());
    m.ReadHeader();
    EXPECT_TRUE(m.ReadAll());
    EXPECT_EQ(m.GetRecordCount(), 0u);
    EXPECT_EQ(m.Line(0), "");
  }
}

TEST(FXDataManagerTest, SplitFields) {
  struct Case {
    std::string_view line;
    int count;
    std::vector<std::string_view> fields;
  };
  const Case cases[] = {
      {R"("D1","a,b",12,,"x")", 10, {R"("D1")", R"("a,b")", "12", "", R"("x")"}},
      {R"("D1","a,b",12,,"x")", 2, {R"("D1")", R"("a,b")"}},
      {R"("D1","")", 5, {R"("D1")", R"("")"}},
      {R"("D1","no end)", 5, {R"("D1")"}},
      {R"("D1","x"junk,5)", 5, {R"("D1")", R"("x")", "5"}},
      {R"("D1",12,)", 5, {R"("D1")", "12"}},
      {",", 5, {""}},
      {"", 5, {}},
      {"-7", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::array<std::string_view, 8> out;
    out.fill("stale");
    const int taken = CFXDataManager::SplitFields(c.line, c.count, out);
    ASSERT_EQ(taken, static_cast<int>(c.fields.size()));
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i < c.fields.size() ? c.fields[i] : "");
  }

  // At most 61 fields, however many are asked for and there are.
  std::string wide = "\"D1\"";
  for (int i = 1; i < 80; ++i) wide += "," + std::to_string(i);
  CFXDataManager m("");
  EXPECT_EQ(m.SplitFields(wide, 100), CFXDataManager::kMaxFields);
  EXPECT_EQ(m.Field(60), "60");
  EXPECT_EQ(m.Field(61), "");
  EXPECT_EQ(m.SplitFields("\"D1\",1", 61), 2);
  EXPECT_EQ(m.Field(2), "");
}

TEST(FXDataManagerTest, FormatNumber) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"0", "0"},
      {"12", "12"},
      {"123", "123"},
      {"1234", "1,234"},
      {"123456", "123,456"},
      {"1234567", "1,234,567"},
      {"-5", "- 5"},
      {"-1234", "- 1,234"},
      {"-0", "0"},
      {"007", "7"},
      {"9223372036854775807", "9,223,372,036,854,775,807"},
      {"-9223372036854775808", "- 9,223,372,036,854,775,808"},
      {"123456789012345678901234", "123,456,789,012,345,678,901,234"},
      {"", ""},
      {"-", "-"},
      {"12a", "12a"},
      {" 12", " 12"},
      {"1.5", "1.5"},
      {"--1", "--1"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CFXDataManager::FormatNumber(in), out) << in;
  EXPECT_EQ(CFXDataManager::DisplayValue("\"x, y\""), "x, y");
  EXPECT_EQ(CFXDataManager::DisplayValue("1000"), "1,000");
  EXPECT_EQ(CFXDataManager::DisplayValue(""), "");
}

TEST(FXDataManagerTest, ReportKindAndCustomFlagFromHeading) {
  struct Case {
    std::string b1Lines;
    int kind;
    bool custom;
    std::string name;
  };
  const Case cases[] = {
      {"\"B1\",\"Partition Summary\"\r\n", 4, false, "Partition Summary"},
      {"\"B1\",\"Space By User\"\r\n", 11, false, "Space By User"},
      {"\"B1\",\"Group Usage Report\"\r\n", 7, false, "Group Usage Report"},
      {"\"B1\",\"Space By Quota\"\r\n", 8, false, "Space By Quota"},
      {"\"B1\",\"Detailed Summary\"\r\n", 15, false, "Detailed Summary"},
      {"\"B1\",\"Space By Directory\"\r\n", 0, false, "Space By Directory"},
      // The last heading line that names a summary decides.
      {"\"B1\",\"Space By User\"\r\n\"B1\",\"x\",\"Detailed Summary\"\r\n\"B1\",\"Computer: A\"\r\n", 15, false,
       "Space By User"},
      // On one line the first of the list wins.
      {"\"B1\",\"Detailed Summary\",\"Partition Summary\"\r\n", 4, false, "Detailed Summary"},
      // Only the quoted title counts.
      {"\"B1\",\"Not a Partition Summary report\"\r\n", 0, false, "Not a Partition Summary report"},
      {"\"B1\",\"Custom Report 3\"\r\n", 0, true, "Custom Report 3"},
      {"\"B1\",\"All Files\"\r\n\"B1\",\"cUSTOM\"\r\n", 0, true, "All Files"},
      {"\"B1\",\"CUSTOMERS\"\r\n", 0, true, "CUSTOMERS"},
      {"\"B1\",\"My Custom\"\r\n", 0, false, "My Custom"},
      {"\"B1\",Custom\r\n", 0, false, "Custom"},
      {"\"B1\"\r\n\"B1\",\"Second\"\r\n", 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.b1Lines);
    ResultFile file("\"A1\",4,2\r\n" + c.b1Lines + "\"H1\",\"A\"\r\n");
    CFXDataManager m(file.path());
    Load(m);
    EXPECT_EQ(m.GetReportKind(), c.kind);
    EXPECT_EQ(m.IsCustomReport(), c.custom);
    EXPECT_EQ(m.GetReportName(), c.name);
    EXPECT_EQ(m.Line(0), "\"H1\",\"A\"");
  }
  // Blanks around header fields are dropped; commas inside quotes stay.
  ResultFile file("\"A1\" , 4 , 3 \r\n \"B1\" , \"Run: 1, 2\" , \"x\" \r\n\"H1\",\"A\",\"B\"\r\n");
  CFXDataManager m(file.path());
  Load(m);
  EXPECT_EQ(m.GetColumnCount(), 3);
  EXPECT_EQ(m.GetHeading(), "Run: 1, 2 x ");
}

// A result written by the reporting server's writer reads back field by
// field, whatever the names held.
TEST(FXDataManagerTest, ReadsWhatTheServerWrites) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/server.csv";
  const std::vector<std::string> names = {"plain.txt", "with \"quotes\".txt", "comma, inside", "tab\there",
                                          "line\r\nbreak", "", "caf\xc3\xa9"};
  std::string text;
  server::Row(text, "A1");
  server::Number(text, 14);
  server::Number(text, 4);
  server::EndRow(text);
  server::Row(text, "B1");
  server::Text(text, "All Files");
  server::EndRow(text);
  server::Row(text, "B1");
  server::Text(text, "Computer: ALPHA");
  server::EndRow(text);
  server::Row(text, "H1");
  for (const char* title : {"FileName", "Directory", "Size"}) server::Text(text, title);
  server::EndRow(text);
  std::int64_t total = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::int64_t size = (i % 2 == 0 ? 1 : -1) * static_cast<std::int64_t>(i * 1000003);
    total += size;
    server::Row(text, i == 5 ? "DS" : "D1");
    server::Text(text, names[i]);
    server::Text(text, "C:\\Data");
    server::Number(text, size);
    server::EndRow(text);
  }
  server::Row(text, "TF");
  server::Text(text, "Files");
  server::Number(text, static_cast<std::int64_t>(names.size()));
  server::Text(text, "Size");
  server::Number(text, total);
  server::EndRow(text);
  server::ResultWriter writer;
  ASSERT_EQ(writer.Create(path), 0u);
  writer.Append(text);
  ASSERT_EQ(writer.Finish(), 0u);

  CFXDataManager m(path);
  Load(m);
  EXPECT_EQ(m.GetColumnCount(), 4);
  EXPECT_EQ(m.GetReportName(), "All Files");
  EXPECT_EQ(m.GetHeading(), "All Files \r\nComputer: ALPHA ");
  ASSERT_EQ(m.GetRecordCount(), names.size());
  ASSERT_EQ(m.SplitFields(m.Line(0), 4), 4);
  EXPECT_EQ(m.Field(1), "\"FileName\"");
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(m.SplitFields(m.Line(static_cast<std::uint32_t>(i + 1)), 61), 4);
    EXPECT_EQ(m.Field(0), i == 5 ? "\"DS\"" : "\"D1\"");
    std::string shown;
    server::Text(shown, names[i]);  // ",\"...\"": what the writer made of the name
    EXPECT_EQ(CFXDataManager::DisplayValue(m.Field(1)), shown.substr(2, shown.size() - 3));
    EXPECT_EQ(m.Field(2), "\"C:\\Data\"");
    EXPECT_EQ(std::stoll(std::string(m.Field(3))), (i % 2 == 0 ? 1 : -1) * static_cast<std::int64_t>(i * 1000003));
  }
  EXPECT_EQ(m.GetTotalsText(), "Files   7 Size   " + CFXDataManager::FormatNumber(std::to_string(total)));
}

const std::string kSortable = kHeader +
                              "\"D1\",\"b.txt\",\"C:\\X\",\r\n"
                              "\"D1\",\"A.txt\",\"C:\\Y\",-5\r\n"
                              "\"D1\",\"c.txt\",\"C:\\X\",100\r\n"
                              "\"D1\",\"a.TXT\",\"C:\\Z\",20\r\n"
                              "\"D1\",\"B.txt\",\"C:\\Y\",3\r\n"
                              "\"TF\",\"Files\",5\r\n";

// The rows of kSortable in the current order, by their original numbers.
std::vector<int> Order(const CFXDataManager& m) {
  const std::vector<std::string_view> names = {"", "\"b.txt\"", "\"A.txt\"", "\"c.txt\"", "\"a.TXT\"", "\"B.txt\""};
  std::vector<int> order;
  std::array<std::string_view, 2> out;
  for (const std::string& row : Rows(m)) {
    CFXDataManager::SplitFields(row, 2, out);
    order.push_back(static_cast<int>(std::find(names.begin(), names.end(), out[1]) - names.begin()));
  }
  return order;
}

TEST(FXDataManagerTest, SortsByColumnAndReverses) {
  ResultFile file(kSortable);
  CFXDataManager m(file.path());
  Load(m);
  ASSERT_EQ(Order(m), (std::vector<int>{1, 2, 3, 4, 5}));
  // The first row's size is empty, the later ones hold numbers: numeric, the
  // empty field counting as 0.
  ASSERT_TRUE(m.SortByColumn(4));
  EXPECT_EQ(Order(m), (std::vector<int>{2, 1, 5, 4, 3}));
  EXPECT_EQ(m.GetLastSortedColumn(), 4u);
  EXPECT_FALSE(m.IsSortedDescending());
  ASSERT_TRUE(m.SortByColumn(4));
  EXPECT_EQ(Order(m), (std::vector<int>{3, 4, 5, 1, 2}));
  EXPECT_TRUE(m.IsSortedDescending());
  ASSERT_TRUE(m.SortByColumn(4));
  EXPECT_EQ(Order(m), (std::vector<int>{2, 1, 5, 4, 3}));
  // Another column starts ascending again; text ignores letter case, and
  // equal names keep file order.
  ASSERT_TRUE(m.SortByColumn(2));
  EXPECT_EQ(Order(m), (std::vector<int>{2, 4, 1, 5, 3}));
  EXPECT_FALSE(m.IsSortedDescending());
  EXPECT_EQ(m.GetColumnWidth(2), 8u);
  EXPECT_EQ(m.GetColumnWidth(3), 0xFFFFFFFFu);
  ASSERT_TRUE(m.SortByColumn(2));
  EXPECT_EQ(Order(m), (std::vector<int>{3, 5, 1, 4, 2}));
  ASSERT_TRUE(m.SortByColumn(3));
  EXPECT_EQ(Order(m), (std::vector<int>{1, 3, 2, 5, 4}));
  // A column no row has is text with every key empty: file order.
  ASSERT_TRUE(m.SortByColumn(9));
  EXPECT_EQ(Order(m), (std::vector<int>{1, 2, 3, 4, 5}));
  // The column header line and the totals line keep their places.
  EXPECT_EQ(m.Line(0), "\"H1\",\"FileName\",\"Directory\",\"Size\"");
  EXPECT_EQ(m.Line(6), "\"TF\",\"Files\",5");
  EXPECT_EQ(m.GetRecordCount(), 5u);
}

// Numbers beyond 64 bits sort at the ends of the range, not where a wrapped
// value would put them; quoted values in a numeric column count as 0.
TEST(FXDataManagerTest, NumericKeysAtTheEndsOfTheRange) {
  const std::vector<std::string> values = {"18446744073709551617", "5", "-99999999999999999999", "\"x\"",
                                           "9223372036854775807", "-9223372036854775808", "99999999999999999999",
                                           "-3"};
  std::string content = "\"A1\",1,2\r\n\"H1\",\"Size\"\r\n";
  for (const std::string& v : values) content += "\"D1\"," + v + "\r\n";
  ResultFile file(content);
  CFXDataManager m(file.path());
  Load(m);
  ASSERT_TRUE(m.SortByColumn(2));
  std::vector<std::string> order;
  for (const std::string& row : Rows(m)) order.push_back(row.substr(5));
  EXPECT_EQ(order, (std::vector<std::string>{"-99999999999999999999", "-9223372036854775808", "-3", "\"x\"", "5",
                                             "18446744073709551617", "9223372036854775807",
                                             "99999999999999999999"}));
}

TEST(FXDataManagerTest, DeletedMarksFollowTheirRows) {
  ResultFile file(kSortable);
  CFXDataManager m(file.path());
  Load(m);
  m.MarkDeleted(1);  // b.txt
  m.MarkDeleted(3);  // c.txt
  m.MarkDeleted(0);  // the column header line is no row
  m.MarkDeleted(6);  // nor is the totals line
  auto marked = [&] {
    std::vector<int> rows;
    for (std::uint32_t r = 0; r <= m.GetLineCount(); ++r)
      if (m.IsDeleted(r)) rows.push_back(static_cast<int>(r));
    return rows;
  };
  EXPECT_EQ(marked(), (std::vector<int>{1, 3}));
  for (std::uint32_t column : {4u, 4u, 2u, 3u, 2u}) {
    SCOPED_TRACE(column);
    ASSERT_TRUE(m.SortByColumn(column));
    const std::vector<int> order = Order(m);
    std::vector<int> expected;
    for (std::size_t i = 0; i < order.size(); ++i)
      if (order[i] == 1 || order[i] == 3) expected.push_back(static_cast<int>(i + 1));
    EXPECT_EQ(marked(), expected);
  }
}

// Enough rows for the sort to split the work between threads; the result is
// checked against a plain stable sort of the same keys.
TEST(FXDataManagerTest, LargeSortsMatchAStableSort) {
  const int kRows = 60'000;
  std::vector<std::string> rows;
  std::uint64_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  const char* stems[] = {"Alpha", "alpha", "ALPHABET", "beta", "Beta_long_name_", "b", ""};
  std::string content = kHeader;
  for (int i = 0; i < kRows; ++i) {
    std::string row = "\"D1\",\"" + std::string(stems[next() % 7]) + std::to_string(next() % 50) + "\",\"d\",";
    if (next() % 10 != 0) row += std::to_string(static_cast<std::int64_t>(next() % 2001) - 1000);
    rows.push_back(row);
    content += row + "\r\n";
  }
  content += "\"TF\",\"Files\",60000\r\n";
  ResultFile file(content);
  CFXDataManager m(file.path());
  Load(m);
  ASSERT_EQ(m.GetRecordCount(), static_cast<std::uint32_t>(kRows));

  auto field = [](const std::string& row, int index) {
    std::array<std::string_view, 4> out;
    CFXDataManager::SplitFields(row, 4, out);
    return std::string(out[static_cast<std::size_t>(index)]);
  };
  auto folded = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  std::vector<std::string> byNumber = rows, byName = rows;
  std::stable_sort(byNumber.begin(), byNumber.end(), [&](const std::string& a, const std::string& b) {
    const std::string x = field(a, 3), y = field(b, 3);
    return (x.empty() ? 0 : std::stoll(x)) < (y.empty() ? 0 : std::stoll(y));
  });
  std::stable_sort(byName.begin(), byName.end(),
                   [&](const std::string& a, const std::string& b) { return folded(field(a, 1)) < folded(field(b, 1)); });

  ASSERT_TRUE(m.SortByColumn(4));
  EXPECT_TRUE(Rows(m) == byNumber);
  ASSERT_TRUE(m.SortByColumn(4));
  std::reverse(byNumber.begin(), byNumber.end());
  EXPECT_TRUE(Rows(m) == byNumber);
  ASSERT_TRUE(m.SortByColumn(2));
  EXPECT_TRUE(Rows(m) == byName);
  ASSERT_TRUE(m.SortByColumn(2));
  std::reverse(byName.begin(), byName.end());
  EXPECT_TRUE(Rows(m) == byName);
  EXPECT_EQ(m.Line(static_cast<std::uint32_t>(kRows + 1)), "\"TF\",\"Files\",60000");
}

}  // namespace
}  // namespace vn::console
