// A custom report's definition in the registry of real test machines: saved
// beside its options, carried whole by a copy (the Reports tab's paste) from
// one machine to another, gone with a delete, and a value damaged by hand
// named when the report is opened.

#include <gtest/gtest.h>

#include "console/core/reports/ReportGeneratorDll.h"
#include "console/core/reports/ReportSetStore.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"

namespace vn::console {
namespace {

namespace rd = vn::reportdef;
using vn::testing::MachineNetwork;

constexpr const char* kKey = "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\Big Logs";

ReportGeneratorDll Sample(int breaks) {
  ReportGeneratorDll d;
  d.PutDetailField(0, rd::kFileName);
  d.PutDetailField(1, rd::kSize);
  d.PutSortField(0, rd::kDirectory, rd::kAscending);
  d.PutSortField(1, rd::kSize, rd::kDescending);
  for (int b = 0; b < breaks; ++b) {
    d.PutSummaryBreakField(b, b == 0 ? rd::kDirectory : rd::kSize);
    d.PutTotalField(b, 0, rd::kSize, rd::kSum, rd::kDirectory);
  }
  d.PutFinalTotalField(0, rd::kSize, rd::kMax);
  d.PutSummarySortField(0, rd::kOwner, rd::kAscending);
  d.PutSummarySortField(rd::kOwner);
  d.PutSummaryTotalField(0, rd::kFiles, rd::kSum, -1);
  d.PutQuery("Size > 1 MB AND FileName = \"*.log\"");
  return d;
}

LONG SetText(const std::string& machine, const char* name, const std::string& text, DWORD type = REG_SZ) {
  HKEY root = nullptr, key = nullptr;
  LONG rc = RegConnectRegistryA(("\\\\" + machine).c_str(), HKEY_LOCAL_MACHINE, &root);
  if (rc) return rc;
  rc = RegOpenKeyExA(root, kKey, 0, KEY_ALL_ACCESS, &key);
  if (rc == 0) {
    rc = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }
  RegCloseKey(root);
  return rc;
}

class CustomReportStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_net.Add({"SRV1", "SALES", vn::MachineRole::Server, {}});
    m_net.Add({"SRV2", "SALES", vn::MachineRole::Server, {}});
    ASSERT_TRUE(m_net.StartAll());
  }
  MachineNetwork m_net{"SALES"};
};

TEST_F(CustomReportStoreTest, DefinitionTravelsWithItsReportAndGoesWithIt) {
  const ReportGeneratorDll saved = Sample(1);
  ASSERT_EQ(saved.SaveReportDefinition("SRV1", "Big Logs"), ERROR_SUCCESS);
  ReportOptions options;
  std::snprintf(options.FileFilter, sizeof options.FileFilter, "*.log");
  options.RptLen = 50;
  ASSERT_EQ(SaveCustomReportOptions("SRV1", "Big Logs", options), ERROR_SUCCESS);

  // Paste on another machine, under the same name and under a new one.
  ASSERT_EQ(CopyStoredReport("SRV1", "Big Logs", "SRV2", "", StoredReportKind::CustomReport), ERROR_SUCCESS);
  ASSERT_EQ(CopyStoredReport("SRV1", "Big Logs", "\\\\SRV2", "Copy", StoredReportKind::CustomReport), ERROR_SUCCESS);
  for (const char* name : {"Big Logs", "Copy"}) {
    SCOPED_TRACE(name);
    ReportGeneratorDll loaded;
    ASSERT_EQ(loaded.LoadReportDefinition("SRV2", name), ERROR_SUCCESS) << loaded.LoadMessage();
    EXPECT_TRUE(loaded.SameContent(saved));
    ReportOptions back;
    ASSERT_EQ(LoadCustomReportOptions("SRV2", name, back), ERROR_SUCCESS);
    EXPECT_STREQ(back.FileFilter, "*.log");
    EXPECT_EQ(back.RptLen, 50);
  }

  // A shorter definition saved over a longer one leaves nothing of it: the
  // copy that replaces the other machine's report then matches it exactly.
  ASSERT_EQ(Sample(3).SaveReportDefinition("SRV2", "Big Logs"), ERROR_SUCCESS);
  ASSERT_EQ(ReplaceStoredReport("SRV1", "Big Logs", "SRV2", "", StoredReportKind::CustomReport), ERROR_SUCCESS);
  ReportGeneratorDll replaced;
  ASSERT_EQ(replaced.LoadReportDefinition("SRV2", "Big Logs"), ERROR_SUCCESS);
  EXPECT_TRUE(replaced.SameContent(saved));
  ASSERT_EQ(Sample(3).SaveReportDefinition("SRV1", "Big Logs"), ERROR_SUCCESS);
  ASSERT_EQ(saved.SaveReportDefinition("SRV1", "Big Logs"), ERROR_SUCCESS);
  HKEY root = nullptr, key = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &root), 0);
  ASSERT_EQ(RegOpenKeyExA(root, kKey, 0, KEY_READ, &key), 0);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Def.Break2.Totals", nullptr, &type, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  RegCloseKey(root);

  ASSERT_EQ(DeleteCustomReport("SRV2", "Copy"), ERROR_SUCCESS);
  ReportGeneratorDll gone;
  EXPECT_EQ(gone.LoadReportDefinition("SRV2", "Copy"), ERROR_FILE_NOT_FOUND);
}

TEST_F(CustomReportStoreTest, DamagedValuesAreNamedWhenOpened) {
  struct Damage {
    const char* name;
    std::string text;
    DWORD type;
    const char* says;
  };
  const Damage cases[] = {
      {"Def.Sort", "3:x", REG_SZ, "Def.Sort is damaged"},
      {"Def.Breaks", "1;1;1", REG_SZ, "Def.Break1.Totals is damaged"},
      {"Def.Detail", "1", REG_DWORD, "Def.Detail is not a text"},
      {"Def.Query", std::string(1100, 'x'), REG_SZ, "Def.Query is too long"},
      {"Def.Version", "2", REG_SZ, "Def.Version is damaged"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Sample(1).SaveReportDefinition("SRV1", "Big Logs"), ERROR_SUCCESS);
    ASSERT_EQ(SetText("SRV1", c.name, c.text, c.type), 0);
    ReportGeneratorDll loaded = Sample(2);
    EXPECT_EQ(loaded.LoadReportDefinition("SRV1", "Big Logs"), ERROR_INVALID_DATA);
    EXPECT_NE(loaded.LoadMessage().find(c.says), std::string::npos) << loaded.LoadMessage();
    EXPECT_TRUE(loaded.SameContent(Sample(2))) << "a failed load changes nothing";
  }
  // Options without any definition (a key written by hand).
  ASSERT_EQ(SaveCustomReportOptions("SRV1", "Bare", ReportOptions{}), ERROR_SUCCESS);
  ReportGeneratorDll bare;
  EXPECT_EQ(bare.LoadReportDefinition("SRV1", "Bare"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bare.LoadMessage(), "The custom report has no stored definition");
  EXPECT_EQ(bare.SaveReportDefinition("SRV1", "a\\b"), ERROR_INVALID_NAME);
}

}  // namespace
}  // namespace vn::console
