// The definition's lists as the designer edits them, validation through the
// definition, and the stored form read back, damaged or whole.

#include <gtest/gtest.h>

#include "reportdef/ReportDefinition.h"

namespace vn::reportdef {
namespace {

ReportDefinition Sample() {
  ReportDefinition d;
  EXPECT_EQ(d.PutDetailField(0, kFileName), 0u);
  EXPECT_EQ(d.PutDetailField(1, kSize), 0u);
  EXPECT_EQ(d.PutSortField(0, kDirectory, kAscending), 0u);
  EXPECT_EQ(d.PutSortField(1, kSize, kDescending), 0u);
  EXPECT_EQ(d.PutSummaryBreakField(0, kDirectory), 0u);
  EXPECT_EQ(d.PutTotalField(0, 0, kSize, kSum, kDirectory), 0u);
  EXPECT_EQ(d.PutTotalField(0, 1, kFiles, kSum, -1), 0u);
  EXPECT_EQ(d.PutFinalTotalField(0, kSize, kSum), 0u);
  EXPECT_EQ(d.PutFinalTotalField(1, kRevisedDays, kAverage), 0u);
  EXPECT_EQ(d.PutSummarySortField(0, kOwner, kAscending), 0u);
  EXPECT_EQ(d.PutSummarySortField(kOwner), 0u);
  EXPECT_EQ(d.PutSummaryTotalField(0, kSize, kSum, kOwner), 0u);
  EXPECT_EQ(d.PutQuery("Size > 1 KB AND FileName = \"*.log\""), 0u);
  EXPECT_EQ(d.PutSummaryQuery("Depth < 3"), 0u);
  return d;
}

TEST(ReportDefinition, ListsFollowThePositionRules) {
  ReportDefinition d;
  int field = -5;
  DWORD order = 9, action = 9;
  int reset = -5;
  EXPECT_EQ(d.GetDetailField(0, field), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(d.PutDetailField(1, kSize), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "a gap";
  EXPECT_EQ(d.PutDetailField(0, kFieldCount), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "no such field";
  EXPECT_EQ(d.PutDetailField(0, kSize), 0u);
  EXPECT_EQ(d.PutDetailField(0, kOwner), 0u) << "replaces";
  ASSERT_EQ(d.GetDetailField(0, field), 0u);
  EXPECT_EQ(field, kOwner);
  EXPECT_EQ(d.GetDetailField(1, field), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(d.PutSortField(0, kSize, 2), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(d.PutFinalTotalField(0, kSize, 5), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Three breaks; deleting the second shifts the third down, and putting a
  // break again at a position then its totals from 0 leaves just those.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(d.PutSummaryBreakField(i, kDirectory + i), 0u);
  ASSERT_EQ(d.PutTotalField(1, 0, kSize, kSum, -1), 0u);
  ASSERT_EQ(d.PutTotalField(2, 0, kWasted, kMax, kDirectory), 0u);
  ASSERT_EQ(d.DeleteSummaryBreakField(1), 0u);
  ASSERT_EQ(d.GetSummaryBreakField(1, field), 0u);
  EXPECT_EQ(field, kSize);
  ASSERT_EQ(d.GetTotalField(1, 0, field, action, reset), 0u);
  EXPECT_EQ(field, kWasted);
  EXPECT_EQ(action, static_cast<DWORD>(kMax));
  EXPECT_EQ(reset, kDirectory);
  ASSERT_EQ(d.DeleteSummaryBreakField(1), 0u);
  ASSERT_EQ(d.PutSummaryBreakField(1, kExtension), 0u);
  ASSERT_EQ(d.PutTotalField(1, 0, kAllocated, kMin, -1), 0u);
  ASSERT_EQ(d.GetTotalField(1, 0, field, action, reset), 0u);
  EXPECT_EQ(field, kAllocated);
  EXPECT_EQ(d.GetTotalField(1, 1, field, action, reset), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(d.DeleteSummaryBreakField(2), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(d.PutTotalField(5, 0, kSize, kSum, -1), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  for (unsigned i = 0; i < kFieldSlots; ++i) ASSERT_EQ(d.PutSortField(static_cast<int>(i), kSize, kAscending), 0u);
  EXPECT_EQ(d.PutSortField(static_cast<int>(kFieldSlots), kSize, kAscending), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  (void)order;
}

TEST(ReportDefinition, ValidationGivesPositionAndTextOfTheQueryLastPut) {
  ReportDefinition d;
  DWORD position = 77;
  EXPECT_EQ(d.ValidateQuery(position), 0u) << "an empty query selects every file";
  EXPECT_EQ(d.ErrorText(), nullptr);
  d.PutQuery("Size > 1 AND Nothing = 2");
  EXPECT_EQ(d.ValidateQuery(position), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(position, 13u);
  ASSERT_NE(d.ErrorText(), nullptr);
  EXPECT_STREQ(d.ErrorText(), "There is no field named Nothing");
  d.PutSummaryQuery("Owner = \"x\"");
  EXPECT_EQ(d.ValidateSummaryQuery(position), 0u);
  EXPECT_EQ(d.ErrorText(), nullptr);
  EXPECT_EQ(d.PutQuery(std::string(kMaxQueryLength + 5, ' ')), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(d.ValidateQuery(position), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(position, kMaxQueryLength);
}

TEST(ReportDefinition, StoredFormReadsBackWhole) {
  const ReportDefinition d = Sample();
  ReportDefinition back;
  std::string message;
  const std::vector<NamedValue> values = d.Encode();
  for (const NamedValue& v : values) {
    EXPECT_TRUE(v.name.starts_with(kValuePrefix)) << v.name;
    EXPECT_LE(v.text.size(), 1000u);
  }
  ASSERT_TRUE(back.Decode(values, message)) << message;
  EXPECT_TRUE(back.SameContent(d));
  // Values of the options beside the definition are none of its business.
  std::vector<NamedValue> withOptions = values;
  withOptions.push_back({"FileFilter", "*.txt"});
  ASSERT_TRUE(back.Decode(withOptions, message));
  EXPECT_TRUE(back.SameContent(d));
  EXPECT_EQ(d.UsedFields() & (std::uint64_t{1} << kOwner), std::uint64_t{1} << kOwner);
  EXPECT_EQ(d.UsedFields() & (std::uint64_t{1} << kDepth), std::uint64_t{1} << kDepth) << "from the summary query";
  EXPECT_EQ(d.UsedFields() & (std::uint64_t{1} << kGroup), 0u);
}

TEST(ReportDefinition, DamagedValuesAreNamedAndChangeNothing) {
  struct Damage {
    const char* name;
    const char* text;
    const char* expected;
  };
  static const std::string tooLong(1001, 'x');
  const Damage cases[] = {
      {"Def.Version", "7", "Def.Version is damaged"},
      {"Def.Detail", "0;x", "Def.Detail is damaged"},
      {"Def.Detail", "0;;1", "Def.Detail is damaged"},
      {"Def.Detail", "59", "Def.Detail is damaged"},
      {"Def.Sort", "1:2", "Def.Sort is damaged"},
      {"Def.Sort", "1", "Def.Sort is damaged"},
      {"Def.Breaks", "-1", "Def.Breaks is damaged"},
      {"Def.Break0.Totals", "3:9:-1", "Def.Break0.Totals is damaged"},
      {"Def.FinalTotals", "3:0:1", "Def.FinalTotals is damaged"},
      {"Def.Summarized", "abc", "Def.Summarized is damaged"},
      {"Def.SummaryTotals", "99999999999999999999:0:0", "Def.SummaryTotals is damaged"},
      {"Def.Query", tooLong.c_str(), "Def.Query is damaged"},
  };
  for (const Damage& c : cases) {
    std::vector<NamedValue> values = Sample().Encode();
    for (NamedValue& v : values)
      if (v.name == c.name) v.text = c.text;
    ReportDefinition target = Sample();
    target.PutDetailField(2, kOwner);
    const ReportDefinition before = target;
    std::string message;
    EXPECT_FALSE(target.Decode(values, message)) << c.name << "=" << c.text;
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_TRUE(target.SameContent(before)) << c.name;
  }
  ReportDefinition d;
  std::string message;
  EXPECT_FALSE(d.Decode({{"FileFilter", "*"}}, message));
  EXPECT_EQ(message, "The custom report has no stored definition");
}

}  // namespace
}  // namespace vn::reportdef
