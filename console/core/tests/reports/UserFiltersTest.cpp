#include "console/core/reports/UserFilters.h"

#include <gtest/gtest.h>

#include <fstream>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/reports/UserAccounts.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"

namespace vn::console {
namespace {

using testing::MachineNetwork;
using Names = std::vector<std::string>;

const char* const kKey = "Software\\Halvard\\Vornal\\4.0\\User Filter";

TEST(UserFilterRulesTest, SplitJoinAndAdd) {
  const std::pair<const char*, Names> splits[] = {
      {"", {}},
      {";", {}},
      {"SALES\\alice", {"SALES\\alice"}},
      {"SALES\\alice;", {"SALES\\alice"}},  // written by hand with a trailing ";"
      {"SALES\\alice;Auditors;SALES\\Report Readers", {"SALES\\alice", "Auditors", "SALES\\Report Readers"}},
      {"a;;b;", {"a", "b"}},
  };
  for (const auto& [value, names] : splits) EXPECT_EQ(SplitUserFilter(value), names) << value;
  EXPECT_EQ(JoinUserFilter({"SALES\\alice", "Auditors"}), "SALES\\alice;Auditors");
  EXPECT_EQ(JoinUserFilter({}), "");

  Names list = {"SALES\\alice"};
  EXPECT_EQ(AddUserFilterNames(&list, {"SALES\\bob", "SALES\\alice", "SALES\\bob", "", "sales\\ALICE"}), 2);
  EXPECT_EQ(list, (Names{"SALES\\alice", "SALES\\bob", "sales\\ALICE"}));  // exact comparison
}

TEST(UserAccountRulesTest, OrderNamesAndSelectedField) {
  std::vector<AccountRow> rows = {{kAccountUser, "bob"},         {kAccountLocalGroup, "Users"},
                                  {kAccountGlobalGroup, "zeta"}, {kAccountUser, "Alice"},
                                  {kAccountLocalGroup, "auditors"}, {kAccountGlobalGroup, "Domain Admins"}};
  SortAccountRows(&rows);
  EXPECT_EQ(rows, (std::vector<AccountRow>{{kAccountGlobalGroup, "Domain Admins"}, {kAccountGlobalGroup, "zeta"},
                                           {kAccountLocalGroup, "auditors"}, {kAccountLocalGroup, "Users"},
                                           {kAccountUser, "Alice"}, {kAccountUser, "bob"}}));
  EXPECT_EQ(QualifiedAccountName("SALES", {kAccountUser, "alice"}), "SALES\\alice");
  EXPECT_EQ(QualifiedAccountName("SALES", {kAccountGlobalGroup, "Domain Users"}), "SALES\\Domain Users");
  EXPECT_EQ(QualifiedAccountName("SALES", {kAccountLocalGroup, "Auditors"}), "Auditors");

  std::string field;
  EXPECT_TRUE(AppendSelectedName(&field, "SALES\\alice"));
  EXPECT_TRUE(AppendSelectedName(&field, "Auditors"));
  EXPECT_FALSE(AppendSelectedName(&field, "sales\\ALICE"));
  EXPECT_FALSE(AppendSelectedName(&field, "auditors"));
  EXPECT_EQ(field, "SALES\\alice;Auditors");
  field = "typed;";
  EXPECT_TRUE(AppendSelectedName(&field, "SALES\\bob"));
  EXPECT_EQ(field, "typed;SALES\\bob");
  EXPECT_EQ(MachineUncName("\\\\srv1"), "\\\\SRV1");
}

// A console in SALES, the domain's controller SRV1, a member server WS1 and a
// second domain MKTG with its controller MK1.
class UserFilterNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& srv1 = m_net.Add({"SRV1", "SALES", MachineRole::PrimaryDomainController, {}});
    std::ofstream(srv1.home / "machine.ini", std::ios::app)
        << "[Accounts]\nalice = user, Alice\nzed = user, Zed\nReport Readers = group\nAuditors = localgroup\n";
    const auto& ws1 = m_net.Add({"WS1", "SALES", MachineRole::Server, {}});
    std::ofstream(ws1.home / "machine.ini", std::ios::app) << "[Accounts]\ncarol = user, Carol\nNight Shift = localgroup\n";
    m_net.Add({"MK1", "MKTG", MachineRole::PrimaryDomainController, {}});
    ASSERT_TRUE(m_net.StartAll());
  }

