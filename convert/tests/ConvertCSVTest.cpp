// The conversion library against real result files in a temporary folder:
// every output format read back (dBASE through shapelib's own reader), field
// names, number columns, escaping, and the failures that must leave nothing.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "convert/ConvertCSV.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ReadText;
using vn::testing::WriteText;

// A listing with a text column holding a comma and markup, a number column
// with a value beyond 2^53, an empty cell, a "DS" summary row and totals.
const std::string kResult =
    "\"A1\",9,4\r\n"
    "\"B1\",\"All Files\"\r\n"
    "\"B1\",\"Computer: <SRV1> & co\"\r\n"
    "\"H1\",\"FileName\",\"Size\",\"Directory Name Long\"\r\n"
    "\"D1\",\"a,b.txt\",1234567,\"C:\\Data\"\r\n"
    "\"D1\",\"<b>.txt\",9007199254740993,\"\"\r\n"
    "\"DS\",\"\",-42,\"C:\\Data\"\r\n"
    "\"TF\",\"Files\",3,\"Size\",1234\r\n";

class ConvertCSVTest : public ::testing::Test {
 protected:
  std::string Source(const std::string& text = kResult) {
    const std::string path = Path("result.csv");
    WriteText(path, text);
    return path;
  }
  std::string Path(const std::string& name) const { return (fs::path(m_dir.path().toStdString()) / name).string(); }
  std::size_t FileCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_dir.path().toStdString()), {}));
  }

  QTemporaryDir m_dir;
  ConvertCSV m_convert;
};

TEST_F(ConvertCSVTest, TextAlignsColumnsAndKeepsHeadingAndTotals) {
  const std::string out = Path("r.txt");
  ASSERT_EQ(m_convert.ReformatFile(out, Source(), ConvertCSV::kText), "");
  const std::string text = ReadText(out);
  EXPECT_EQ(text,
            "All Files\r\n"
            "Computer: <SRV1> & co\r\n"
            "\r\n"
            "FileName                   Size  Directory Name Long\r\n"
            "--------  ---------------------  -------------------\r\n"
            "a,b.txt               1,234,567  C:\\Data\r\n"
            "<b>.txt   9,007,199,254,740,993\r\n"
            "                           - 42  C:\\Data\r\n"
            "\r\n"
            "Files   3 Size   1,234\r\n");
}

TEST_F(ConvertCSVTest, HtmlIsOneEscapedTable) {
  const std::string out = Path("r.htm");
  ASSERT_EQ(m_convert.ReformatFile(out, Source(), ConvertCSV::kHtml), "");
  const std::string html = ReadText(out);
  EXPECT_NE(html.find("<h1>All Files</h1>"), std::string::npos);
  EXPECT_NE(html.find("<p>Computer: &lt;SRV1&gt; &amp; co</p>"), std::string::npos);
  EXPECT_NE(html.find("<tr><th>FileName</th><th>Size</th><th>Directory Name Long</th></tr>"), std::string::npos);
  EXPECT_NE(html.find("<tr><td>a,b.txt</td><td align=\"right\">1,234,567</td><td>C:\\Data</td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("<td>&lt;b&gt;.txt</td>"), std::string::npos);
  EXPECT_EQ(html.find("<b>.txt"), std::string::npos);
  EXPECT_NE(html.find("<p><b>Files   3 Size   1,234</b></p>"), std::string::npos);
  EXPECT_EQ(html.find("TF"), std::string::npos);
}

TEST_F(ConvertCSVTest, DBaseReadsBackThroughShapelib) {
  const std::string out = Path("r.dbf");
  ASSERT_EQ(m_convert.ReformatFile(out, Source(), ConvertCSV::kDBase), "");
  DBFHandle dbf = DBFOpen(out.c_str(), "rb");
  ASSERT_NE(dbf, nullptr);
  ASSERT_EQ(DBFGetFieldCount(dbf), 4);
  ASSERT_EQ(DBFGetRecordCount(dbf), 3);  // the totals line is not a record

  struct Expected {
    const char* name;
    DBFFieldType type;
    int width;
  };
  // Names cut to ten characters; the number column holds 2^53 + 1 exactly.
  const Expected fields[] = {{"KIND", FTString, 4}, {"FILENAME", FTString, 7}, {"SIZE", FTDouble, 16},
                             {"DIRECTORY_", FTString, 7}};
  for (int i = 0; i < 4; ++i) {
    char name[12] = {};
    int width = 0, decimals = 0;
    EXPECT_EQ(DBFGetFieldInfo(dbf, i, name, &width, &decimals), fields[i].type) << i;
    EXPECT_STREQ(name, fields[i].name);
    EXPECT_EQ(width, fields[i].width) << name;
    EXPECT_EQ(decimals, 0);
  }
  EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 0), "D1");
  EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 1), "a,b.txt");
  EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 3), "C:\\Data");
  std::string big = DBFReadStringAttribute(dbf, 1, 2);
  big.erase(0, big.find_first_not_of(' '));
  EXPECT_EQ(big, "9007199254740993");
  EXPECT_TRUE(DBFIsAttributeNULL(dbf, 1, 3));
  EXPECT_STREQ(DBFReadStringAttribute(dbf, 2, 0), "DS");
  EXPECT_TRUE(DBFIsAttributeNULL(dbf, 2, 1));
  EXPECT_EQ(DBFReadIntegerAttribute(dbf, 2, 2), -42);
  DBFClose(dbf);
}

