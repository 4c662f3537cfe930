// The query language: what it accepts, what it refuses and where, and what
// an accepted query selects.

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "reportdef/Query.h"

namespace vn::reportdef {
namespace {

std::int64_t LocalMidnight(int y, int m, int d) {
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = m - 1, tm.tm_mday = d, tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

struct Refused {
  const char* query;
  std::size_t position;
  const char* text;  // a part of the error text
};

TEST(QueryLanguage, RefusesEachKindOfErrorAtItsPosition) {
  const Refused cases[] = {
      {"Size >", 6, "value is expected"},
      {"Size", 4, "relation"},
      {"Sise > 10", 0, "no field named Sise"},
      {"Files > 1", 0, "cannot be used in a query"},
      {"Size > \"x\"", 7, "compares with a number"},
      {"FileName = 10", 11, "quoted text"},
      {"Revised < 10", 10, "date"},
      {"Revised < 2023-02-29", 10, "no date"},
      {"Revised < 2024-13-01", 10, "no date"},
      {"Size > 10 XB", 10, "no size unit XB"},
      {"Depth > 3 MB", 10, "is no size"},
      {"FileName = \"abc", 11, "closing quote"},
      {"(Size > 1", 0, "closing parenthesis"},
      {"(Size > 1 Depth > 2)", 10, "closing parenthesis expected"},
      {"Size > 1)", 8, "without its opening"},
      {"Size > 1 Depth > 2", 9, "AND or OR expected"},
      {"Size > 1 AND", 12, "at the end"},
      {"AND Size > 1", 0, "field name is expected"},
      {"NOT", 3, "at the end"},
      {"Size # 3", 5, "no meaning"},
      {"Size > 99999999999999999999", 7, "too large"},
      {"Size > 9000000000 GB", 7, "too large"},
  };
  for (const Refused& c : cases) {
    QueryError error;
    EXPECT_EQ(Query::Parse(c.query, error), nullptr) << c.query;
    EXPECT_EQ(error.position, c.position) << c.query << ": " << error.text;
    EXPECT_NE(error.text.find(c.text), std::string::npos) << c.query << ": " << error.text;
  }
}

TEST(QueryLanguage, BoundsNestingAndLength) {
  std::string deep;
  for (unsigned i = 0; i < kMaxDepth; ++i) deep += "NOT ";
  deep += "Size > 1";
  QueryError error;
  EXPECT_NE(Query::Parse(deep, error), nullptr) << error.text;
  EXPECT_EQ(Query::Parse("(" + deep + ")", error), nullptr);
  EXPECT_EQ(error.position, kMaxDepth * 4 + 1 - 4);
  EXPECT_NE(error.text.find("deeper"), std::string::npos);

  std::string parens(kMaxDepth + 1, '(');
  EXPECT_EQ(Query::Parse(parens + "Size > 1" + std::string(kMaxDepth + 1, ')'), error), nullptr);
  EXPECT_EQ(error.position, kMaxDepth);

  std::string longQuery = "Size > 1";
  while (longQuery.size() <= kMaxQueryLength) longQuery += " OR Size > 1";
  EXPECT_EQ(Query::Parse(longQuery, error), nullptr);
  EXPECT_EQ(error.position, kMaxQueryLength);
  EXPECT_NE(error.text.find("longer than"), std::string::npos);
}

struct Case {
  const char* query;
  bool expected;
};

TEST(QueryLanguage, SelectsWhatItSays) {
  FileFacts f;
  f.name = "Report.LOG";
  f.directory = "C:\\Data\\Logs";
  f.owner = "SRV1\\alice";
  f.size = 3 * 1024 * 1024;
  f.allocated = 4 * 1024 * 1024;
  f.now = LocalMidnight(2024, 6, 1) + 3600;
  f.revised = LocalMidnight(2024, 3, 15) + 12 * 3600;  // noon
  f.accessed = f.revised;
  f.created = f.revised;
  f.depth = 2;
  const Case cases[] = {
      {"", true},
      {"   ", true},
      {"Size > 2 MB", true},
      {"Size > 3MB", false},
      {"Size >= 3 mb", true},
      {"size = 3145728", true},
      {"Size <> 3145728", false},
      {"Size < 3073 K", true},
      {"Size <= 1 GB", true},
      {"Wasted = 1 MB", true},
      {"Fill = 75", true},
      {"FileName = \"*.log\"", true},
      {"FileName = \"report.???\"", true},
      {"FileName = \"*.txt\"", false},
      {"FileName <> \"*.txt\"", true},
      {"FileName = \"Report\"", false},
      {"FileName > \"QUEUE\"", true},
      {"FileName < \"queue\"", false},
      {"Extension = \"LOG\"", true},
      {"Type = \"LOG File\"", true},
      {"Directory = \"C:\\Data\\*\"", true},
      {"Owner = \"*\\alice\"", true},
      {"Revised = 2024-03-15", true},
      {"Revised < 2024-03-15", false},
      {"Revised <= 2024-03-15", true},
      {"Revised > 2024-03-15", false},
      {"Revised >= 2024-03-15", true},
      {"Revised > 2024-03-14", true},
      {"Revised <> 2024-03-15", false},
      {"RevisedDays > 70", true},
      {"RevisedDays > 80", false},
      {"Depth = 2", true},
      {"NOT Size > 1 MB", false},
      {"NOT NOT Size > 1 MB", true},
      {"Size > 5 MB OR FileName = \"*.log\"", true},
      {"Size > 5 MB AND FileName = \"*.log\"", false},
      // AND binds closer than OR.
      {"Size > 1 OR Size > 5 MB AND Depth = 9", true},
      {"(Size > 1 OR Size > 5 MB) AND Depth = 9", false},
      {"not (size > 5 mb or depth = 3) and filename = \"*.LOG\"", true},
  };
  for (const Case& c : cases) {
    QueryError error;
    auto q = Query::Parse(c.query, error);
    ASSERT_NE(q, nullptr) << c.query << ": " << error.position << " " << error.text;
    EXPECT_EQ(q->Matches(f), c.expected) << c.query;
  }
}

// What a directory listing alone can rule out: a query is decided early
// only where no value of the fields not yet known could change the answer,
// and with every field known the early answer is the answer itself.
TEST(QueryLanguage, ANameAloneRulesOutOnlyWhatNoMetadataCouldSave) {
  std::uint64_t nameOnly = 0;
  for (unsigned f : {kFileName, kDirectory, kExtension, kType, kDepth}) nameOnly |= std::uint64_t{1} << f;
  FileFacts f;
  f.name = "trace.log";
  f.directory = "C:\\Data";
  f.size = 5000;
  f.depth = 2;
  const Case cases[] = {
      // expected: whether the file may still pass when only its name is known
      {"FileName = \"*.txt\" AND Size > 1", false},
      {"Size > 1 AND FileName = \"*.txt\"", false},
      {"FileName = \"*.txt\" OR Size > 1", true},
      {"Size > 1 OR FileName = \"*.txt\"", true},
      {"NOT FileName = \"*.log\"", false},
      {"NOT (FileName = \"*.log\" AND Size > 1)", true},
      {"NOT (FileName = \"*.log\" OR Size > 1)", false},
      {"NOT (FileName = \"*.txt\" AND Size > 1)", true},
      {"NOT NOT (Extension = \"TXT\" AND Owner = \"x\")", false},
      {"(FileName = \"*.txt\" OR Depth = 3) AND Size > 1", false},
      {"(FileName = \"*.txt\" OR Depth = 2) AND Size > 1", true},
      {"Type = \"LOG File\" AND Size > 9 GB", true},
      {"Size > 9 GB", true},
      {"", true},
  };
  for (const Case& c : cases) {
    QueryError error;
    auto q = Query::Parse(c.query, error);
    ASSERT_NE(q, nullptr) << c.query << ": " << error.position << " " << error.text;
    EXPECT_EQ(q->MayMatch(f, nameOnly), c.expected) << c.query;
    // Nothing known decides nothing but what needs no field; everything
    // known decides as the full evaluation does.
    EXPECT_TRUE(q->MayMatch(f, 0)) << c.query;
    EXPECT_EQ(q->MayMatch(f, ~std::uint64_t{0}), q->Matches(f)) << c.query;
    if (q->Matches(f)) {
      EXPECT_TRUE(q->MayMatch(f, nameOnly)) << c.query;
    }
  }
}

TEST(QueryLanguage, PatternsMatchWithoutCaseAndBacktrack) {
  const std::pair<const char*, const char*> yes[] = {
      {"abc", "ABC"}, {"abc", "A*"}, {"abc", "*C"}, {"abc", "*"}, {"", "*"}, {"aXbXc", "A*B*C"}, {"aaab", "*AAB"},
      {"abc", "A?C"}};
  const std::pair<const char*, const char*> no[] = {{"abc", "AB"}, {"abc", "?"}, {"", "?"}, {"abcd", "A*C"}, {"ab", "A?C"}};
  for (auto [t, p] : yes) EXPECT_TRUE(MatchesPattern(t, p)) << t << " " << p;
  for (auto [t, p] : no) EXPECT_FALSE(MatchesPattern(t, p)) << t << " " << p;
}

}  // namespace
}  // namespace vn::reportdef
