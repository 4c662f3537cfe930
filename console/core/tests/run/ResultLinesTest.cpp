// The merge's line logic: lines rebuilt across transfer records, which lines
// of which machine are kept, and the sum of totals lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/run/ResultLines.h"

namespace {

using vn::console::AddTotalsLine;
using vn::console::ClassifyResultLine;
using vn::console::CResultLineReader;
using vn::console::MergeAction;

std::vector<std::string> Reassemble(const std::string& text, std::size_t chunkSize) {
  std::vector<std::string> lines;
  CResultLineReader reader;
  const auto onLine = [&](std::string_view line) { lines.emplace_back(line); };
  for (std::size_t at = 0; at < text.size(); at += chunkSize) reader.Feed(std::string_view(text).substr(at, chunkSize), onLine);
  reader.Finish(onLine);
  return lines;
}

TEST(ResultLinesTest, LinesComeOutWholeWhateverTheChunks) {
  // Lines shorter than, equal to and much longer than a chunk, and a chunk
  // boundary between CR and LF.
  const std::vector<std::string> expected = {
      "\"A1\",14,3\r\n", "\"B1\",\"All Files\"\r\n", "\"D1\",\"" + std::string(3000, 'x') + "\",5\r\n", "\r\n",
      "\"D1\",\"short\",1\r\n", "\"TF\",\"Files\",2\r\n"};
  std::string text;
  for (const auto& line : expected) text += line;
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{1024}, text.size()})
    EXPECT_EQ(Reassemble(text, chunk), expected) << "chunks of " << chunk;

  // A file cut short: its last piece still arrives, once.
  EXPECT_EQ(Reassemble("\"D1\",1\r\n\"D1\",2", 3), (std::vector<std::string>{"\"D1\",1\r\n", "\"D1\",2"}));
  EXPECT_TRUE(Reassemble("", 5).empty());
}

TEST(ResultLinesTest, FirstMachineGivesTheHeadingOthersOnlyTheirRows) {
  struct Case {
    const char* line;
    MergeAction first;
    MergeAction others;
  };
  const Case cases[] = {
      {"\"A1\",14,3\r\n", MergeAction::Write, MergeAction::Drop},
      {"\"B1\",\"Computer: SRV1\"\r\n", MergeAction::Write, MergeAction::Drop},
      {"\"H1\",\"FileName\"\r\n", MergeAction::Write, MergeAction::Drop},
      {"\"D1\",\"a.txt\",1\r\n", MergeAction::Write, MergeAction::Write},
      {"\"DS\",\"sum\",1\r\n", MergeAction::Write, MergeAction::Write},
      {"\"S1\",\"x\",1\r\n", MergeAction::Write, MergeAction::Write},
      {"\"TF\",\"Files\",1\r\n", MergeAction::ReplaceTotals, MergeAction::AddTotals},
      {"\r\n", MergeAction::Write, MergeAction::Drop},
      {"D1,unquoted\r\n", MergeAction::Write, MergeAction::Drop},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyResultLine(c.line, true), c.first) << c.line;
    EXPECT_EQ(ClassifyResultLine(c.line, false), c.others) << c.line;
  }
}

TEST(ResultLinesTest, TotalsAreSummedFieldByFieldAlongTheNewLine) {
  struct Case {
    std::string stored;
    std::string added;
    std::string sum;
  };
  const Case cases[] = {
      // Labels from the new line, numbers summed, CR LF at the end.
      {"\"TF\",\"Files\",12,\"Size\",3456\r\n", "\"TF\",\"Files\",3,\"Size\",44\r\n",
       "\"TF\",\"Files\",15,\"Size\",3500\r\n"},
      // Nothing stored yet: the new line itself.
      {"", "\"TF\",\"Files\",3\r\n", "\"TF\",\"Files\",3\r\n"},
      // A field the stored line lacks counts 0; its extra fields are dropped.
      {"\"TF\",\"Files\",1\r\n", "\"TF\",\"Files\",2,\"Size\",7\r\n", "\"TF\",\"Files\",3,\"Size\",7\r\n"},
      {"\"TF\",\"Files\",1,\"Size\",9\r\n", "\"TF\",\"Files\",2\r\n", "\"TF\",\"Files\",3\r\n"},
      // Signed 64-bit: beyond 32 bits, and negative numbers.
      {"\"TF\",\"Size\",4294967296\r\n", "\"TF\",\"Size\",4294967296\r\n", "\"TF\",\"Size\",8589934592\r\n"},
      {"\"TF\",\"Delta\",-5\r\n", "\"TF\",\"Delta\",3\r\n", "\"TF\",\"Delta\",-2\r\n"},
      // A label with a comma is one field; a line without CR LF gets one.
      {"\"TF\",\"Files, all\",1\r\n", "\"TF\",\"Files, all\",1", "\"TF\",\"Files, all\",2\r\n"},
      // A stored label where the new line has a number counts 0; an empty field too.
      {"\"TF\",\"x\",\r\n", "\"TF\",5,6\r\n", "\"TF\",5,6\r\n"},
      // A custom report's totals by their actions: the average weighted by
      // each machine's files (2 files of 10 and 6 of 50 average 40).
      {"\"TF\",\"Files\",2,\"Size (Max)\",9,\"Size (Min)\",4,\"Size (Average)\",10,\"Owner (Store)\",7\r\n",
       "\"TF\",\"Files\",6,\"Size (Max)\",8,\"Size (Min)\",5,\"Size (Average)\",50,\"Owner (Store)\",3\r\n",
       "\"TF\",\"Files\",8,\"Size (Max)\",9,\"Size (Min)\",4,\"Size (Average)\",40,\"Owner (Store)\",3\r\n"},
      // A machine without files does not pull the average; nothing stored takes the new line's.
      {"\"TF\",\"Files\",0,\"Size (Average)\",0\r\n", "\"TF\",\"Files\",3,\"Size (Average)\",7\r\n",
       "\"TF\",\"Files\",3,\"Size (Average)\",7\r\n"},
      {"\"TF\",\"Files\",1\r\n", "\"TF\",\"Files\",3,\"Size (Min)\",7\r\n", "\"TF\",\"Files\",4,\"Size (Min)\",7\r\n"},
  };
  for (const Case& c : cases) {
    std::string totals = c.stored;
    AddTotalsLine(&totals, c.added);
    EXPECT_EQ(totals, c.sum) << "stored " << c.stored << " added " << c.added;
  }

  // Three machines in turn.
  std::string totals;
  for (const char* line : {"\"TF\",\"Files\",1\r\n", "\"TF\",\"Files\",10\r\n", "\"TF\",\"Files\",100\r\n"})
    AddTotalsLine(&totals, line);
  EXPECT_EQ(totals, "\"TF\",\"Files\",111\r\n");
}

}  // namespace
