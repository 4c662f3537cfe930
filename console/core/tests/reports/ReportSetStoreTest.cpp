#include "console/core/reports/ReportSetStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "console/core/support/Resources.h"
#include "platform/registry/Registry.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

const std::string kSets = "Software\\Halvard\\Vornal\\4.0\\VNReportSet\\";
const std::string kCustom = "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\";
const std::string kUserFilters = "Software\\Halvard\\Vornal\\4.0\\User Filter";

struct RawValue {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const RawValue&) const = default;
};

std::vector<RawValue> RawValues(const std::string& path) {
  std::vector<RawValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    char name[1025];
    std::vector<BYTE> data(4096);
    DWORD nameLength = sizeof name, size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    data.resize(size);
    values.push_back({name, type, data});
  }
  RegCloseKey(key);
  return values;
}

std::vector<std::string> Subkeys(const std::string& path) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  char name[256];
  for (DWORD i = 0, length = sizeof name;
       RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, length = sizeof name)
    names.emplace_back(name);
  RegCloseKey(key);
  return names;
}

void PutValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void PutText(const std::string& path, const char* name, const std::string& text) {
  PutValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// A fixed text field as the store writes it: the text, cut to leave room for
// its terminator, and zeros to the end of the field.
template <std::size_t N>
void SetText(char (&field)[N], const std::string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::fill(std::copy_n(text.data(), length, field), field + N, '\0');
}

// Every field that the store keeps, with values unlike the defaults; texts at
// their longest where that tests the read buffer.
void FillStoredFields(ReportOptions& o, int index) {
  const int slotCount = index == 13 ? 4 : index == 11 ? 3 : index == 2 ? 2 : 1;
  for (int slot = 0; slot < slotCount; ++slot) {
    auto& c = o.Criteria[slot];
    const std::string tag = std::to_string(index) + "." + std::to_string(slot);
    SetText(c.Value1, slot == 0 ? std::string(39, 'v') : "v1-" + tag);
    if (slot == 0 || index == 13) {
      c.Scope = 2 + static_cast<DWORD>(slot);
      c.Measure = 4 + static_cast<DWORD>(slot);
      SetText(c.Value2, "v2-" + tag);
    }
  }
  auto& c0 = o.Criteria[0];
  c0.ReadOnly = 0, c0.Archive = 1, c0.Compress = 0, c0.Hidden = 1, c0.System = 0, c0.Temp = 1, c0.Compare = 1;
  o.Report = 100 + static_cast<DWORD>(index);
  o.Options = 0x48;
  o.Fields = 0x4001;
  SetText(o.CustomReport, "\\\\SERVER\\Custom " + std::to_string(index));
  o.RptLen = 25 + index;
  SetText(o.FileFilter, "*.tmp;*.bak");
  SetText(o.OwnerFilter, std::string(1024, 'o'));
  SetText(o.Mail.MailTo, "ann;bob");
  SetText(o.Mail.MailCC, "carl");
  SetText(o.Mail.MailSubject, "Report " + std::to_string(index));
  for (int i = 0; i < 80; ++i) {
    o.Mail.MailProfile[i] = static_cast<BYTE>(0x80 + i);
    o.Mail.MailPassword[i] = static_cast<BYTE>(i % 3 == 0 ? 0 : 0xFF - i);
  }
  SetText(o.BatchCommand, std::string(1024, 'b'));
}

const int kFilledReports[] = {0, 2, 11, 13, 19};

ReportSet FilledSet() {
  ReportSet set;
  for (int index : kFilledReports) {
    set[index].Selected = 1;
    FillStoredFields(set[index].Options, index);
  }
  return set;
}

bool SameBytes(const ReportOptions& a, const ReportOptions& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class ReportSetStoreTest : public ::testing::Test {
 protected:
  vn::testing::TempMachineHome m_home;  // computer name TESTPC
};

TEST_F(ReportSetStoreTest, SetRoundTripsEveryStoredField) {
  const ReportSet saved = FilledSet();
  ASSERT_EQ(SaveReportSet("", "Weekly", saved), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(kSets + "Weekly"),
            (std::vector<std::string>{"Duplicate Files", "Files With Undefined Owners", "Partition Summary",
                                      "Space By Directory", "Wasted Space"}));
  ReportSet loaded;
  ASSERT_EQ(LoadReportSet("", "weekly", loaded), ERROR_SUCCESS);
  for (int index = 0; index < kReportCount; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(loaded[index].Selected, saved[index].Selected);
    EXPECT_TRUE(SameBytes(loaded[index].Options, saved[index].Options));
  }
}

// The value list of a report is a format: names, order, types and sizes.
TEST_F(ReportSetStoreTest, ReportValuesHaveExactNamesOrderTypesAndSizes) {
  ReportSet set = FilledSet();
  std::memset(set[0].Options.Mail.MailProfile, 0, sizeof set[0].Options.Mail.MailProfile);
  std::memcpy(set[0].Options.Mail.MailProfile, "short", 5);
  ASSERT_EQ(SaveReportSet("", "Format", set), ERROR_SUCCESS);

  const std::vector<std::string> head = {"Value0.Scope",    "Value0.Measure", "Value0.Value1",   "Value0.Value2",
                                         "Value0.ReadOnly", "Value0.Archive", "Value0.Compress", "Value0.Hidden",
                                         "Value0.System",   "Value0.Temp",    "Value0.Compare"};
  const std::vector<std::string> tail = {"Report",     "Options",     "Fields",      "CustomReport", "RptLen",
                                         "FileFilter", "OwnerFilter", "MailProfile", "MailPassword", "MailTo",
                                         "MailCC",     "MailSubject", "BatchCommand"};
  const struct {
    const char* report;
    std::vector<std::string> extra;
  } cases[] = {
      {"Partition Summary", {}},
      {"Files With Undefined Owners", {}},
      {"Space By Directory", {"Value1.Value1"}},
      {"Duplicate Files", {"Value1.Value1", "Value2.Value1"}},
      {"Wasted Space",
       {"Value1.Scope", "Value1.Measure", "Value1.Value1", "Value1.Value2", "Value2.Scope", "Value2.Measure",
        "Value2.Value1", "Value2.Value2", "Value3.Scope", "Value3.Measure", "Value3.Value1", "Value3.Value2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    std::vector<std::string> expected = head;
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    expected.insert(expected.end(), tail.begin(), tail.end());

    std::vector<std::string> names;
    for (const RawValue& v : RawValues(kSets + "Format\\" + c.report)) {
      names.push_back(v.name);
      SCOPED_TRACE(v.name);
      if (v.name == "MailProfile" || v.name == "MailPassword") {
        EXPECT_EQ(v.type, REG_BINARY);
        EXPECT_EQ(v.data.size(), 80u);
      } else if (v.name.ends_with("Value1") || v.name.ends_with("Value2") || v.name.starts_with("Mail") ||
                 v.name.ends_with("Filter") || v.name == "CustomReport" || v.name == "BatchCommand") {
        EXPECT_EQ(v.type, REG_SZ);
        ASSERT_FALSE(v.data.empty());
        EXPECT_EQ(v.data.back(), 0);
        EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(v.data.data())) + 1, v.data.size());
      } else {
        EXPECT_EQ(v.type, REG_DWORD);
        EXPECT_EQ(v.data.size(), 4u);
      }
    }
    EXPECT_EQ(names, expected);
  }
}

TEST_F(ReportSetStoreTest, SaveReplacesEveryReportSubkeyAndLoadIgnoresStrangers) {
  ASSERT_EQ(SaveReportSet("", "Mixed", FilledSet()), ERROR_SUCCESS);
  const std::string longName(60, 'x');
  PutText(kSets + "Mixed\\Partition Summary (old)", "Report", "4");
  PutText(kSets + "Mixed\\" + longName, "Report", "4");
  const DWORD scope = 5;
  PutValue(kSets + "Mixed\\space by user", "Value0.Scope", REG_DWORD, &scope, 4);

  ReportSet loaded;
  ASSERT_EQ(LoadReportSet("", "Mixed", loaded), ERROR_SUCCESS);
  EXPECT_EQ(loaded[6].Selected, 1);
  EXPECT_EQ(loaded[6].Options.Criteria[0].Scope, 5u);
  int selected = 0;
  for (const auto& entry : loaded) selected += entry.Selected;
  EXPECT_EQ(selected, 6);

  ReportSet onlyUser;
  onlyUser[6].Selected = 1;
  ASSERT_EQ(SaveReportSet("", "Mixed", onlyUser), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(kSets + "Mixed"), std::vector<std::string>{"Space By User"});
}

TEST_F(ReportSetStoreTest, EmptySelectionKeepsAnEmptySet) {
  ASSERT_EQ(SaveReportSet("", "Full", FilledSet()), ERROR_SUCCESS);
  ASSERT_EQ(SaveReportSet("", "Full", ReportSet()), ERROR_SUCCESS);
  EXPECT_TRUE(RegistryKeyExists("", "Full", IDS_REPORT_SET_KEY_FMT));
  EXPECT_TRUE(Subkeys(kSets + "Full").empty());
  ReportSet loaded;
  EXPECT_EQ(LoadReportSet("", "Full", loaded), ERROR_SUCCESS);
  for (const auto& entry : loaded) EXPECT_EQ(entry.Selected, 0);
}

TEST_F(ReportSetStoreTest, DeleteRemovesTheSetOrStopsAtAKeyItCannotDelete) {
  ASSERT_EQ(SaveReportSet("", "Gone", FilledSet()), ERROR_SUCCESS);
  EXPECT_EQ(DeleteReportSet("", "Gone"), ERROR_SUCCESS);
  EXPECT_FALSE(RegistryKeyExists("", "Gone", IDS_REPORT_SET_KEY_FMT));
  ReportSet set;
  EXPECT_EQ(LoadReportSet("", "Gone", set), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteReportSet("", "Gone"), ERROR_FILE_NOT_FOUND);

  // A report subkey with a subkey of its own cannot be deleted: both calls
  // end with that code instead of retrying it forever.
  PutText(kSets + "Stuck\\All Files\\Inner", "x", "y");
  EXPECT_NE(DeleteReportSet("", "Stuck"), ERROR_SUCCESS);
  EXPECT_TRUE(RegistryKeyExists("", "Stuck", IDS_REPORT_SET_KEY_FMT));
  EXPECT_NE(SaveReportSet("", "Stuck", FilledSet()), ERROR_SUCCESS);
}

// Sets written by older versions lack values; malformed values are ignored too.
TEST_F(ReportSetStoreTest, MissingOrMalformedValuesKeepDefaults) {
  const std::string report = kSets + "Old\\Duplicate Files";
  const DWORD scope = 3;
  PutValue(report, "Value0.Scope", REG_DWORD, &scope, 4);
  PutText(report, "Value1.Value1", "80");
  PutText(report, "Options", "8");                                                            // not a number
  PutText(report, "FileFilter", std::string(300, 'f'));                                       // longer than the field
  PutValue(report, "Value0.Value2", REG_SZ, "0123456789012345678901234567890123456789", 40);  // no terminator

  ReportSet loaded;
  ASSERT_EQ(LoadReportSet("", "Old", loaded), ERROR_SUCCESS);
  ReportOptions expected;
  expected.Report = kReportDuplicateFiles;
  expected.Criteria[0].Scope = 3;
  SetText(expected.Criteria[1].Value1, "80");
  SetText(expected.Criteria[0].Value2, std::string("0123456789012345678901234567890123456789", 39));
  EXPECT_EQ(loaded[11].Selected, 1);
  EXPECT_TRUE(SameBytes(loaded[11].Options, expected));
}

TEST_F(ReportSetStoreTest, CustomReportOptionsRoundTrip) {
  ReportOptions saved;
  FillStoredFields(saved, 0);
  ASSERT_EQ(SaveCustomReportOptions("", "Big Files", saved), ERROR_SUCCESS);
  std::vector<std::string> names;
  for (const RawValue& v : RawValues(kCustom + "Big Files")) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FileFilter", "OwnerFilter", "Options", "MailProfile", "MailPassword",
                                             "MailTo", "MailCC", "MailSubject", "BatchCommand", "RptLen"}));

  ReportOptions expected;  // only the option part comes back
  std::memcpy(expected.FileFilter, saved.FileFilter, sizeof saved.FileFilter);
  std::memcpy(expected.OwnerFilter, saved.OwnerFilter, sizeof saved.OwnerFilter);
  std::memcpy(&expected.Mail, &saved.Mail, sizeof saved.Mail);
  std::memcpy(expected.BatchCommand, saved.BatchCommand, sizeof saved.BatchCommand);
  expected.Options = saved.Options;
  expected.RptLen = saved.RptLen;

  const struct {
    const char* machine;
    const char* customReport;
  } cases[] = {{"", "\\\\TESTPC\\BIG FILES"}, {"testpc", "\\\\testpc\\BIG FILES"}, {"\\\\TESTPC", "\\\\TESTPC\\BIG FILES"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    ReportOptions loaded;
    ASSERT_EQ(LoadCustomReportOptions(c.machine, "BIG FILES", loaded), ERROR_SUCCESS);
    SetText(expected.CustomReport, c.customReport);
    EXPECT_TRUE(SameBytes(loaded, expected));
  }

  EXPECT_TRUE(RegistryKeyExists("", "Big Files", IDS_CUSTOM_REPORT_KEY_FMT));
  EXPECT_FALSE(RegistryKeyExists("", "Big Files", IDS_REPORT_SET_KEY_FMT));
  EXPECT_EQ(DeleteCustomReport("", "Big Files"), ERROR_SUCCESS);
  EXPECT_FALSE(RegistryKeyExists("", "Big Files", IDS_CUSTOM_REPORT_KEY_FMT));
  EXPECT_EQ(DeleteCustomReport("", "Big Files"), ERROR_FILE_NOT_FOUND);
}

