#include "platform/accounts/Accounts.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/core/LastError.h"
#include "platform/core/WideString.h"
#include "platform/machine/AccountTable.h"
#include "platform/machine/MachineConfig.h"
#include "platform/net/Net.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"

namespace vn {
namespace {


// A host with people, system accounts, private groups and names that clash.
class FakeHost : public AccountSource {
 public:
  bool Read(std::vector<HostUser>* users, std::vector<HostGroup>* groups) const override {
    *users = {{"root", 0, "root", false},        {"daemon", 1, "daemon", true},
              {"bob", 1000, "Bob Builder", false}, {"carol", 1001, "", true},
              {"alice", 1002, "Host Alice", false}, {"nobody", 65534, "nobody", true},
              {"administrator", 1003, "", false}};
    *groups = {{"root", 0}, {"adm", 4}, {"bob", 1000}, {"devs", 1500}, {"nogroup", 65534}, {"auditors", 1600}};
    return true;
  }
};

std::string SidText(PSID sid) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | bytes[i];
  std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    DWORD sub = 0;
    std::memcpy(&sub, bytes + 8 + 4 * i, 4);
    text += '-';
    text += std::to_string(sub);
  }
  return text;
}

struct Lookup {
  BOOL ok = FALSE;
  DWORD error = 0;
  std::string sid;
  std::string domain;
  SID_NAME_USE use = SidTypeUnknown;
};

Lookup LookUp(const char* name, const char* server = nullptr) {
  BYTE sid[68] = {};
  char domain[64] = {};
  DWORD sidSize = sizeof sid;
  DWORD domainSize = sizeof domain;
  Lookup result;
  result.ok = LookupAccountNameA(server, name, sid, &sidSize, domain, &domainSize, &result.use);
  if (!result.ok) {
    result.error = GetLastError();
    return result;
  }
  EXPECT_TRUE(IsValidSid(sid)) << name;
  EXPECT_EQ(GetLengthSid(sid), sidSize) << name;
  EXPECT_EQ(domainSize, std::strlen(domain)) << name;
  result.sid = SidText(sid);
  result.domain = domain;
  return result;
}

std::string DomainSid(LPCWSTR server = nullptr) {
  LPBYTE buffer = nullptr;
  EXPECT_EQ(NetUserModalsGet(server, 2, &buffer), NERR_Success);
  if (!buffer) return {};
  const auto* info = reinterpret_cast<USER_MODALS_INFO_2*>(buffer);
  EXPECT_TRUE(IsValidSid(info->usrmod2_domain_id));
  const std::string text = ToUtf8(info->usrmod2_domain_name) + " " + SidText(info->usrmod2_domain_id);
  NetApiBufferFree(buffer);
  return text;
}

struct DisplayEntry {
  std::string name;
  std::string comment;
  std::string fullName;
  DWORD flags = 0;
  DWORD id = 0;
};

// Every entry of a level, read in batches of `entries` / `bytes` as the
// account picker does; fails the test on a batch that does not continue.
std::vector<DisplayEntry> ReadDisplay(DWORD level, DWORD entries, DWORD bytes, LPCWSTR server = nullptr) {
  std::vector<DisplayEntry> all;
  DWORD index = 0;
  for (int calls = 0; calls < 1000; ++calls) {
    DWORD count = 0;
    PVOID buffer = nullptr;
    const NET_API_STATUS status = NetQueryDisplayInformation(server, level, index, entries, bytes, &count, &buffer);
    EXPECT_TRUE(status == NERR_Success || status == static_cast<DWORD>(ERROR_MORE_DATA)) << status;
    EXPECT_GE(count, 1u);
    EXPECT_LE(count, std::max<DWORD>(entries, 1));
    for (DWORD i = 0; i < count; ++i) {
      if (level == 1) {
        const auto& user = static_cast<NET_DISPLAY_USER*>(buffer)[i];
        all.push_back({ToUtf8(user.usri1_name), ToUtf8(user.usri1_comment), ToUtf8(user.usri1_full_name),
                       user.usri1_flags, user.usri1_user_id});
        index = user.usri1_next_index;
      } else {
        const auto& group = static_cast<NET_DISPLAY_GROUP*>(buffer)[i];
        all.push_back({ToUtf8(group.grpi3_name), ToUtf8(group.grpi3_comment), {}, group.grpi3_attributes,
                       group.grpi3_group_id});
        index = group.grpi3_next_index;
      }
    }
    NetApiBufferFree(buffer);
    if (status != static_cast<DWORD>(ERROR_MORE_DATA)) return all;
  }
  ADD_FAILURE() << "batches never ended";
  return all;
}

