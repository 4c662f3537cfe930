#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/net/Net.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"

namespace {

namespace fs = std::filesystem;

struct Server {
  std::string name;
  DWORD type = 0;
};

// NetServerEnum at level 101 to its end, following the resume handle.
NET_API_STATUS EnumServers(LPCWSTR server, DWORD type, LPCWSTR domain, std::vector<Server>* out,
                           DWORD prefmaxlen = MAX_PREFERRED_LENGTH) {
  DWORD resume = 0;
  NET_API_STATUS status = 0;
  int calls = 0;
  do {
    if (++calls > 100) return ERROR_MORE_DATA;
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    status = NetServerEnum(server, 101, &buffer, prefmaxlen, &read, &total, type, domain, &resume);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
    const auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
    for (DWORD i = 0; i < read; ++i) out->push_back({vn::ToUtf8(info[i].sv101_name), info[i].sv101_type});
    NetApiBufferFree(buffer);
  } while (status == ERROR_MORE_DATA);
  return status;
}

std::set<std::string> Names(const std::vector<Server>& servers) {
  std::set<std::string> names;
  for (const auto& s : servers) names.insert(s.name);
  return names;
}

struct Share {
  std::string name;
  DWORD type = 0;
  std::string remark;
  bool operator==(const Share&) const = default;
};

// NetShareEnum level 1 the way the console's share list reads it: keep going
// while a resume handle is set and entries came back. *calls counts the calls.
NET_API_STATUS EnumShares(LPCWSTR server, DWORD prefmaxlen, std::vector<Share>* out, int* calls) {
  DWORD resume = 0;
  *calls = 0;
  for (;;) {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    const NET_API_STATUS status = NetShareEnum(server, 1, &buffer, prefmaxlen, &read, &total, &resume);
    ++*calls;
    if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
    const auto* info = reinterpret_cast<SHARE_INFO_1*>(buffer);
    for (DWORD i = 0; i < read; ++i)
      out->push_back({vn::ToUtf8(info[i].shi1_netname), info[i].shi1_type, vn::ToUtf8(info[i].shi1_remark)});
    NetApiBufferFree(buffer);
    if (status == NERR_Success) {
      EXPECT_EQ(resume, 0u);
      return status;
    }
    // Each call must advance; a resume handle that does not ends here.
    if (read == 0 || resume == 0 || *calls > 100) return ERROR_MORE_DATA;
  }
}

// The console's share filter: plain disk shares and administrative disk shares.
std::set<std::string> DiskShares(const std::vector<Share>& shares) {
  std::set<std::string> names;
  for (const auto& s : shares)
    if (s.type == STYPE_DISKTREE || s.type == STYPE_SPECIAL) names.insert(s.name);
  return names;
}

std::string ControllerOf(LPCWSTR server, LPCWSTR domain, NET_API_STATUS* status, bool any = false) {
  LPBYTE buffer = nullptr;
  *status = any ? NetGetAnyDCName(server, domain, &buffer) : NetGetDCName(server, domain, &buffer);
  const std::string name = vn::ToUtf8(reinterpret_cast<LPCWSTR>(buffer));
  NetApiBufferFree(buffer);
  return name;
}

// A workstation NETPC of SALES whose hosts file knows three machines that are
// not running (port 1 refuses every connection).
class LocalNetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_home.path() / "d" / "Data");
    std::ofstream(m_home.path() / "machine.ini")
        << "[Machine]\nName=NETPC\nDomain=SALES\nRole=workstation\nComment=Front desk\nHostResolver=no\n"
        << "[Drives]\nC = " << m_home.path().string() << "\nD = " << (m_home.path() / "d").string() << "\n"
        << "[Shares]\nData = D:\\Data, Team data\n";
    std::ofstream(m_home.path() / "hosts") << "127.0.0.1:1  SRV1  #DOM:SALES  #PDC\n"
                                           << "127.0.0.1:1  WKS1  #DOM:SALES\n"
                                           << "127.0.0.1:1  SRV2  #DOM:LAB\n";
  }
  vn::testing::TempMachineHome m_home{"NETPC"};
};

