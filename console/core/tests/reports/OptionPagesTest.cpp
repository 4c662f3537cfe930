#include "console/core/reports/OptionPages.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cstring>
#include <string>

#include "console/core/reports/ReportCatalogue.h"

namespace vn::console {
namespace {

using namespace Qt::Literals::StringLiterals;

using K = OptionPageKind;

TEST(OptionPagesTest, EveryStandardReportGetsItsPagesInTabOrder) {
  const OptionTab filter{K::kFilter}, detail{K::kDetail}, output{K::kOutput};
  struct Case {
    DWORD code;
    std::vector<OptionTab> pages;
  };
  const Case cases[] = {
      {kReportFilesByAccessDate, {{K::kDateCriteria}, filter, detail, output}},
      {kReportFilesByRevisionDate, {{K::kDateCriteria}, filter, detail, output}},
      {kReportFilesByCreationDate, {{K::kDateCriteria}, filter, detail, output}},
      {kReportWastedSpace, {{K::kWastedSpaceCriteria}, filter, detail, output}},
      {kReportPartitionSummary, {output}},
      {kReportSpaceByDirectory, {{K::kDirectoryCriteria}, filter, output}},
      {kReportSpaceByGroup, {filter, output}},
      {kReportSpaceByUser, {filter, output}},
      {kReportDetailedSummary, {filter, output}},
      {kReportSpaceByQuota, {{K::kSizeCriteria, SizeForm::kQuota}, output}},
      {kReportSpaceByShare, {{K::kSizeCriteria, SizeForm::kShare}, filter, output}},
      {kReportFilesBySize, {{K::kSizeCriteria, SizeForm::kPlain}, filter, detail, output}},
      {kReportDuplicateFiles, {{K::kDuplicateCriteria}, filter, detail, output}},
      {kReportAllFiles, {filter, detail, output}},
      {kReportFilesWithUndefinedAces, {filter, detail, output}},
      {kReportCustom, {}},
      {0, {}},
      {99, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(PagesForServerCode(c.code), c.pages) << c.code;

  // Every report of the catalogue has at least its "Advanced" page, last.
  for (int index = 0; index < kReportCount; ++index) {
    const auto pages = PagesForServerCode(ServerCodeFromIndex(index));
    ASSERT_FALSE(pages.empty()) << index;
    EXPECT_EQ(pages.back().kind, K::kOutput) << index;
    EXPECT_EQ(PageTitle(pages.front().kind).isEmpty(), false);
  }
  EXPECT_EQ(PageTitle(K::kSizeCriteria), u"Setting"_s);
  EXPECT_EQ(PageTitle(K::kOutput), u"Advanced"_s);
}

TEST(OptionPagesTest, ComboIndexesMapToScopeAndMeasureBothWays) {
  struct Case {
    const char* what;
    std::span<const CodeChoice> choices;
    std::vector<DWORD> codes;  // by index
  };
  const Case cases[] = {
      {"quota comparisons", SizeComparisons(SizeForm::kQuota), {5, 3, 4, 2}},
      {"share comparisons", SizeComparisons(SizeForm::kShare), {5, 3, 4, 2}},
      {"plain size comparisons", SizeComparisons(SizeForm::kPlain), {3, 4, 2}},
      {"quota units", SizeUnits(SizeForm::kQuota), {1, 2, 3, 8}},
      {"share units", SizeUnits(SizeForm::kShare), {1, 2, 3}},
      {"date comparisons", DateComparisons(), {4, 3, 2}},
      {"date units", DateUnits(), {5, 6, 7, 4}},
      {"revision units", RevisionDateUnits(), {5, 6, 7, 4}},
      {"directory comparisons", DirectoryComparisons(), {5, 2, 3, 4}},
      {"directory units", DirectoryUnits(), {1, 2, 3}},
      {"duplicate comparisons", DuplicateComparisons(), {3, 4, 2}},
      {"wasted size comparisons", WastedSizeComparisons(), {3, 4, 2}},
      {"wasted size units", WastedSizeUnits(), {1, 2, 3}},
      {"wasted duplicate comparisons", WastedDuplicateComparisons(), {3, 4, 2}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.choices.size(), c.codes.size()) << c.what;
    for (std::size_t i = 0; i < c.codes.size(); ++i) {
      EXPECT_EQ(ChoiceIndex(c.choices, c.codes[i]), static_cast<int>(i)) << c.what;
      EXPECT_EQ(ChoiceCode(c.choices, static_cast<int>(i)), c.codes[i]) << c.what;
    }
    // A fresh record's 0, or a code this page does not offer, shows the first
    // entry; storing an index out of range stores the first entry's code.
    EXPECT_EQ(ChoiceIndex(c.choices, 0), 0) << c.what;
    EXPECT_EQ(ChoiceCode(c.choices, -1), c.codes.front()) << c.what;
    EXPECT_EQ(ChoiceCode(c.choices, 17), c.codes.front()) << c.what;
  }
  EXPECT_EQ(ChoiceTexts(SizeComparisons(SizeForm::kQuota)),
            QStringList({u"All Quotas"_s, u"Used Larger Than"_s, u"Used Smaller Than"_s, u"Used Between"_s}));
  EXPECT_EQ(ChoiceTexts(DateComparisons()), QStringList({u"Since (<=)"_s, u"Before (>=)"_s, u"Between"_s}));
  EXPECT_EQ(ChoiceTexts(RevisionDateUnits()), QStringList({u"Day(s)"_s, u"Month(s)"_s, u"Year(s)"_s, u"Date"_s}));
  EXPECT_EQ(ChoiceTexts(SizeUnits(SizeForm::kQuota)).last(), u"%"_s);
}

TEST(OptionPagesTest, ComparisonDecidesWhichValueFieldsShow) {
  EXPECT_EQ(FieldsForScope(kScopeAll), ValueFields::kNone);
  EXPECT_EQ(FieldsForScope(kScopeLarger), ValueFields::kFirst);
  EXPECT_EQ(FieldsForScope(kScopeSmaller), ValueFields::kFirst);
  EXPECT_EQ(FieldsForScope(kScopeBetween), ValueFields::kBoth);
  // The quota form's "All Quotas" is index 0; the plain form has no "All".
  EXPECT_EQ(FieldsForScope(ChoiceCode(SizeComparisons(SizeForm::kQuota), 0)), ValueFields::kNone);
  for (int i = 0; i < 3; ++i)
    EXPECT_NE(FieldsForScope(ChoiceCode(SizeComparisons(SizeForm::kPlain), i)), ValueFields::kNone);
}

TEST(OptionPagesTest, TextsAreStoredCutToTheirBufferAndEmptyValuesShowTheirDefault) {
  ReportCriterion criterion;
  EXPECT_EQ(ShownValue(criterion.Value1, kSizeEmptyValue), u"2"_s);
  EXPECT_EQ(ShownValue(criterion.Value1, kWastedSizeEmptyValue), u"1000"_s);

  StoreText(criterion.Value1, QStringLiteral("12345"));
  EXPECT_STREQ(criterion.Value1, "12345");
  EXPECT_EQ(ShownValue(criterion.Value1, kSizeEmptyValue), u"12345"_s);

  // Too long for the 40-byte buffer: 39 characters and the terminator, and
  // a shorter text afterwards leaves nothing of the longer one behind.
  StoreText(criterion.Value2, QString(60, QLatin1Char('9')));
  EXPECT_EQ(std::strlen(criterion.Value2), 39u);
  StoreText(criterion.Value2, QStringLiteral("7"));
  EXPECT_STREQ(criterion.Value2, "7");
  for (std::size_t i = 1; i < sizeof criterion.Value2; ++i) EXPECT_EQ(criterion.Value2[i], '\0');

  ReportOptions options;
  StoreText(options.BatchCommand, QString(2000, QLatin1Char('x')));
  EXPECT_EQ(std::strlen(options.BatchCommand), static_cast<std::size_t>(kBatchCommandMaxLength));
}

TEST(OptionPagesTest, CalendarDatesRoundTripAndEmptyOrDamagedShowToday) {
  const QDate today(2026, 12, 8);
  ReportCriterion criterion;
  EXPECT_EQ(DateFromStored(criterion.Value1, today), today);

  const QDate date(2025, 2, 28);
  StoreText(criterion.Value1, DateToStored(date));
  EXPECT_EQ(DateFromStored(criterion.Value1, today), date);
  // A stored date keeps its century, whatever the locale's short form says.
  EXPECT_TRUE(QString::fromLatin1(criterion.Value1).contains(QLatin1String("2025")));

  StoreText(criterion.Value1, QStringLiteral("2024-07-01"));
  EXPECT_EQ(DateFromStored(criterion.Value1, today), QDate(2024, 7, 1));
  StoreText(criterion.Value1, QStringLiteral("not a date"));
  EXPECT_EQ(DateFromStored(criterion.Value1, today), today);
  StoreText(criterion.Value1, QStringLiteral("31/31/31"));
  EXPECT_EQ(DateFromStored(criterion.Value1, today), today);
}

// Whatever the user's locale, a stored date is one the reporting server reads
// the same way: month/day/year, day.month.year or year-month-day, four-digit
// year.
TEST(OptionPagesTest, StoredDatesKeepAFormTheServerReads) {
  struct Case {
    const char* locale;
    const char* stored;  // 7 March 2025
  };
  const Case cases[] = {
      {"en_US", "3/7/2025"},  {"de_DE", "07.03.2025"}, {"en_GB", "2025-03-07"},
      {"fr_FR", "2025-03-07"}, {"sv_SE", "2025-03-07"}, {"C", "2025-03-07"},
  };
  const QLocale before;
  for (const Case& c : cases) {
    QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
    EXPECT_EQ(DateToStored(QDate(2025, 3, 7)), QString::fromLatin1(c.stored)) << c.locale;
    ReportCriterion criterion;
    StoreText(criterion.Value1, QString::fromLatin1(c.stored));
    EXPECT_EQ(DateFromStored(criterion.Value1, QDate(2000, 1, 1)), QDate(2025, 3, 7)) << c.locale;
  }
  QLocale::setDefault(before);
}

TEST(OptionPagesTest, DuplicatePercentsDefaultToAnExactMatch) {
  struct Case {
    const char* name;
    const char* extension;
    int wantName, wantExtension;
    bool exact;
  };
  const Case cases[] = {
      {"", "", 100, 100, true},      // nothing stored yet
      {"0", "0", 100, 100, true},    // both zero count as nothing
      {"100", "100", 100, 100, true},
      {"80", "100", 80, 100, false},
      {"0", "50", 0, 50, false},     // one zero alone stays
      {"abc", "", 100, 100, true},   // not a number reads as 0
      {"250", "90", 0, 90, false},   // past 100 is no percentage
  };
  for (const Case& c : cases) {
    ReportOptions options;
    std::strcpy(options.Criteria[1].Value1, c.name);
    std::strcpy(options.Criteria[2].Value1, c.extension);
    const DuplicatePercents percents = ReadDuplicatePercents(options);
    EXPECT_EQ(percents.name, c.wantName) << c.name << "/" << c.extension;
    EXPECT_EQ(percents.extension, c.wantExtension) << c.name << "/" << c.extension;
    EXPECT_EQ(percents.Exact(), c.exact) << c.name << "/" << c.extension;
  }
  ReportOptions options;
  StoreDuplicatePercents(options, ReadDuplicatePercents(options));
  EXPECT_STREQ(options.Criteria[1].Value1, "100");
  EXPECT_STREQ(options.Criteria[2].Value1, "100");
  // Only Value1 of the two slots: Value2 and the first slot are untouched.
  EXPECT_STREQ(options.Criteria[1].Value2, "");
  EXPECT_STREQ(options.Criteria[0].Value1, "");
}

TEST(OptionPagesTest, RecordCountReadsLeadingDigitsAndCaps) {
  EXPECT_EQ(RecordCountFromText(u""_s), 0);
  EXPECT_EQ(RecordCountFromText(u"0"_s), 0);
  EXPECT_EQ(RecordCountFromText(u" 250 "_s), 250);
  EXPECT_EQ(RecordCountFromText(u"12ab"_s), 12);
  EXPECT_EQ(RecordCountFromText(u"-5"_s), 0);
  EXPECT_EQ(RecordCountFromText(u"9999999999"_s), 2147483647);
}

TEST(OptionPagesTest, OptionBitsAndDetailColumnsCoverTheRecord) {
  DWORD all = 0;
  for (const OptionBit& bit : SizeOptionBits()) all |= bit.bit;
  for (const OptionBit& bit : FormatOptionBits()) {
    EXPECT_EQ(all & bit.bit, 0u) << bit.text;  // no bit offered twice
    all |= bit.bit;
  }
  EXPECT_EQ(all, 0x7fu);

  const QStringList columns = DetailColumnTexts();
  ASSERT_EQ(columns.size(), static_cast<qsizetype>(kFieldCount));
  // The default mask shows every column but "Owner".
  for (int i = 0; i < columns.size(); ++i)
    EXPECT_EQ(FieldShown(kDefaultFields, i), i != static_cast<int>(kFieldOwner)) << columns[i].toStdString();
  DWORD fields = WithField(kDefaultFields, kFieldOwner, true);
  EXPECT_TRUE(FieldShown(fields, kFieldOwner));
  fields = WithField(fields, kFieldFileName, false);
  EXPECT_FALSE(FieldShown(fields, kFieldFileName));
  EXPECT_EQ(WithField(fields, 40, true), fields);
  EXPECT_FALSE(FieldShown(fields, -1));
}

}  // namespace
}  // namespace vn::console