std::vector<std::string> Names(const std::vector<DisplayEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

// Workstation ACCTPC of domain SALES with configured accounts, on FakeHost.
class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteConfig("workstation");
    std::ofstream(m_home.path() / "hosts") << "127.0.0.1:1  OTHERPC  #DOM:SALES\n";
    SetAccountSource(std::make_shared<FakeHost>());
  }
  void TearDown() override { SetAccountSource(nullptr); }

  void WriteConfig(const std::string& role) {
    std::ofstream(m_home.path() / "machine.ini")
        << "[Machine]\nName = ACCTPC\nDomain = SALES\nHostResolver = no\nRole = " << role << "\n"
        << "[Accounts]\n"
        << "alice = user, \"Liddell, Alice\", Reviews reports, weekly\n"
        << "Report Readers = group, Everyone who reads reports\n"
        << "Auditors = localgroup, Local audit team\n";
  }

  testing::TempMachineHome m_home{"ACCTPC"};
};

TEST_F(AccountsTest, LooksUpNamesOfEveryKind) {
  const std::string domain = DomainSid().substr(std::string("SALES ").size());
  ASSERT_TRUE(domain.starts_with("S-1-5-21-")) << domain;
  const struct {
    const char* name;
    SID_NAME_USE use;
    const char* domain;
    std::string sid;  // empty: not checked
  } found[] = {
      {"bob", SidTypeUser, "SALES", domain + "-2000"},
      {"SALES\\bob", SidTypeUser, "SALES", domain + "-2000"},
      {"sales\\BOB", SidTypeUser, "SALES", domain + "-2000"},
      {"carol", SidTypeUser, "SALES", domain + "-2001"},
      {"Administrator", SidTypeUser, "SALES", domain + "-500"},
      {"alice", SidTypeUser, "SALES", ""},
      {"devs", SidTypeGroup, "SALES", domain + "-2500"},
      {"Report Readers", SidTypeGroup, "SALES", ""},
      {"None", SidTypeGroup, "SALES", domain + "-513"},
      {"Administrators", SidTypeAlias, "BUILTIN", "S-1-5-32-544"},
      {"BUILTIN\\Users", SidTypeAlias, "BUILTIN", "S-1-5-32-545"},
      {"Auditors", SidTypeAlias, "ACCTPC", ""},
      {"acctpc\\auditors", SidTypeAlias, "ACCTPC", ""},
      {"Everyone", SidTypeWellKnownGroup, "", "S-1-1-0"},
      {"\\Everyone", SidTypeWellKnownGroup, "", "S-1-1-0"},
      {"NT AUTHORITY\\SYSTEM", SidTypeWellKnownGroup, "NT AUTHORITY", "S-1-5-18"},
      {"SALES", SidTypeDomain, "SALES", domain},
      {"BUILTIN", SidTypeDomain, "BUILTIN", "S-1-5-32"},
  };
  for (const auto& f : found) {
    const Lookup result = LookUp(f.name);
    ASSERT_TRUE(result.ok) << f.name << " " << result.error;
    EXPECT_EQ(result.use, f.use) << f.name;
    EXPECT_EQ(result.domain, f.domain) << f.name;
    if (!f.sid.empty()) {
      EXPECT_EQ(result.sid, f.sid) << f.name;
    }
  }
  // Configured accounts get their own RIDs, away from host ids.
  const Lookup alice = LookUp("alice");
  const std::string rid = alice.sid.substr(alice.sid.rfind('-') + 1);
  EXPECT_GE(std::stoul(rid), 0x40000000ul);
  EXPECT_NE(LookUp("Auditors").sid.substr(0, domain.size() + 1), domain + "-");

  // System accounts, private groups, host names the configuration or a
  // built-in name hides, wrong domains and malformed names.
  for (const char* name : {"root", "daemon", "nobody", "adm", "nogroup", "nosuchuser", "ACCTPC\\bob", "OTHER\\bob",
                           "BUILTIN\\bob", "SALES\\Auditors", "SALES\\", "", "\\"}) {
    const Lookup result = LookUp(name);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_NONE_MAPPED)) << name;
  }
  // "bob" the private group and "auditors" the host group are hidden, not merged.
  EXPECT_EQ(LookUp("bob").use, SidTypeUser);
  EXPECT_EQ(LookUp("AUDITORS").use, SidTypeAlias);
}