TEST_F(LocalNetTest, ServerInfoOfThisMachineByEveryName) {
  for (LPCWSTR name : {static_cast<LPCWSTR>(nullptr), u"", u"\\\\NETPC", u"netpc", u"\\\\NetPc"}) {
    LPBYTE buffer = nullptr;
    ASSERT_EQ(NetServerGetInfo(name, 101, &buffer), NERR_Success);
    const auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
    EXPECT_EQ(vn::ToUtf8(info->sv101_name), "NETPC");
    EXPECT_EQ(info->sv101_platform_id, PLATFORM_ID_NT);
    EXPECT_EQ(info->sv101_version_major, 4u);
    EXPECT_EQ(info->sv101_version_minor, 0u);
    EXPECT_TRUE(info->sv101_type & SV_TYPE_NT);
    EXPECT_TRUE(info->sv101_type & SV_TYPE_WORKSTATION);
    EXPECT_FALSE(info->sv101_type & (SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL));
    EXPECT_EQ(vn::ToUtf8(info->sv101_comment), "Front desk");
    NetApiBufferFree(buffer);
  }
  LPBYTE buffer = nullptr;
  ASSERT_EQ(NetServerGetInfo(u"NETPC", 100, &buffer), NERR_Success);
  EXPECT_EQ(vn::ToUtf8(reinterpret_cast<SERVER_INFO_100*>(buffer)->sv100_name), "NETPC");
  NetApiBufferFree(buffer);
}

NET_API_STATUS GetInfo(LPCWSTR server, DWORD level) {
  LPBYTE buffer = nullptr;
  const NET_API_STATUS status = NetServerGetInfo(server, level, &buffer);
  NetApiBufferFree(buffer);
  return status;
}

NET_API_STATUS ShareEnum(LPCWSTR server, DWORD level) {
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0;
  const NET_API_STATUS status = NetShareEnum(server, level, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr);
  NetApiBufferFree(buffer);
  return status;
}

NET_API_STATUS ServerEnum(LPCWSTR server, DWORD level) {
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0;
  const NET_API_STATUS status =
      NetServerEnum(server, level, &buffer, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL, nullptr, nullptr);
  NetApiBufferFree(buffer);
  return status;
}