TEST_F(ReportSetStoreTest, CopyKeepsDestinationExtrasAndEveryValue) {
  ASSERT_EQ(SaveReportSet("", "Source", FilledSet()), ERROR_SUCCESS);
  ReportSet other;
  other[6].Selected = 1;
  other[0].Selected = 1;  // overwritten by the copy
  ASSERT_EQ(SaveReportSet("", "Target", other), ERROR_SUCCESS);
  ASSERT_EQ(CopyStoredReport("", "Source", "TESTPC", "Target", StoredReportKind::ReportSet), ERROR_SUCCESS);

  ReportSet source, target;
  ASSERT_EQ(LoadReportSet("", "Source", source), ERROR_SUCCESS);
  ASSERT_EQ(LoadReportSet("", "Target", target), ERROR_SUCCESS);
  EXPECT_EQ(target[6].Selected, 1);
  for (int index : kFilledReports) {
    EXPECT_EQ(target[index].Selected, 1);
    EXPECT_TRUE(SameBytes(target[index].Options, source[index].Options)) << index;
  }

  ReportOptions options;
  FillStoredFields(options, 1);
  ASSERT_EQ(SaveCustomReportOptions("", "Def", options), ERROR_SUCCESS);
  const BYTE definition[] = {1, 0, 2, 0, 3};
  PutValue(kCustom + "Def", "Definition", REG_BINARY, definition, sizeof definition);
  ASSERT_EQ(CopyStoredReport("", "Def", "", "Def Copy", StoredReportKind::CustomReport), ERROR_SUCCESS);
  EXPECT_EQ(RawValues(kCustom + "Def Copy"), RawValues(kCustom + "Def"));

  EXPECT_EQ(CopyStoredReport("", "Nothing", "", "Else", StoredReportKind::ReportSet), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(RegistryKeyExists("", "Else", IDS_REPORT_SET_KEY_FMT));
}

TEST_F(ReportSetStoreTest, ReplaceLeavesTheDestinationEqualToTheSourceAndFailsWithoutRemovingIt) {
  ASSERT_EQ(SaveReportSet("", "Source", FilledSet()), ERROR_SUCCESS);
  ReportSet other;
  other[6].Selected = 1;  // the source lacks it: gone after a replace
  ASSERT_EQ(SaveReportSet("", "Target", other), ERROR_SUCCESS);
  ASSERT_EQ(ReplaceStoredReport("", "Source", "", "Target", StoredReportKind::ReportSet), ERROR_SUCCESS);
  ReportSet source, target;
  ASSERT_EQ(LoadReportSet("", "Source", source), ERROR_SUCCESS);
  ASSERT_EQ(LoadReportSet("", "Target", target), ERROR_SUCCESS);
  for (int index = 0; index < kReportCount; ++index) {
    EXPECT_EQ(target[index].Selected, source[index].Selected) << index;
    if (source[index].Selected) {
      EXPECT_TRUE(SameBytes(target[index].Options, source[index].Options)) << index;
    }
  }

  ReportOptions options;
  FillStoredFields(options, 1);
  ASSERT_EQ(SaveCustomReportOptions("", "Def", options), ERROR_SUCCESS);
  ASSERT_EQ(SaveCustomReportOptions("", "Old", options), ERROR_SUCCESS);
  const BYTE stale[] = {9, 9};
  PutValue(kCustom + "Old", "Leftover", REG_BINARY, stale, sizeof stale);
  ASSERT_EQ(ReplaceStoredReport("", "Def", "", "Old", StoredReportKind::CustomReport), ERROR_SUCCESS);
  EXPECT_EQ(RawValues(kCustom + "Old"), RawValues(kCustom + "Def"));

  // A source that cannot be read leaves the destination as it was.
  EXPECT_EQ(ReplaceStoredReport("", "Nothing", "", "Target", StoredReportKind::ReportSet), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(LoadReportSet("", "Target", target), ERROR_SUCCESS);
  for (int index : kFilledReports) EXPECT_EQ(target[index].Selected, 1) << index;
}

// An empty name would address the key that holds all sets (or all custom reports).
TEST_F(ReportSetStoreTest, NamesThatAreNoSingleKeyAreRefused) {
  ReportSet set;
  ASSERT_EQ(SaveReportSet("", "Keep", set), ERROR_SUCCESS);
  ASSERT_EQ(SaveCustomReportOptions("", "Keep", set[0].Options), ERROR_SUCCESS);
  for (const char* name : {"", "\\", "Keep\\Inner"}) {
    SCOPED_TRACE(name);
    const std::function<LONG()> operations[] = {
        [&] { return LoadReportSet("", name, set); },
        [&] { return SaveReportSet("", name, set); },
        [&] { return DeleteReportSet("", name); },
        [&] { return LoadCustomReportOptions("", name, set[0].Options); },
        [&] { return SaveCustomReportOptions("", name, set[0].Options); },
        [&] { return DeleteCustomReport("", name); },
        [&] { return CopyStoredReport("", name, "", "Copy", StoredReportKind::ReportSet); },
        [&] { return CopyStoredReport("", "Keep", "", name[0] ? name : "\\", StoredReportKind::CustomReport); },
    };
    for (const auto& operation : operations) EXPECT_EQ(operation(), ERROR_INVALID_NAME);
    EXPECT_FALSE(RegistryKeyExists("", name, IDS_REPORT_SET_KEY_FMT));
  }
  EXPECT_EQ(Subkeys(kSets), std::vector<std::string>{"Keep"});
  EXPECT_EQ(Subkeys(kCustom), std::vector<std::string>{"Keep"});
}

TEST_F(ReportSetStoreTest, DeleteUserFilterRemovesOneValue) {
  PutText(kUserFilters, "Admins", "DOM\\ann;DOM\\bob");
  PutText(kUserFilters, "Guests", "Guests");
  EXPECT_EQ(DeleteUserFilter("", "admins"), ERROR_SUCCESS);
  ASSERT_EQ(RawValues(kUserFilters).size(), 1u);
  EXPECT_EQ(RawValues(kUserFilters)[0].name, "Guests");
  EXPECT_EQ(DeleteUserFilter("", "Admins"), ERROR_FILE_NOT_FOUND);
}

TEST_F(ReportSetStoreTest, LocalNamesUseTheLocalRegistryAndOthersFail) {
  for (const char* local : {"", "TESTPC", "testpc", "\\\\TestPc"}) {
    HKEY key = nullptr;
    EXPECT_EQ(ConnectMachineRegistry(local, &key), ERROR_SUCCESS) << local;
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE) << local;
  }
  ASSERT_EQ(SaveReportSet("\\\\testpc", "Here", FilledSet()), ERROR_SUCCESS);
  ReportSet loaded;
  EXPECT_EQ(LoadReportSet("TestPC", "Here", loaded), ERROR_SUCCESS);
  EXPECT_EQ(loaded[13].Selected, 1);

  for (const char* remote : {"NOSUCHPC", "\\\\nosuchpc", "TESTPC2"}) {
    SCOPED_TRACE(remote);
    HKEY key = nullptr;
    EXPECT_EQ(ConnectMachineRegistry(remote, &key), ERROR_BAD_NETPATH);
    EXPECT_EQ(key, nullptr);
    ReportSet set;
    ReportOptions options;
    const std::function<LONG()> operations[] = {
        [&] { return LoadReportSet(remote, "Here", set); },
        [&] { return SaveReportSet(remote, "Here", set); },
        [&] { return DeleteReportSet(remote, "Here"); },
        [&] { return LoadCustomReportOptions(remote, "Here", options); },
        [&] { return SaveCustomReportOptions(remote, "Here", options); },
        [&] { return DeleteCustomReport(remote, "Here"); },
        [&] { return CopyStoredReport(remote, "Here", "", "Copy", StoredReportKind::ReportSet); },
        [&] { return CopyStoredReport("", "Here", remote, "", StoredReportKind::ReportSet); },
        [&] { return DeleteUserFilter(remote, "Here"); },
    };
    for (const auto& operation : operations) EXPECT_EQ(operation(), ERROR_BAD_NETPATH);
    EXPECT_FALSE(RegistryKeyExists(remote, "Here", IDS_REPORT_SET_KEY_FMT));
  }
  EXPECT_FALSE(RegistryKeyExists("", "Copy", IDS_REPORT_SET_KEY_FMT));
}

}  // namespace
}  // namespace vn::console