TEST_F(AccountsTest, SizeQueryProtocol) {
  BYTE sid[64];
  char domain[16];
  SID_NAME_USE use = SidTypeUnknown;
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  ASSERT_FALSE(LookupAccountNameA(nullptr, "bob", nullptr, &sidSize, nullptr, &domainSize, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(sidSize, 8u + 4u * 5u);
  EXPECT_EQ(domainSize, 6u);  // "SALES" and its terminator

  const struct {
    DWORD sidSize;
    DWORD domainSize;
    bool ok;
  } cases[] = {{28, 6, true}, {27, 6, false}, {28, 5, false}, {64, 16, true}, {0, 16, false}};
  for (const auto& c : cases) {
    sidSize = c.sidSize;
    domainSize = c.domainSize;
    const BOOL ok = LookupAccountNameA(nullptr, "bob", sid, &sidSize, domain, &domainSize, &use);
    EXPECT_EQ(ok != FALSE, c.ok) << c.sidSize << "/" << c.domainSize;
    if (ok) {
      EXPECT_EQ(sidSize, 28u);
      EXPECT_EQ(domainSize, 5u);
      EXPECT_STREQ(domain, "SALES");
      EXPECT_EQ(use, SidTypeUser);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_EQ(sidSize, 28u);
      EXPECT_EQ(domainSize, 6u);
    }
  }
  // Everyone's domain is empty: one character (the terminator) is needed.
  sidSize = 0;
  domainSize = 0;
  ASSERT_FALSE(LookupAccountNameA(nullptr, "Everyone", nullptr, &sidSize, nullptr, &domainSize, &use));
  EXPECT_EQ(sidSize, 12u);
  EXPECT_EQ(domainSize, 1u);

  EXPECT_FALSE(LookupAccountNameA(nullptr, nullptr, sid, &sidSize, domain, &domainSize, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(IsValidSid(nullptr));
  const BYTE bad[8] = {2, 0, 0, 0, 0, 0, 0, 5};
  EXPECT_FALSE(IsValidSid(const_cast<BYTE*>(bad)));
  EXPECT_EQ(GetLengthSid(const_cast<BYTE*>(bad)), 0u);
}

TEST_F(AccountsTest, DisplayInformationInBatches) {
  const std::vector<DisplayEntry> users = ReadDisplay(1, 1000, 1 << 20);
  const std::vector<DisplayEntry> groups = ReadDisplay(3, 1000, 1 << 20);
  EXPECT_EQ(Names(users), (std::vector<std::string>{"Administrator", "alice", "bob", "carol"}));
  EXPECT_EQ(Names(groups), (std::vector<std::string>{"devs", "None", "Report Readers"}));

  const auto& alice = users[1];
  EXPECT_EQ(alice.fullName, "Liddell, Alice");
  EXPECT_EQ(alice.comment, "Reviews reports, weekly");
  EXPECT_EQ(users[2].fullName, "Bob Builder");
  EXPECT_EQ(users[2].id, 2000u);
  EXPECT_TRUE(users[2].flags & UF_NORMAL_ACCOUNT);
  EXPECT_FALSE(users[2].flags & UF_ACCOUNTDISABLE);
  EXPECT_TRUE(users[3].flags & UF_ACCOUNTDISABLE);
  EXPECT_EQ(groups[2].comment, "Everyone who reads reports");
  EXPECT_EQ(groups[1].id, 513u);

  // Small batches give every entry exactly once, in the same order.
  const struct {
    DWORD entries;
    DWORD bytes;
  } batches[] = {{1, 1 << 20}, {2, 1 << 20}, {3, 1 << 20}, {16, 384}, {16, 1}, {100, 60}, {0, 1 << 20}};
  for (const auto& b : batches) {
    EXPECT_EQ(Names(ReadDisplay(1, b.entries, b.bytes)), Names(users)) << b.entries << "/" << b.bytes;
    EXPECT_EQ(Names(ReadDisplay(3, b.entries, b.bytes)), Names(groups)) << b.entries << "/" << b.bytes;
  }

  DWORD count = 7;
  PVOID buffer = &count;
  EXPECT_EQ(NetQueryDisplayInformation(nullptr, 1, 99, 10, 1000, &count, &buffer), NERR_Success);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(NetQueryDisplayInformation(nullptr, 2, 0, 10, 1000, &count, &buffer),
            static_cast<DWORD>(ERROR_INVALID_LEVEL));
  EXPECT_EQ(NetQueryDisplayInformation(nullptr, 1, 0, 10, 1000, nullptr, &buffer),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(AccountsTest, LocalGroupsInBatches) {
  const std::vector<std::string> expected = {"Administrators", "Backup Operators", "Guests", "Power Users",
                                             "Replicator",     "Users",            "Auditors"};
  for (const DWORD prefmaxlen : {MAX_PREFERRED_LENGTH, DWORD{1000}, DWORD{40}, DWORD{1}}) {
    std::vector<std::string> names;
    DWORD_PTR resume = 0;
    NET_API_STATUS status = 0;
    int calls = 0;
    do {
      LPBYTE buffer = nullptr;
      DWORD read = 0;
      DWORD total = 0;
      status = NetLocalGroupEnum(nullptr, 0, &buffer, prefmaxlen, &read, &total, &resume);
      ASSERT_TRUE(status == NERR_Success || status == static_cast<DWORD>(ERROR_MORE_DATA));
      EXPECT_EQ(total, expected.size() - names.size());
      for (DWORD i = 0; i < read; ++i)
        names.push_back(ToUtf8(reinterpret_cast<LOCALGROUP_INFO_0*>(buffer)[i].lgrpi0_name));
      NetApiBufferFree(buffer);
    } while (status == static_cast<DWORD>(ERROR_MORE_DATA) && ++calls < 100);
    EXPECT_EQ(names, expected) << prefmaxlen;
    EXPECT_EQ(resume, 0u);
  }
  LPBYTE buffer = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  ASSERT_EQ(NetLocalGroupEnum(u"\\\\ACCTPC", 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
            NERR_Success);
  ASSERT_EQ(read, expected.size());
  const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
  EXPECT_EQ(ToUtf8(info[6].lgrpi1_comment), "Local audit team");
  EXPECT_EQ(ToUtf8(info[0].lgrpi1_comment), "Members can fully administer the computer/domain");
  NetApiBufferFree(buffer);
}

TEST_F(AccountsTest, DomainControllerHasDomainGroups) {
  WriteConfig("pdc");
  EXPECT_EQ(Names(ReadDisplay(3, 16, 384)),
            (std::vector<std::string>{"devs", "Domain Admins", "Domain Guests", "Domain Users", "Report Readers"}));
  EXPECT_EQ(LookUp("None").error, static_cast<DWORD>(ERROR_NONE_MAPPED));
  EXPECT_EQ(LookUp("Domain Admins").sid.substr(LookUp("Domain Admins").sid.rfind('-')), "-512");
}

TEST_F(AccountsTest, DomainSidIsStableForTheDomainName) {
  const std::string sales = DomainSid();
  EXPECT_TRUE(sales.starts_with("SALES S-1-5-21-")) << sales;
  EXPECT_EQ(std::count(sales.begin(), sales.end(), '-'), 6);
  const std::string bob = LookUp("bob").sid;
  {
    testing::TempMachineHome other("OTHERWS");
    std::ofstream(other.path() / "machine.ini") << "[Machine]\nName = OTHERWS\nDomain = SALES\n";
    EXPECT_EQ(DomainSid(), sales);
    EXPECT_EQ(LookUp("bob").sid, bob);
    // The machine's own SID differs: local groups of two machines are not the same.
    EXPECT_NE(LookUp("OTHERWS").sid, LookUp("SALES").sid);
  }
  {
    testing::TempMachineHome lab("LABWS");
    std::ofstream(lab.path() / "machine.ini") << "[Machine]\nName = LABWS\nDomain = LAB\n";
    EXPECT_TRUE(DomainSid().starts_with("LAB S-1-5-21-"));
    EXPECT_NE(DomainSid().substr(4), sales.substr(6));
  }
}

TEST_F(AccountsTest, ServerNames) {
  for (LPCWSTR local : {static_cast<LPCWSTR>(nullptr), u"", u"ACCTPC", u"\\\\acctpc"})
    EXPECT_EQ(DomainSid(local).substr(0, 5), "SALES");
  const struct {
    LPCWSTR server;
    const char* narrow;
    DWORD error;
  } cases[] = {
      {u"\\\\OTHERPC", "\\\\OTHERPC", ERROR_BAD_NETPATH},  // its service does not answer
      {u"\\\\NOSUCHPC7Q", "\\\\NOSUCHPC7Q", ERROR_BAD_NETPATH},
      {u"\\\\BAD*NAME", "\\\\BAD*NAME", NERR_InvalidComputer},
  };
  for (const auto& c : cases) {
    LPBYTE buffer = nullptr;
    EXPECT_EQ(NetUserModalsGet(c.server, 2, &buffer), c.error) << c.narrow;
    EXPECT_EQ(buffer, nullptr);
    DWORD count = 0;
    PVOID display = nullptr;
    EXPECT_EQ(NetQueryDisplayInformation(c.server, 3, 0, 16, 384, &count, &display), c.error) << c.narrow;
    DWORD read = 0;
    DWORD total = 0;
    EXPECT_EQ(NetLocalGroupEnum(c.server, 0, &buffer, 1000, &read, &total, nullptr), c.error) << c.narrow;
    EXPECT_EQ(LookUp("bob", c.narrow).error, c.error) << c.narrow;
  }
}

TEST_F(AccountsTest, ConfiguredAccountsAreChecked) {
  const struct {
    const char* line;
    const char* problem;  // null: accepted
  } cases[] = {
      {"Everyone = group", "built-in"},
      {"administrator = user", "built-in"},
      {"x = wizard", "kind"},
      {"bad/name = user", "not an account name"},
      {"... = group", "not an account name"},
      {"averyveryverylongusername = user", "longer than 20"},
      {"averyveryverylonggroupname = group", nullptr},
      {"Night Shift = localgroup", nullptr},
      {"dave = user, \"Dave, Jr\", a, b", nullptr},
      {"eve = user, \"unterminated", "unterminated quote"},
  };
  for (const auto& c : cases) {
    testing::TempMachineHome home("CFGPC");
    std::ofstream(home.path() / "machine.ini") << "[Machine]\nName = CFGPC\n[Accounts]\n" << c.line << "\n";
    MachineConfig config;
    std::string error;
    const bool ok = LoadMachineConfig(home.path(), &config, &error);
    if (!c.problem) {
      EXPECT_TRUE(ok) << c.line << ": " << error;
      ASSERT_EQ(config.accounts.size(), 1u);
    } else {
      EXPECT_FALSE(ok) << c.line;
      EXPECT_NE(error.find(c.problem), std::string::npos) << c.line << ": " << error;
      EXPECT_NE(error.find("machine.ini:4"), std::string::npos) << error;
    }
  }
}

// Another machine's accounts come from its own service: its configuration,
// its role, its SIDs, with the same batching as this machine's.
TEST(RemoteAccountsTest, AnotherMachineAnswersFromItsOwnAccounts) {
  testing::MachineNetwork net("SALES");
  const auto& srv1 = net.Add({"SRV1", "SALES", MachineRole::PrimaryDomainController, {}});
  std::ofstream(srv1.home / "machine.ini", std::ios::app)
      << "[Accounts]\nzed = user, Zed Remote, Only on SRV1\nNight Shift = localgroup, Local to SRV1\n"
      << "Far Group = group\n";
  ASSERT_TRUE(net.StartAll());
  const char16_t* server = u"\\\\SRV1";

  // One domain, one domain SID, whichever machine is asked.
  EXPECT_EQ(DomainSid(server), DomainSid());
  const Lookup zed = LookUp("zed", "\\\\SRV1");
  ASSERT_TRUE(zed.ok) << zed.error;
  EXPECT_EQ(zed.use, SidTypeUser);
  EXPECT_EQ(zed.domain, "SALES");
  EXPECT_TRUE(zed.sid.starts_with(DomainSid().substr(std::string("SALES ").size()) + "-")) << zed.sid;
  EXPECT_EQ(LookUp("SRV1\\Night Shift", "\\\\SRV1").use, SidTypeAlias);
  EXPECT_EQ(LookUp("zed").error, static_cast<DWORD>(ERROR_NONE_MAPPED)) << "not an account of this machine";

  // Batches of one entry still walk the whole list.
  const auto users = Names(ReadDisplay(1, 1, 1, server));
  EXPECT_NE(std::find(users.begin(), users.end(), "zed"), users.end());
  EXPECT_NE(std::find(users.begin(), users.end(), "Administrator"), users.end());
  const auto groups = Names(ReadDisplay(3, 2, 64, server));
  for (const char* group : {"Domain Admins", "Domain Users", "Far Group"})
    EXPECT_NE(std::find(groups.begin(), groups.end(), group), groups.end()) << group;

  LPBYTE buffer = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  ASSERT_EQ(NetLocalGroupEnum(server, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr), NERR_Success);
  std::vector<std::string> local;
  for (DWORD i = 0; i < read; ++i) local.push_back(ToUtf8(reinterpret_cast<LOCALGROUP_INFO_0*>(buffer)[i].lgrpi0_name));
  NetApiBufferFree(buffer);
  EXPECT_EQ(local.back(), "Night Shift");

  net.Stop("SRV1");
  EXPECT_EQ(LookUp("zed", "\\\\SRV1").error, static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST(HostAccountsTest, TheSystemSourceReadsTheHostDatabase) {
  std::vector<HostUser> users;
  std::vector<HostGroup> groups;
  ASSERT_TRUE(SystemAccountSource()->Read(&users, &groups));
  EXPECT_TRUE(std::any_of(users.begin(), users.end(), [](const HostUser& u) { return u.uid == 0; }));
  EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [](const HostGroup& g) { return g.gid == 0; }));
  testing::TempMachineHome home("HOSTPC");
  const Lookup administrator = LookUp("Administrator");
  EXPECT_TRUE(administrator.ok);
  EXPECT_EQ(administrator.domain, "WORKGROUP");
}

}  // namespace
}  // namespace vn
