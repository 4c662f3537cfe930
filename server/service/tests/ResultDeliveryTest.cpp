// A finished result's delivery on its own, in a real result store in a
// temporary folder: the converted formats beside the result and their
// removal with it, and the batch command with what it is handed. (Mail is in
// MailDeliveryTest.cpp.)
#include "server/service/ResultDelivery.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QTemporaryDir>
#include <filesystem>
#include <sstream>

#include "convert/ConvertCSV.h"
#include "server/service/ResultStore.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using vn::KSServerCommunicationReportRec;
using vn::vnsrv::DeliveryOptions;
using vn::vnsrv::ResultDelivery;
using vn::vnsrv::ResultId;
using vn::vnsrv::ResultStore;
using vn::testing::ReadText;
using vn::testing::WriteText;

const std::string kResult =
    "\"A1\",9,4\r\n"
    "\"B1\",\"All Files\"\r\n"
    "\"H1\",\"FileName\",\"Size\",\"Directory\"\r\n"
    "\"D1\",\"a.txt\",1234567,\"\\\\SRV1\\Data\"\r\n"
    "\"D1\",\"b.txt\",42,\"\\\\SRV1\\Data\"\r\n"
    "\"TF\",\"Files\",2,\"Size\",1234609\r\n";

// Gone, or a zombie nobody has reaped yet (it has ended all the same).
bool Ended(int pid) {
  if (kill(pid, 0) != 0) return true;
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || (close + 2 < stat.size() && stat[close + 2] == 'Z');
}

class ResultDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(m_store.Open(), ERROR_SUCCESS); }

  fs::path Dir() const { return fs::path(m_dir.path().toStdString()); }

  // A published result holding `text`.
  fs::path Publish(const std::string& text = kResult) {
    fs::path partial;
    EXPECT_EQ(m_store.Reserve(&m_id, &partial), ERROR_SUCCESS);
    WriteText(partial, text);
    EXPECT_EQ(m_store.Publish(m_id), ERROR_SUCCESS);
    return m_store.ResultPath(m_id);
  }

  vn::vnsrv::DeliveryOutcome Deliver(const KSServerCommunicationReportRec& record, const fs::path& result,
                                     DeliveryOptions options = {}) {
    m_told.clear();
    const ResultDelivery delivery(std::move(options));
    return delivery.Deliver({&record, result, "SRV1", "All Files"},
                            [this](const std::string& text) { m_told.push_back(text); });
  }

  static KSServerCommunicationReportRec Record(DWORD options, const std::string& batch = {}) {
    KSServerCommunicationReportRec record;
    record.Report = vn::kReportAllFiles;
    record.Options = options;
    std::snprintf(record.BatchCommand, sizeof record.BatchCommand, "%s", batch.c_str());
    return record;
  }

  std::vector<std::string> StoreFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Dir() / "results")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  QTemporaryDir m_dir;
  ResultStore m_store{Dir() / "results", std::chrono::hours(24), 10};
  ResultId m_id;
  std::vector<std::string> m_told;
};

TEST_F(ResultDeliveryTest, FormatsAreWrittenBesideTheResultAndGoWithIt) {
  const fs::path result = Publish();
  const auto outcome =
      Deliver(Record(vn::kOptionCommaDelimited | vn::kOptionHtml | vn::kOptionDbf | vn::kOptionAscii), result);
  EXPECT_TRUE(outcome.problems.empty()) << outcome.problems.front();
  const std::string stem = ResultStore::FileStem(m_id);
  ASSERT_EQ(outcome.files, (std::vector<fs::path>{result.parent_path() / (stem + ".txt"),
                                                  result.parent_path() / (stem + ".html"),
                                                  result.parent_path() / (stem + ".dbf")}));
  EXPECT_EQ(ReadText(result), kResult) << "the result itself is left as it was";

  const std::string text = ReadText(outcome.files[0]);
  EXPECT_TRUE(text.starts_with("All Files\r\n")) << text;
  EXPECT_NE(text.find("a.txt     1,234,567  \\\\SRV1\\Data\r\n"), std::string::npos) << text;
  const std::string html = ReadText(outcome.files[1]);
  EXPECT_NE(html.find("<h1>All Files</h1>"), std::string::npos) << html;
  EXPECT_NE(html.find("<td>b.txt</td>"), std::string::npos) << html;
  // dBASE: version byte, then the record count (little endian) in the header.
  const std::string dbf = ReadText(outcome.files[2]);
  ASSERT_GT(dbf.size(), 32u);
  EXPECT_EQ(dbf[0], '\x03');
  EXPECT_EQ(static_cast<unsigned char>(dbf[4]), 2u) << "one record per D1 row";
  EXPECT_NE(dbf.find("KIND"), std::string::npos);
  EXPECT_NE(dbf.find("a.txt"), std::string::npos);

  // A Delete of the result takes its formats with it.
  ASSERT_EQ(m_store.Remove(m_id), ERROR_SUCCESS);
  EXPECT_TRUE(StoreFiles().empty());

  // Comma-delimited alone is the result: nothing is written beside it.
  const fs::path plain = Publish();
  EXPECT_TRUE(Deliver(Record(vn::kOptionCommaDelimited), plain).files.empty());
  EXPECT_EQ(StoreFiles(), std::vector<std::string>{plain.filename()});
}

