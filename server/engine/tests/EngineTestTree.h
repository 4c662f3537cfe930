#pragma once
// Test support for the engine: small real trees in temporary directories,
// report records, and result files read back field by field by an
// independent reader of the result format.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine/ReportEngine.h"

namespace vn::server::testing {

// A temporary directory (0755) removed with everything in it at the end,
// also directories made unreadable by a test.
class TestTree {
 public:
  TestTree();
  ~TestTree();
  TestTree(const TestTree&) = delete;
  TestTree& operator=(const TestTree&) = delete;

  const std::filesystem::path& Root() const { return m_root; }
  std::filesystem::path Dir(const std::string& rel);
  // A file of `size` bytes of `fill` (parents created).
  std::filesystem::path File(const std::string& rel, std::size_t size, char fill = 'x');
  std::filesystem::path Content(const std::string& rel, const std::string& bytes);
  // Sets access and modification times, seconds since 1970.
  void Times(const std::string& rel, std::int64_t accessed, std::int64_t modified);
  // The object a report runs on: this tree shown as `shownRoot`.
  ScanObject Object(const std::string& shownRoot = "C:\\T", const std::string& named = "C:\\T") const;
  // A directory for result files, outside the tree.
  std::filesystem::path ResultDir() const { return m_results; }

 private:
  std::filesystem::path m_base;
  std::filesystem::path m_root;
  std::filesystem::path m_results;
};

// A record for `code` with the defaults a new report has.
KSServerCommunicationReportRec Record(DWORD code);
void SetText(char* field, std::size_t size, std::string_view text);
#define VN_SET(field, text) ::vn::server::testing::SetText(field, sizeof field, text)

struct ParsedResult {
  std::vector<std::string> a1;
  std::vector<std::vector<std::string>> heading;  // texts of each "B1" line
  std::vector<std::string> columns;               // titles, record kind not included
  std::vector<std::vector<std::string>> rows;     // every row with its kind at [0]
  std::vector<std::string> totals;                // "TF" fields after the kind, empty when none

  std::string Title() const { return heading.empty() || heading[0].empty() ? std::string() : heading[0][0]; }
  bool HeadingHas(std::string_view text) const;
  // Index of a column in a row (1-based, as the kind is at 0); -1 when none.
  int Column(std::string_view title) const;
  // The values of a column in the rows of `kind`.
  std::vector<std::string> Values(std::string_view title, std::string_view kind = "D1") const;
  std::size_t Count(std::string_view kind) const;
  std::int64_t Total(std::string_view label) const;  // the number after `label` in "TF"
};

// Reads a result file strictly: CR LF line ends, quoted texts without
// quotes inside, unquoted fields signed 64-bit decimals, "A1"/"B1" first,
// "TF" only last; every violation is a test failure.
ParsedResult ParseResult(const std::string& bytes);

struct RunOutcome {
  ReportResult result;
  bool exists = false;
  ParsedResult parsed;
  std::string bytes;
};
// Runs one report on `objects` into a new file in the tree's result dir.
RunOutcome RunOn(const TestTree& tree, const KSServerCommunicationReportRec& record,
               const std::vector<ScanObject>& objects, EngineOptions options = {});
RunOutcome RunOn(const TestTree& tree, const KSServerCommunicationReportRec& record);

// Options whose account callbacks know uid/gid 0 as "root" and `uid`/`gid`
// of the test process as "tester"/"testers"; every other id is undefined.
EngineOptions TestAccounts();

// Total apparent and allocated bytes of a tree, as `du` counts them.
std::pair<std::uint64_t, std::uint64_t> DuTotals(const std::filesystem::path& root);

}  // namespace vn::server::testing
