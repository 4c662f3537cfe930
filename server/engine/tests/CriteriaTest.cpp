// The criteria of a report record as the engine reads them.

#include <cstdlib>
#include <ctime>
#include <vector>

#include <gtest/gtest.h>

#include "server/engine/Criteria.h"
#include "server/engine/tests/EngineTestTree.h"

namespace vn::server {
namespace {

ReportCriterion Criterion(DWORD scope, DWORD measure, const char* v1, const char* v2 = "") {
  ReportCriterion c;
  c.Scope = scope;
  c.Measure = measure;
  VN_SET(c.Value1, v1);
  VN_SET(c.Value2, v2);
  return c;
}

TEST(CriteriaTest, FileFilterPatterns) {
  struct Case {
    const char* patterns;
    const char* name;
    bool match;
  } cases[] = {
      {"", "anything", true},          {"*.txt", "a.txt", true},       {"*.txt", "A.TXT", true},
      {"*.txt", "a.txt.bak", false},   {"*.txt;*.log", "x.log", true}, {" *.c ; *.h ", "y.h", true},
      {"*.*", "noext", true},          {"f?o", "foo", true},           {"f?o", "fo", false},
      {"*a*b*c", "xxaxxbxxc", true},   {"*a*b*c", "xxaxxcxxb", false}, {"data", "Data", true},
      {";;", "x", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NameFilter(c.patterns).Matches(c.name), c.match) << c.patterns << " / " << c.name;
  // Many stars against a long name stays a quick miss.
  std::string stars(100, '*');
  stars.push_back('z');
  EXPECT_FALSE(NameFilter(stars).Matches(std::string(200, 'a')));
}

TEST(CriteriaTest, SizeBoundsInTheirUnits) {
  CriterionError error;
  struct Case {
    ReportCriterion c;
    std::int64_t inside, outside;
  } cases[] = {
      {Criterion(3, 2, "2"), 2049, 2048},                // larger than 2 KB
      {Criterion(4, 3, "100"), 99, 100},                 // smaller than 100 bytes
      {Criterion(2, 1, "2", "1"), 1 << 20, (2 << 20) + 1},  // between, either order
      {Criterion(2, 3, "10", "20"), 20, 21},
  };
  for (const Case& k : cases) {
    std::optional<Range> r = SizeRange(k.c, error);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Contains(k.inside)) << k.inside;
    EXPECT_FALSE(r->Contains(k.outside)) << k.outside;
  }
  EXPECT_TRUE(SizeRange(Criterion(5, 1, "x"), error)->all);  // no limit: the value is not read
  EXPECT_TRUE(SizeRange(Criterion(0, 0, ""), error)->all);
  EXPECT_FALSE(SizeRange(Criterion(3, 1, "12abc"), error));
  EXPECT_NE(error.message.find("12abc"), std::string::npos);
  EXPECT_FALSE(SizeRange(Criterion(3, 1, "99999999999999999"), error));  // overflows in bytes
}

TEST(CriteriaTest, DatesCountBackFromNowAndReadCalendarForms) {
  CriterionError error;
  const std::time_t now = 1'764'547'200;  // 2025-12-01 00:00 UTC
  std::optional<Range> since = DateRange(Criterion(4, 5, "10"), now, error);
  ASSERT_TRUE(since);
  EXPECT_TRUE(since->Contains(now - 9 * 86400));
  EXPECT_FALSE(since->Contains(now - 11 * 86400));
  std::optional<Range> before = DateRange(Criterion(3, 7, "1"), now, error);
  ASSERT_TRUE(before);
  EXPECT_TRUE(before->Contains(now - 400 * 86400));
  EXPECT_FALSE(before->Contains(now - 300 * 86400));
  for (const char* text : {"2025-11-20", "11/20/2025", "20.11.2025"}) {
    std::optional<Range> day = DateRange(Criterion(2, 4, text, text), now, error);
    ASSERT_TRUE(day) << text;
    std::tm tm{};
    tm.tm_year = 125, tm.tm_mon = 10, tm.tm_mday = 20, tm.tm_hour = 12, tm.tm_isdst = -1;
    const std::time_t noon = std::mktime(&tm);
    EXPECT_TRUE(day->Contains(noon)) << text;
    EXPECT_FALSE(day->Contains(noon + 86400)) << text;
    EXPECT_FALSE(day->Contains(noon - 86400)) << text;
  }
  for (const char* bad : {"2025-02-31", "yesterday", "1/2", ""})
    EXPECT_FALSE(DateRange(Criterion(4, 4, bad), now, error)) << bad;
  EXPECT_FALSE(DateRange(Criterion(4, 1, "3"), now, error));  // a size unit on a date
}

TEST(CriteriaTest, UnitsNeverShowAFileAsNothing) {
  const SizeUnit kb = UnitFromOptions(kOptionSizesInKilobytes);
  EXPECT_EQ(kb.Show(0), 0);
  EXPECT_EQ(kb.Show(1), 1);
  EXPECT_EQ(kb.Show(1535), 1);
  EXPECT_EQ(kb.Show(1536), 2);
  EXPECT_EQ(UnitFromOptions(kOptionSizesInMegabytes).Show(3 << 20), 3);
  EXPECT_EQ(UnitFromOptions(0).Show(12345), 12345);
  EXPECT_EQ(UnitFromOptions(kOptionSizesInBytes | kOptionSizesInMegabytes).Show(12345), 12345);
}

TEST(CriteriaTest, DatesFormatLikeTheCalendarAlsoWhereClocksChange) {
  const char* before = std::getenv("TZ");
  const std::string saved = before ? before : "";
  // A zone with summer time: the hours around both changes of 2025.
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  std::vector<std::time_t> times = {1, 951782400, 1764547199, 4102444800};
  for (std::time_t change : {std::time_t{1743296400}, std::time_t{1761440400}})
    for (std::time_t d : {-3601, -1, 0, 1, 3599, 3600, 7200})
      times.push_back(change + d);
  DateFormatter f;  // one formatter for all: its cache must not mix hours
  for (std::time_t t : times) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &tm);
    std::string got;
    f.Append(got, t);
    EXPECT_EQ(got, expected) << t;
  }
  EXPECT_EQ(DateText(0), "");
  if (before) ::setenv("TZ", saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace vn::server