  static std::string Stored(const std::string& machine, const std::string& name) {
    std::string value;
    return ReadUserFilter(machine, name, &value) == ERROR_SUCCESS ? value : "<missing>";
  }

  MachineNetwork m_net{"SALES"};
};

TEST_F(UserFilterNetworkTest, StoreRefusesExistingNamesAndOverwritesEdits) {
  for (const std::string machine : {"", "SRV1", "\\\\srv1"}) {
    SCOPED_TRACE(machine);
    const std::string name = "Filter " + std::to_string(machine.size());
    ASSERT_EQ(StoreUserFilter(machine, name, {"SALES\\alice", "Auditors"}, true), ERROR_SUCCESS);
    EXPECT_EQ(Stored(machine, name), "SALES\\alice;Auditors");
    EXPECT_EQ(StoreUserFilter(machine, name, {"SALES\\zed"}, true), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Stored(machine, name), "SALES\\alice;Auditors");
    ASSERT_EQ(StoreUserFilter(machine, name, {"SALES\\zed"}, false), ERROR_SUCCESS);
    EXPECT_EQ(Stored(machine, name), "SALES\\zed");

    // 1024 characters are kept; one more is refused and writes nothing.
    const Names fits = {std::string(500, 'a'), std::string(523, 'b')};
    ASSERT_EQ(StoreUserFilter(machine, name, fits, false), ERROR_SUCCESS);
    EXPECT_EQ(Stored(machine, name).size(), 1024u);
    EXPECT_EQ(StoreUserFilter(machine, name, {std::string(500, 'a'), std::string(524, 'b')}, false),
              ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(Stored(machine, name), JoinUserFilter(fits));
    EXPECT_EQ(StoreUserFilter(machine, "", {"x"}, true), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(StoreUserFilter(machine, name, {}, false), ERROR_INVALID_PARAMETER);
  }
  // The local and SRV1's registries are two stores.
  EXPECT_EQ(Stored("", "Filter 4"), "<missing>");
  EXPECT_EQ(Stored("CONSOLE", "Filter 0"), Stored("", "Filter 0"));
  std::string value;
  EXPECT_EQ(ReadUserFilter("NOSUCH", "Filter 0", &value), ERROR_BAD_NETPATH);
  EXPECT_EQ(StoreUserFilter("NOSUCH", "Filter 0", {"x"}, true), ERROR_BAD_NETPATH);
}

TEST_F(UserFilterNetworkTest, AHandWrittenTrailingSemicolonLoadsWithoutAnEmptyEntry) {
  HKEY machine = nullptr;
  ASSERT_EQ(ConnectMachineRegistry("SRV1", &machine), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(machine, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  const std::string text = "SALES\\alice;Auditors;";
  ASSERT_EQ(RegSetValueExA(key, "By hand", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  CloseMachineRegistry(machine);
  std::string value;
  ASSERT_EQ(ReadUserFilter("SRV1", "By hand", &value), ERROR_SUCCESS);
  EXPECT_EQ(SplitUserFilter(value), (Names{"SALES\\alice", "Auditors"}));
  EXPECT_EQ(ReadUserFilter("SRV1", "No such filter", &value), ERROR_FILE_NOT_FOUND);
}

TEST_F(UserFilterNetworkTest, SourcesAndAccountsOfAMemberServer) {
  UserSources sources;
  ASSERT_EQ(ReadUserSources("ws1", &sources), ERROR_SUCCESS);
  EXPECT_EQ(sources.machine, "\\\\WS1");
  EXPECT_FALSE(sources.isController);
  EXPECT_EQ(sources.controller, "\\\\SRV1");
  ASSERT_GE(sources.sources.size(), 3u);
  EXPECT_EQ(sources.sources[0].text, "\\\\WS1");
  EXPECT_TRUE(sources.sources[0].isMachine);
  EXPECT_EQ(sources.sources[1].text, "SALES");
  EXPECT_EQ(sources.sources[1].server, "\\\\SRV1");
  EXPECT_EQ(sources.sources[2].text, "MKTG");
  EXPECT_EQ(sources.sources[2].server, "\\\\MK1");

  // The machine itself: its groups, local groups, users only when asked for.
  std::vector<AccountRow> rows;
  ASSERT_EQ(ListAccounts(sources.sources[0], false, &rows), ERROR_SUCCESS);
  const auto has = [&rows](int kind, const std::string& name) {
    return std::find(rows.begin(), rows.end(), AccountRow{kind, name}) != rows.end();
  };
  EXPECT_TRUE(has(kAccountLocalGroup, "Night Shift"));
  EXPECT_TRUE(has(kAccountLocalGroup, "Administrators"));
  EXPECT_FALSE(has(kAccountGlobalGroup, "None"));
  EXPECT_FALSE(has(kAccountUser, "carol"));
  ASSERT_EQ(ListAccounts(sources.sources[0], true, &rows), ERROR_SUCCESS);
  EXPECT_TRUE(has(kAccountUser, "carol"));
  std::vector<AccountRow> sorted = rows;
  SortAccountRows(&sorted);
  EXPECT_EQ(rows, sorted);

  // The domain, from its controller: its groups and users, no local groups.
  ASSERT_EQ(ListAccounts(sources.sources[1], true, &rows), ERROR_SUCCESS);
  EXPECT_TRUE(has(kAccountGlobalGroup, "Domain Admins"));
  EXPECT_TRUE(has(kAccountGlobalGroup, "Report Readers"));
  EXPECT_TRUE(has(kAccountUser, "alice"));
  EXPECT_TRUE(has(kAccountUser, "zed"));
  EXPECT_FALSE(has(kAccountLocalGroup, "Auditors"));
  EXPECT_FALSE(has(kAccountUser, "carol"));

  EXPECT_EQ(ReadUserSources("NOSUCH", &sources), ERROR_BAD_NETPATH);
}

TEST_F(UserFilterNetworkTest, SelectedNamesAreLookedUpOnTheMachine) {
  UserSources sources;
  ASSERT_EQ(ReadUserSources("SRV1", &sources), ERROR_SUCCESS);
  EXPECT_TRUE(sources.isController);
  std::string field = "SALES\\alice;Auditors;SRV1\\Auditors;SALES\\Report Readers;Everyone";
  std::string failed;
  ASSERT_EQ(CheckSelectedNames("SRV1", true, &field, &failed), ERROR_SUCCESS) << failed;
  EXPECT_EQ(field, "SALES\\alice;Auditors;SRV1\\Auditors;SALES\\Report Readers;Everyone");

  field = " SALES\\alice ; ;Everyone;";  // as typed: blanks and empty pieces go
  ASSERT_EQ(CheckSelectedNames("SRV1", true, &field, &failed), ERROR_SUCCESS) << failed;
  EXPECT_EQ(field, "SALES\\alice;Everyone");

  // On a controller, a name under a wrong domain is found bare and corrected.
  field = "OLDNAME\\zed;SALES\\alice";
  ASSERT_EQ(CheckSelectedNames("SRV1", true, &field, &failed), ERROR_SUCCESS) << failed;
  EXPECT_EQ(field, "zed;SALES\\alice");
  // Elsewhere it is not retried.
  field = "OLDNAME\\carol";
  EXPECT_EQ(CheckSelectedNames("WS1", false, &field, &failed), ERROR_NONE_MAPPED);
  EXPECT_EQ(failed, "OLDNAME\\carol");
  EXPECT_EQ(field, "OLDNAME\\carol");

  field = "SALES\\alice;nobody;SALES\\zed";
  EXPECT_EQ(CheckSelectedNames("SRV1", true, &field, &failed), ERROR_NONE_MAPPED);
  EXPECT_EQ(failed, "nobody");
  field = "SALES";  // a domain is no account a filter can hold
  EXPECT_EQ(CheckSelectedNames("SRV1", true, &field, &failed), ERROR_INVALID_SID);
  EXPECT_EQ(failed, "SALES");
}

}  // namespace
}  // namespace vn::console