TEST_F(ConvertCSVTest, DBaseFieldNamesAreShortUniqueAndTextsCapped) {
  const std::string longText(300, 'x');
  const std::string source = Source(
      "\"A1\",9,6\r\n"
      "\"H1\",\"Accessed Days\",\"Accessed Date\",\"Accessed Dx\",\"\",\"%%\",\"Kind\"\r\n"
      "\"D1\",\"" + longText + "\",\"a\",\"b\",\"c\",\"d\",\"e\"\r\n");
  const std::string out = Path("names.dbf");
  ASSERT_EQ(m_convert.ReformatFile(out, source, ConvertCSV::kDBase), "");
  DBFHandle dbf = DBFOpen(out.c_str(), "rb");
  ASSERT_NE(dbf, nullptr);
  const char* expected[] = {"KIND", "ACCESSED_D", "ACCESSED_2", "ACCESSED_3", "FIELD4", "FIELD5", "KIND_2"};
  ASSERT_EQ(DBFGetFieldCount(dbf), 7);
  for (int i = 0; i < 7; ++i) {
    char name[12] = {};
    int width = 0;
    DBFGetFieldInfo(dbf, i, name, &width, nullptr);
    EXPECT_STREQ(name, expected[i]);
    if (i == 1) {
      EXPECT_EQ(width, 254);
    }
  }
  EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 1)), longText.substr(0, 254));
  DBFClose(dbf);
}

TEST_F(ConvertCSVTest, CommaDelimitedIsACopyThatReplaces) {
  const std::string out = Path("copy.csv");
  WriteText(out, "old");
  ASSERT_EQ(m_convert.ReformatFile(out, Source(), ConvertCSV::kCommaDelimited), "");
  EXPECT_EQ(ReadText(out), kResult);
}

TEST_F(ConvertCSVTest, FailuresSayWhatAndLeaveNothing) {
  const std::string source = Source();
  const std::string existing = Path("kept.txt");
  WriteText(existing, "kept");
  const std::size_t before = FileCount();

  struct Case {
    const char* what;
    std::string destination;
    std::string source;
    std::uint32_t options;
    const char* says;
  };
  const std::string noHeader = Path("noheader.csv");
  WriteText(noHeader, "\"A1\",1,2\r\n\"B1\",\"Only heading\"\r\n");
  const std::string longLine = Path("long.csv");
  WriteText(longLine, "\"A1\",1,2\r\n\"H1\",\"x\"\r\n\"D1\",\"" + std::string(ConvertCSV::kMaxLineLength + 5, 'y') +
                          "\"\r\n");
  const Case cases[] = {
      {"missing source", existing, Path("none.csv"), ConvertCSV::kText, "Cannot open"},
      {"no column header line", existing, noHeader, ConvertCSV::kHtml, "no column header line"},
      {"line too long", existing, longLine, ConvertCSV::kDBase, "is longer than"},
      {"unknown format", existing, source, 0x01, "format is unknown"},
      {"onto itself", source, source, ConvertCSV::kText, "onto itself"},
      {"folder missing", Path("no/such/dir/out.txt"), source, ConvertCSV::kText, "Cannot create"},
  };
  for (const Case& c : cases) {
    const std::string error = m_convert.ReformatFile(c.destination, c.source, c.options);
    EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
  }
  EXPECT_EQ(ReadText(existing), "kept");
  EXPECT_EQ(ReadText(source), kResult);
  EXPECT_EQ(FileCount(), before + 2);  // the two sources written above, no partial outputs
}

TEST_F(ConvertCSVTest, ResultWithoutRowsOrTotals) {
  const std::string source = Source("\"A1\",9,3\r\n\"B1\",\"Empty\"\r\n\"H1\",\"Name\",\"Size\"\r\n");
  ASSERT_EQ(m_convert.ReformatFile(Path("e.txt"), source, ConvertCSV::kText), "");
  EXPECT_EQ(ReadText(Path("e.txt")), "Empty\r\n\r\nName  Size\r\n----  ----\r\n");
  ASSERT_EQ(m_convert.ReformatFile(Path("e.dbf"), source, ConvertCSV::kDBase), "");
  DBFHandle dbf = DBFOpen(Path("e.dbf").c_str(), "rb");
  ASSERT_NE(dbf, nullptr);
  EXPECT_EQ(DBFGetRecordCount(dbf), 0);
  EXPECT_EQ(DBFGetFieldCount(dbf), 3);
  DBFClose(dbf);
}

}  // namespace