TEST_F(ResultDeliveryTest, ASweepRemovesFormatsWhoseResultIsGoneAndKeepsTheOthers) {
  const fs::path kept = Publish();
  ASSERT_TRUE(Deliver(Record(vn::kOptionHtml), kept).problems.empty());
  const fs::path gone = Publish();
  ASSERT_TRUE(Deliver(Record(vn::kOptionHtml | vn::kOptionAscii), gone).problems.empty());
  // A server killed between its conversions leaves the converter's partial file too.
  fs::path orphanPart = gone;
  orphanPart.replace_extension(".html.0badf00d.part");
  WriteText(orphanPart, "<html");
  fs::remove(gone);  // as if it had expired
  m_store.Sweep();
  EXPECT_EQ(StoreFiles(), (std::vector<std::string>{kept.filename(), kept.stem().string() + ".html"}));
  // Kept results still count against the bound, their formats do not.
  ResultStore small(Dir() / "results", std::chrono::hours(24), 2);
  ResultId id;
  fs::path partial;
  EXPECT_EQ(small.Reserve(&id, &partial), ERROR_SUCCESS) << "one result and its HTML are one of two";
}

TEST_F(ResultDeliveryTest, AFormatThatCannotBeWrittenIsReportedAndTheResultKept) {
  // A line beyond what the converter reads.
  const std::string huge = kResult + "\"D1\",\"" + std::string(ConvertCSV::kMaxLineLength, 'x') + "\",1,\"d\"\r\n";
  const fs::path result = Publish(huge);
  const auto outcome = Deliver(Record(vn::kOptionHtml | vn::kOptionAscii), result);
  ASSERT_EQ(outcome.problems.size(), 2u);
  EXPECT_TRUE(outcome.problems[0].starts_with("The text output of All Files on SRV1 was not written: "))
      << outcome.problems[0];
  EXPECT_TRUE(outcome.problems[1].starts_with("The HTML output of All Files on SRV1 was not written: "))
      << outcome.problems[1];
  EXPECT_EQ(m_told, outcome.problems);
  EXPECT_TRUE(outcome.files.empty());
  EXPECT_EQ(StoreFiles(), std::vector<std::string>{result.filename()}) << "no half-written file";
  EXPECT_EQ(ReadText(result), huge);
}

TEST_F(ResultDeliveryTest, TheBatchCommandGetsTheResultsByArgumentAndEnvironment) {
  const fs::path out = Dir() / "batch.out";
  vn::testing::WriteScript(Dir(), "batch.sh",
                           "{ pwd; for a in \"$@\"; do echo \"arg=$a\"; done; env | grep '^VN_' | sort; } > '" +
                               out.string() + "'\n");
  // A variable of the server's own is not handed on when its format was not written.
  ASSERT_EQ(setenv("VN_RESULT_DBF", "stale", 1), 0);
  const fs::path result = Publish();
  const auto outcome = Deliver(Record(vn::kOptionAscii | vn::kOptionHtml, "'" + (Dir() / "batch.sh").string() + "' \"$@\""),
                               result);
  unsetenv("VN_RESULT_DBF");
  EXPECT_TRUE(outcome.problems.empty()) << outcome.problems.front();
  EXPECT_EQ(m_told, std::vector<std::string>{"All Files on SRV1: batch command done"});
  const fs::path txt = outcome.files.at(0), html = outcome.files.at(1);
  std::ostringstream expected;
  expected << result.parent_path().string() << "\n"
           << "arg=" << result.string() << "\narg=" << txt.string() << "\narg=" << html.string() << "\n"
           << "VN_MACHINE=SRV1\n"
           << "VN_REPORT=All Files\n"
           << "VN_REPORT_CODE=14\n"
           << "VN_RESULT=" << result.string() << "\n"
           << "VN_RESULT_HTML=" << html.string() << "\n"
           << "VN_RESULT_TEXT=" << txt.string() << "\n";
  EXPECT_EQ(ReadText(out), expected.str());
}

TEST_F(ResultDeliveryTest, ABatchCommandThatFailsOrHangsIsReportedAndTheResultKept) {
  const fs::path result = Publish();
  const fs::path log = Dir() / "batch.log";
  DeliveryOptions options;
  options.batchOutput = vn::ChildStream::AppendTo(log);
  auto outcome = Deliver(Record(0, "echo to the log; echo and errors >&2; exit 3"), result, options);
  EXPECT_EQ(outcome.problems, std::vector<std::string>{"The batch command of All Files on SRV1 ended with exit status 3."});
  EXPECT_EQ(m_told, outcome.problems);
  EXPECT_EQ(ReadText(log), "to the log\nand errors\n");

  outcome = Deliver(Record(0, "kill -9 $$"), result, options);
  EXPECT_EQ(outcome.problems, std::vector<std::string>{"The batch command of All Files on SRV1 was ended by signal 9."});

  // One that does not end is stopped with everything it started.
  const fs::path pidFile = Dir() / "sleeper.pid";
  options.batchTimeout = std::chrono::seconds(1);
  outcome = Deliver(Record(0, "sleep 600 & echo $! > '" + pidFile.string() + "'; wait"), result, options);
  EXPECT_EQ(outcome.problems,
            std::vector<std::string>{"The batch command of All Files on SRV1 did not end within 1 second and was stopped."});
  const int sleeper = vn::testing::WaitForPidFile(pidFile);
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return Ended(sleeper); })) << "the command's child still runs";

  EXPECT_EQ(ReadText(result), kResult);
  EXPECT_EQ(StoreFiles(), std::vector<std::string>{result.filename()});
}

}  // namespace
