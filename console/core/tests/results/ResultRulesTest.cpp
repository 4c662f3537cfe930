// The result window's rules without a window: the names Save and Save As
// write, the zoom steps, which columns name files, and when the file
// commands may run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/grid/GridZoom.h"
#include "console/core/results/ResultRules.h"

namespace {

using namespace vn::console;

TEST(ResultRulesTest, SaveAlwaysWritesACsvName) {
  const std::pair<const char*, const char*> cases[] = {
      {"report", "report.csv"},         {"report.", "report.csv"},          {"REPORT.CSV", "REPORT.CSV"},
      {"a/b/report.Csv", "a/b/report.Csv"}, {"report.txt", "report.txt.csv"}, {"dir.x/report", "dir.x/report.csv"},
  };
  for (const auto& [chosen, written] : cases) EXPECT_EQ(CsvFileName(chosen), written) << chosen;
}

TEST(ResultRulesTest, SaveAsAddsTheTypesExtensionOnlyToNamesWithoutOne) {
  struct Case {
    const char* chosen;
    const char* extension;
    const char* written;
  };
  const Case cases[] = {
      {"report", "txt", "report.txt"},   {"report.", "htm", "report.htm"},      {"report.dat", "dbf", "report.dat"},
      {"dir.d/report", "dbf", "dir.d/report.dbf"}, {"dir.d\\r", "csv", "dir.d\\r.csv"}, {"R.TXT", "txt", "R.TXT"},
  };
  for (const Case& c : cases) EXPECT_EQ(SaveAsFileName(c.chosen, c.extension), c.written) << c.chosen;
  // The filter's order gives the type: text, comma-delimited, HTML, dBASE.
  const std::uint32_t formats[] = {0x40, 0x08, 0x10, 0x20};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kSaveAsTypes[i].options, formats[i]);
}

TEST(ResultRulesTest, ZoomStepsAndBounds) {
  std::vector<int> in = {100};
  while (CanZoomIn(in.back())) in.push_back(ZoomedIn(in.back()));
  EXPECT_EQ(std::vector<int>(in.begin(), in.begin() + 4), (std::vector<int>{100, 110, 121, 133}));
  EXPECT_GE(in.back(), 300);
  EXPECT_LT(in[in.size() - 2], 300);
  EXPECT_EQ(ZoomedIn(in.back()), in.back());

  std::vector<int> out = {100};
  while (CanZoomOut(out.back())) out.push_back(ZoomedOut(out.back()));
  EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + 4), (std::vector<int>{100, 90, 81, 73}));
  EXPECT_LE(out.back(), 40);
  EXPECT_GT(out[out.size() - 2], 40);
  EXPECT_FALSE(CanZoomOut(40));
  EXPECT_TRUE(CanZoomOut(41));
  EXPECT_FALSE(CanZoomIn(300));
  EXPECT_TRUE(CanZoomIn(299));
}

TEST(ResultRulesTest, FileColumnsAreTheLastTitledSoWithoutCase) {
  struct Case {
    std::vector<std::string> header;
    int directory;
    int fileName;
  };
  const Case cases[] = {
      {{"H1", "FileName", "Directory", "Size"}, 3, 2},
      {{"H1", "path", "filename", "DIRECTORY", "FILENAME"}, 4, 5},
      {{"H1", "Directory", "Size"}, 2, 0},
      {{"H1", "File Name", "Dir"}, 0, 0},
  };
  for (const Case& c : cases) {
    const FileColumns columns = FindFileColumns(c.header);
    EXPECT_EQ(columns.directory, c.directory);
    EXPECT_EQ(columns.fileName, c.fileName);
    EXPECT_EQ(columns.Found(), c.directory && c.fileName);
  }
  EXPECT_EQ(RowPath("C:\\Data", "a.txt"), "C:\\Data\\a.txt");
  EXPECT_EQ(RowPath("\\\\SRV1\\Data\\", "a.txt"), "\\\\SRV1\\Data\\a.txt");
  EXPECT_EQ(RowPath("C:\\Data\\Old", ""), "C:\\Data\\Old\\");
}

TEST(ResultRulesTest, FileCommandsNeedARunsResultWithLiveFileRows) {
  const FileColumns files{3, 2};
  const SelectedRow d1{1, "D1", false}, d2{2, "D1", false}, gone{3, "D1", true}, ds{4, "DS", false},
      header{0, "H1", false};
  struct Case {
    const char* what;
    FileColumns columns;
    bool runResult;
    std::vector<SelectedRow> selection;
    bool allowed;
  };
  const Case cases[] = {
      {"file rows of a run", files, true, {d1, d2}, true},
      {"opened from disk", files, false, {d1, d2}, false},
      {"no file columns", FileColumns{3, 0}, true, {d1}, false},
      {"nothing selected", files, true, {}, false},
      {"a DS row selected last", files, true, {d1, ds}, false},
      {"a DS row selected first", files, true, {ds, d1}, true},
      {"only deleted rows and the header", files, true, {gone, header}, false},
      {"one live row among deleted", files, true, {gone, d2}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(FilesOnly(c.columns, c.runResult, c.selection), c.allowed) << c.what;
}

}  // namespace
