#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "console/core/support/Resources.h"

namespace {

using vn::console::KSLoadString;

TEST(ResourcesTest, DocumentStringsHaveTheFieldsTheTemplatesRead) {
  // Fields: (empty) window title, document name, file-new name, filter, extension, type id, type name.
  const auto fields = [](UINT id) {
    return QString::fromUtf8(KSLoadString(id).data(), static_cast<qsizetype>(KSLoadString(id).size()))
        .split(QLatin1Char('\n'));
  };
  EXPECT_EQ(fields(400), (QStringList{QString(), QStringLiteral("Vornal"), QStringLiteral("Vornal")}));
  EXPECT_EQ(fields(401).size(), 7);
  EXPECT_EQ(fields(401).at(4), QStringLiteral("*.csv"));
  EXPECT_EQ(fields(404).at(1), QStringLiteral("Graph"));
}

TEST(ResourcesTest, LoadStringCopiesWhatFitsAndTerminates) {
  char buffer[8];
  EXPECT_EQ(KSLoadString(64306, buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "Vornal");
  EXPECT_EQ(KSLoadString(64383, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "Microso");
  EXPECT_EQ(KSLoadString(12345, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(vn::console::KSHasString(12345));
  EXPECT_TRUE(KSLoadString(12345).empty());
}

TEST(ResourcesTest, EveryReportHasANameInCatalogueOrder) {
  for (UINT i = 0; i < 20; ++i) EXPECT_TRUE(vn::console::KSHasString(vn::console::IDS_FIRST_REPORT_NAME + i)) << i;
  EXPECT_EQ(KSLoadString(vn::console::IDS_FIRST_REPORT_NAME + 19), "Files With Undefined Owners");
}

}  // namespace