TEST_F(LocalNetTest, ErrorsOfEveryCall) {
  const struct {
    const char* what;
    NET_API_STATUS status;
    NET_API_STATUS expected;
  } cases[] = {
      {"info level 102", GetInfo(nullptr, 102), ERROR_INVALID_LEVEL},
      {"info without output", NetServerGetInfo(nullptr, 101, nullptr), ERROR_INVALID_PARAMETER},
      {"info of an invalid name", GetInfo(u"\\\\bad*name", 101), NERR_InvalidComputer},
      {"info of a machine down", GetInfo(u"\\\\SRV1", 101), ERROR_BAD_NETPATH},
      {"shares of a machine down", ShareEnum(u"SRV1", 1), ERROR_BAD_NETPATH},
      {"shares level 2", ShareEnum(nullptr, 2), ERROR_INVALID_LEVEL},
      {"servers level 102", ServerEnum(nullptr, 102), ERROR_INVALID_LEVEL},
      {"servers of a machine down", ServerEnum(u"\\\\WKS1", 100), ERROR_BAD_NETPATH},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
}

TEST_F(LocalNetTest, BrowseListByTypeAndDomain) {
  std::vector<Server> domains;
  ASSERT_EQ(EnumServers(nullptr, SV_TYPE_DOMAIN_ENUM, nullptr, &domains), NERR_Success);
  EXPECT_EQ(Names(domains), (std::set<std::string>{"SALES", "LAB"}));
  for (const auto& d : domains) EXPECT_EQ(d.type, SV_TYPE_DOMAIN_ENUM) << d.name;

  std::vector<Server> sales;
  ASSERT_EQ(EnumServers(nullptr, SV_TYPE_NT | SV_TYPE_DOMAIN_MEMBER, u"sales", &sales), NERR_Success);
  EXPECT_TRUE(Names(sales).contains("SRV1"));
  EXPECT_TRUE(Names(sales).contains("WKS1"));
  EXPECT_FALSE(Names(sales).contains("SRV2"));

  std::vector<Server> controllers;
  ASSERT_EQ(EnumServers(nullptr, SV_TYPE_DOMAIN_CTRL, nullptr, &controllers), NERR_Success);
  EXPECT_EQ(Names(controllers), std::set<std::string>{"SRV1"});

  // One entry's worth of buffer at a time gives the same list, in pieces.
  std::vector<Server> all;
  std::vector<Server> pieces;
  ASSERT_EQ(EnumServers(nullptr, SV_TYPE_ALL, nullptr, &all), NERR_Success);
  ASSERT_EQ(EnumServers(nullptr, SV_TYPE_ALL, nullptr, &pieces, 1), NERR_Success);
  EXPECT_GE(all.size(), 3u);
  EXPECT_EQ(Names(pieces), Names(all));
  EXPECT_EQ(pieces.size(), all.size());
}

TEST_F(LocalNetTest, DomainControllers) {
  const struct {
    LPCWSTR server;
    LPCWSTR domain;
    NET_API_STATUS status;
    std::string name;
  } cases[] = {
      {nullptr, u"SALES", NERR_Success, "\\\\SRV1"},
      {nullptr, u"sales", NERR_Success, "\\\\SRV1"},
      {nullptr, nullptr, NERR_Success, "\\\\SRV1"},
      {u"\\\\NETPC", u"", NERR_Success, "\\\\SRV1"},
      {nullptr, u"LAB", NERR_DCNotFound, ""},
      {nullptr, u"NOWHERE", NERR_DCNotFound, ""},
  };
  for (const auto& c : cases) {
    for (const bool any : {false, true}) {
      NET_API_STATUS status = 0;
      EXPECT_EQ(ControllerOf(c.server, c.domain, &status, any), c.name) << vn::ToUtf8(c.domain) << any;
      EXPECT_EQ(status, c.status) << vn::ToUtf8(c.domain) << any;
    }
  }
}

TEST_F(LocalNetTest, SharesWithResumeHandles) {
  std::vector<Share> whole;
  int calls = 0;
  ASSERT_EQ(EnumShares(nullptr, MAX_PREFERRED_LENGTH, &whole, &calls), NERR_Success);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(DiskShares(whole), (std::set<std::string>{"Data", "C$", "D$", "S$", "ADMIN$"}));
  const auto data = std::find_if(whole.begin(), whole.end(), [](const Share& s) { return s.name == "Data"; });
  ASSERT_NE(data, whole.end());
  EXPECT_EQ(data->remark, "Team data");
  const auto ipc = std::find_if(whole.begin(), whole.end(), [](const Share& s) { return s.name == "IPC$"; });
  ASSERT_NE(ipc, whole.end());
  EXPECT_EQ(ipc->type & ~STYPE_SPECIAL, STYPE_IPC);

  // Small buffers: the same shares in the same order, a few per call.
  for (const DWORD prefmaxlen : {1u, 60u, 100u}) {
    std::vector<Share> pieces;
    ASSERT_EQ(EnumShares(u"\\\\NETPC", prefmaxlen, &pieces, &calls), NERR_Success) << prefmaxlen;
    EXPECT_EQ(pieces, whole) << prefmaxlen;
    EXPECT_GT(calls, 1) << prefmaxlen;
  }

  // A resume handle past the end gives nothing and ends the enumeration.
  LPBYTE buffer = nullptr;
  DWORD read = 7, total = 7, resume = 1000;
  EXPECT_EQ(NetShareEnum(nullptr, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume), NERR_Success);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(resume, 0u);
  EXPECT_EQ(buffer, nullptr);
}

// The same calls answered by other machines through their services.
class RemoteNetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<vn::testing::MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
    s_net->Add({"WKS1", "SALES", vn::MachineRole::Workstation, {}});
    s_net->Add({"SRV2", "LAB", vn::MachineRole::Server, {"Tools", "Builds"}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }
  static std::unique_ptr<vn::testing::MachineNetwork> s_net;
};

std::unique_ptr<vn::testing::MachineNetwork> RemoteNetTest::s_net;

// The console's test for a machine it may manage: level 101 answers with the
// NT bit.
bool IsNTMachine(const std::string& name) {
  const std::u16string wide = vn::ToWide(name.starts_with("\\\\") ? name : "\\\\" + name);
  LPBYTE buffer = nullptr;
  if (NetServerGetInfo(wide.c_str(), 101, &buffer) != NERR_Success) return false;
  const bool nt = reinterpret_cast<SERVER_INFO_101*>(buffer)->sv101_type & SV_TYPE_NT;
  NetApiBufferFree(buffer);
  return nt;
}

TEST_F(RemoteNetTest, ServerTypesByRole) {
  const struct {
    const char16_t* name;
    DWORD required;
    DWORD absent;
  } cases[] = {
      {u"\\\\SRV1", SV_TYPE_NT | SV_TYPE_SERVER | SV_TYPE_DOMAIN_CTRL, SV_TYPE_DOMAIN_BAKCTRL},
      {u"wks1", SV_TYPE_NT | SV_TYPE_WORKSTATION | SV_TYPE_DOMAIN_MEMBER, SV_TYPE_DOMAIN_CTRL},
      {u"\\\\SRV2", SV_TYPE_NT | SV_TYPE_SERVER, SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL},
  };
  for (const auto& c : cases) {
    LPBYTE buffer = nullptr;
    ASSERT_EQ(NetServerGetInfo(c.name, 101, &buffer), NERR_Success) << vn::ToUtf8(c.name);
    const auto* info = reinterpret_cast<SERVER_INFO_101*>(buffer);
    std::string expectedName = vn::ToUtf8(c.name);
    expectedName = vn::ToUpperAscii(expectedName.substr(expectedName.find_first_not_of('\\')));
    EXPECT_EQ(vn::ToUtf8(info->sv101_name), expectedName);
    EXPECT_EQ(info->sv101_type & c.required, c.required) << expectedName;
    EXPECT_EQ(info->sv101_type & c.absent, 0u) << expectedName;
    EXPECT_EQ(info->sv101_version_major, 4u);
    NetApiBufferFree(buffer);
  }
  EXPECT_TRUE(IsNTMachine("SRV1"));
  EXPECT_TRUE(IsNTMachine("\\\\WKS1"));
  EXPECT_FALSE(IsNTMachine("NOSUCH"));
  LPBYTE buffer = nullptr;
  EXPECT_EQ(NetServerGetInfo(u"\\\\NOSUCH", 101, &buffer), static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH));
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(RemoteNetTest, SharesOfAnotherMachineThroughTheConsoleFilter) {
  std::vector<Share> whole;
  int calls = 0;
  ASSERT_EQ(EnumShares(u"\\\\SRV2", MAX_PREFERRED_LENGTH, &whole, &calls), NERR_Success);
  EXPECT_EQ(DiskShares(whole), (std::set<std::string>{"Tools", "Builds", "C$", "D$", "S$", "ADMIN$"}));
  EXPECT_TRUE(std::any_of(whole.begin(), whole.end(), [](const Share& s) { return s.name == "IPC$"; }));
  std::vector<Share> pieces;
  ASSERT_EQ(EnumShares(u"SRV2", 1, &pieces, &calls), NERR_Success);
  EXPECT_EQ(pieces, whole);
  EXPECT_EQ(calls, static_cast<int>(whole.size()));
}

TEST_F(RemoteNetTest, BrowseListAndControllersAsAnotherMachineKnowsThem) {
  std::vector<Server> domains;
  ASSERT_EQ(EnumServers(u"\\\\SRV2", SV_TYPE_DOMAIN_ENUM, nullptr, &domains), NERR_Success);
  EXPECT_EQ(Names(domains), (std::set<std::string>{"SALES", "LAB"}));
  std::vector<Server> lab;
  ASSERT_EQ(EnumServers(u"\\\\WKS1", SV_TYPE_NT, u"LAB", &lab), NERR_Success);
  EXPECT_EQ(Names(lab), std::set<std::string>{"SRV2"});
  NET_API_STATUS status = 0;
  EXPECT_EQ(ControllerOf(u"\\\\WKS1", u"SALES", &status), "\\\\SRV1");
  EXPECT_EQ(status, NERR_Success);
  EXPECT_EQ(ControllerOf(u"\\\\SRV1", u"LAB", &status), "");
  EXPECT_EQ(status, NERR_DCNotFound);
}

}  // namespace
