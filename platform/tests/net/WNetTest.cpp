#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/endpoints/MachineDirectory.h"
#include "platform/net/Files.h"
#include "platform/net/WNet.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"

namespace {

namespace fs = std::filesystem;

struct Entry {
  DWORD scope = 0, type = 0, displayType = 0, usage = 0;
  std::string local, remote, comment, provider;
  bool hasLocal = false, hasComment = false;
};

std::string Text(LPCSTR text) { return text ? text : ""; }

Entry Copy(const NETRESOURCEA& r) {
  return {r.dwScope,          r.dwType,           r.dwDisplayType,   r.dwUsage,         Text(r.lpLocalName),
          Text(r.lpRemoteName), Text(r.lpComment), Text(r.lpProvider), r.lpLocalName != nullptr,
          r.lpComment != nullptr};
}

// Every child of `parent` the way the console's network browse reads them: a
// 16000-byte buffer, as many entries as fit, grown on ERROR_MORE_DATA. Checks
// that every string lies inside the buffer, after the records.
DWORD Children(NETRESOURCEA* parent, std::vector<Entry>* out, DWORD scope = RESOURCE_GLOBALNET) {
  HANDLE handle = nullptr;
  if (const DWORD error = WNetOpenEnumA(scope, RESOURCETYPE_ANY, 0, parent, &handle)) return error;
  std::vector<BYTE> buffer(16000);
  DWORD result = 0;
  for (;;) {
    DWORD count = 0xFFFFFFFF;
    DWORD size = static_cast<DWORD>(buffer.size());
    result = WNetEnumResourceA(handle, &count, buffer.data(), &size);
    if (result == ERROR_MORE_DATA) {
      buffer.resize(size);
      continue;
    }
    if (result != ERROR_SUCCESS) break;
    const auto* records = reinterpret_cast<const NETRESOURCEA*>(buffer.data());
    const auto* stringsStart = reinterpret_cast<const char*>(records + count);
    const auto* end = reinterpret_cast<const char*>(buffer.data() + buffer.size());
    for (DWORD i = 0; i < count; ++i) {
      for (LPCSTR s : {records[i].lpLocalName, records[i].lpRemoteName, records[i].lpComment, records[i].lpProvider})
        if (s) {
          EXPECT_TRUE(s >= stringsStart && s + std::strlen(s) < end);
        }
      out->push_back(Copy(records[i]));
    }
  }
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(ERROR_SUCCESS));
  return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

std::set<std::string> RemoteNames(const std::vector<Entry>& entries) {
  std::set<std::string> names;
  for (const auto& e : entries) names.insert(e.remote);
  return names;
}

// A NETRESOURCEA naming an entry found earlier (its strings owned by `e`).
NETRESOURCEA Resource(Entry& e) {
  NETRESOURCEA r{};
  r.dwScope = e.scope;
  r.dwType = e.type;
  r.dwDisplayType = e.displayType;
  r.dwUsage = e.usage;
  r.lpRemoteName = e.remote.data();
  r.lpProvider = e.provider.data();
  return r;
}

DWORD Connect(const std::string& remote, const char* local, DWORD flags, std::string* access,
              DWORD* result = nullptr) {
  NETRESOURCEA resource{};
  resource.dwType = RESOURCETYPE_DISK;
  std::string name = remote;
  std::string device = local ? local : "";
  resource.lpRemoteName = name.data();
  resource.lpLocalName = local ? device.data() : nullptr;
  char buffer[260] = {};
  DWORD size = sizeof buffer;
  DWORD outcome = 0;
  const DWORD error = WNetUseConnectionA(nullptr, &resource, nullptr, nullptr, flags, buffer, &size, &outcome);
  if (access) *access = buffer;
  if (result) *result = outcome;
  return error;
}

// NETPC of SALES, with drives C:, D: (and the system drive S:) and the share
// Data; its hosts file knows three machines that are not running.
class LocalWNetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_home.path() / "d" / "Data");
    std::ofstream(m_home.path() / "d" / "Data" / "inside.txt") << "x";
    std::ofstream(m_home.path() / "machine.ini")
        << "[Machine]\nName=NETPC\nDomain=SALES\nHostResolver=no\n"
        << "[Drives]\nC = " << m_home.path().string() << "\nD = " << (m_home.path() / "d").string() << "\n"
        << "[Shares]\nData = D:\\Data, Team data\n";
    std::ofstream(m_home.path() / "hosts") << "127.0.0.1:1  SRV1  #DOM:SALES  #PDC\n"
                                           << "127.0.0.1:1  WKS1  #DOM:SALES\n"
                                           << "127.0.0.1:1  SRV2  #DOM:LAB\n";
  }
  void TearDown() override {
    for (const auto& c : vn::DriveConnections()) {
      const std::string name = c.letter ? std::string(1, c.letter) + ":" : "\\\\" + c.server + "\\" + c.share;
      WNetCancelConnectionA(name.c_str(), TRUE);
    }
  }
  vn::testing::TempMachineHome m_home{"NETPC"};
};

TEST_F(LocalWNetTest, BrowseTreeHasTheShapesWindowsGives) {
  std::vector<Entry> top;
  ASSERT_EQ(Children(nullptr, &top), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].remote, "Microsoft Windows Network");
  EXPECT_EQ(top[0].provider, "Microsoft Windows Network");
  EXPECT_EQ(top[0].displayType, RESOURCEDISPLAYTYPE_NETWORK);
  EXPECT_EQ(top[0].usage, RESOURCEUSAGE_CONTAINER);
  EXPECT_FALSE(top[0].hasLocal);

  NETRESOURCEA network = Resource(top[0]);
  std::vector<Entry> domains;
  ASSERT_EQ(Children(&network, &domains), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(RemoteNames(domains), (std::set<std::string>{"SALES", "LAB"}));
  for (const auto& d : domains) {
    EXPECT_EQ(d.displayType, RESOURCEDISPLAYTYPE_DOMAIN) << d.remote;
    EXPECT_EQ(d.usage, RESOURCEUSAGE_CONTAINER) << d.remote;
    EXPECT_EQ(d.provider, "Microsoft Windows Network");
  }

  auto sales = std::find_if(domains.begin(), domains.end(), [](const Entry& e) { return e.remote == "SALES"; });
  ASSERT_NE(sales, domains.end());
  NETRESOURCEA domain = Resource(*sales);
  std::vector<Entry> servers;
  ASSERT_EQ(Children(&domain, &servers), static_cast<DWORD>(ERROR_SUCCESS));
  const auto names = RemoteNames(servers);
  EXPECT_TRUE(names.contains("\\\\SRV1"));
  EXPECT_TRUE(names.contains("\\\\WKS1"));
  EXPECT_FALSE(names.contains("\\\\SRV2"));
  for (const auto& s : servers) {
    EXPECT_EQ(s.displayType, RESOURCEDISPLAYTYPE_SERVER) << s.remote;
    EXPECT_EQ(s.usage, RESOURCEUSAGE_CONTAINER) << s.remote;
  }

  // The shares of this machine itself; hidden ones are not browsed.
  Entry self{RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER,
             "", "\\\\netpc", "", "Microsoft Windows Network"};
  NETRESOURCEA server = Resource(self);
  std::vector<Entry> shares;
  ASSERT_EQ(Children(&server, &shares), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(shares.size(), 1u);
  EXPECT_EQ(shares[0].remote, "\\\\NETPC\\Data");
  EXPECT_EQ(shares[0].type, RESOURCETYPE_DISK);
  EXPECT_EQ(shares[0].displayType, RESOURCEDISPLAYTYPE_SHARE);
  EXPECT_EQ(shares[0].usage, RESOURCEUSAGE_CONNECTABLE);
  EXPECT_EQ(shares[0].comment, "Team data");

  // A level named by its remote name alone, without a display type.
  Entry generic{RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_GENERIC, RESOURCEUSAGE_CONTAINER,
                "", "LAB", "", ""};
  NETRESOURCEA lab = Resource(generic);
  std::vector<Entry> labServers;
  ASSERT_EQ(Children(&lab, &labServers), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(RemoteNames(labServers), std::set<std::string>{"\\\\SRV2"});
}

TEST_F(LocalWNetTest, OpeningFailures) {
  Entry share{RESOURCE_GLOBALNET, RESOURCETYPE_DISK, RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
              "", "\\\\NETPC\\Data", "", ""};
  Entry down{RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER,
             "", "\\\\SRV1", "", ""};
  NETRESOURCEA shareResource = Resource(share);
  NETRESOURCEA downResource = Resource(down);
  HANDLE handle = nullptr;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &shareResource, &handle),
            static_cast<DWORD>(ERROR_NOT_CONTAINER));
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &downResource, &handle),
            static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(WNetOpenEnumA(7, RESOURCETYPE_ANY, 0, nullptr, &handle), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, nullptr),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(LocalWNetTest, BufferProtocolAndHandles) {
  HANDLE handle = nullptr;
  ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, &handle),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<BYTE> buffer(10);
  DWORD count = 0xFFFFFFFF;
  DWORD size = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(ERROR_MORE_DATA));
  const DWORD needed = sizeof(NETRESOURCEA) + 2 * (std::strlen("Microsoft Windows Network") + 1);
  EXPECT_EQ(size, needed);
  buffer.resize(size);
  count = 0xFFFFFFFF;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(reinterpret_cast<NETRESOURCEA*>(buffer.data())->lpRemoteName, "Microsoft Windows Network");
  count = 0xFFFFFFFF;
  EXPECT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // One entry per call when asked for one.
  Entry network{RESOURCE_GLOBALNET, RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_NETWORK, RESOURCEUSAGE_CONTAINER,
                "", "Microsoft Windows Network", "", "Microsoft Windows Network"};
  NETRESOURCEA resource = Resource(network);
  ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &resource, &handle),
            static_cast<DWORD>(ERROR_SUCCESS));
  buffer.assign(16000, 0);
  int calls = 0;
  for (;;) {
    count = 1;
    size = static_cast<DWORD>(buffer.size());
    const DWORD error = WNetEnumResourceA(handle, &count, buffer.data(), &size);
    if (error == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(count, 1u);
    ++calls;
  }
  EXPECT_EQ(calls, 2);  // SALES and LAB
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(LocalWNetTest, ConnectionsTakeFreeLettersAndReachTheShare) {
  std::string access;
  DWORD result = 0;
  ASSERT_EQ(Connect("\\\\NETPC\\Data", nullptr, CONNECT_INTERACTIVE | CONNECT_REDIRECT, &access, &result),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(access, "E:");
  EXPECT_EQ(result, CONNECT_LOCALDRIVE);
  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_REMOTE);
  EXPECT_EQ(GetFileAttributesA("E:\\inside.txt") & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_EQ(Connect("//netpc/D$", nullptr, CONNECT_REDIRECT, &access), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(access, "F:");
  EXPECT_NE(GetFileAttributesA("F:\\Data\\inside.txt"), INVALID_FILE_ATTRIBUTES);

  const struct {
    const char* remote;
    const char* local;
    DWORD error;
  } failures[] = {
      {"\\\\NETPC\\Data", "E:", ERROR_ALREADY_ASSIGNED},
      {"\\\\NETPC\\Data", "c:", ERROR_ALREADY_ASSIGNED},
      {"\\\\NETPC\\Data", "1:", ERROR_BAD_DEVICE},
      {"\\\\NETPC\\Data", "LPT1", ERROR_BAD_DEVICE},
      {"\\\\NETPC\\Nope", nullptr, ERROR_BAD_NET_NAME},
      {"\\\\NETPC\\IPC$", nullptr, ERROR_BAD_NET_NAME},
      {"\\\\NETPC", nullptr, ERROR_BAD_NET_NAME},
      {"\\\\NETPC\\Data\\Sub", nullptr, ERROR_BAD_NET_NAME},
      {"\\\\SRV1\\Data", nullptr, ERROR_BAD_NETPATH},
      {"\\\\bad*name\\Data", nullptr, static_cast<DWORD>(NERR_InvalidComputer)},
  };
  for (const auto& f : failures)
    EXPECT_EQ(Connect(f.remote, f.local, CONNECT_REDIRECT, nullptr), f.error) << f.remote << " " << Text(f.local);

  // A letter asked for by name; too small an access buffer connects nothing.
  ASSERT_EQ(Connect("\\\\NETPC\\Data", "Z:", 0, &access), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(access, "Z:");
  NETRESOURCEA resource{};
  resource.dwType = RESOURCETYPE_DISK;
  std::string remote = "\\\\NETPC\\Data";
  resource.lpRemoteName = remote.data();
  char small[2];
  DWORD size = sizeof small;
  EXPECT_EQ(WNetUseConnectionA(nullptr, &resource, nullptr, nullptr, CONNECT_REDIRECT, small, &size, nullptr),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 3u);

  std::vector<Entry> connected;
  ASSERT_EQ(Children(nullptr, &connected, RESOURCE_CONNECTED), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(connected.size(), 3u);
  EXPECT_EQ(connected[0].local, "E:");
  EXPECT_EQ(connected[0].remote, "\\\\NETPC\\Data");
  EXPECT_EQ(connected[1].local, "F:");
  EXPECT_EQ(connected[1].remote, "\\\\NETPC\\D$");
  EXPECT_EQ(connected[2].local, "Z:");

  char drives[64];
  ASSERT_EQ(GetLogicalDriveStringsA(sizeof drives, drives), 24u);
  EXPECT_EQ(std::string(drives, 24), std::string("C:\\\0D:\\\0E:\\\0F:\\\0S:\\\0Z:\\\0", 24));

  EXPECT_EQ(WNetCancelConnectionA("e:", TRUE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WNetCancelConnectionA("E:", TRUE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_NO_ROOT_DIR);
  // A remote name cancels deviceless connections only; F: stays.
  EXPECT_EQ(WNetCancelConnectionA("\\\\NETPC\\D$", TRUE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
  EXPECT_EQ(GetDriveTypeA("F:\\"), DRIVE_REMOTE);
  // The freed letter is the next one given.
  ASSERT_EQ(Connect("\\\\NETPC\\Data", nullptr, CONNECT_REDIRECT, &access), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(access, "E:");

  // A deviceless connection answers with the remote name and is cancelled by it.
  ASSERT_EQ(Connect("\\\\netpc\\data", nullptr, 0, &access, &result), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(access, "\\\\NETPC\\Data");
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(WNetCancelConnectionA("\\\\NETPC\\DATA", FALSE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WNetCancelConnectionA("\\\\NETPC\\DATA", FALSE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
}

// Browsing other machines' shares through their services.
TEST(RemoteWNetTest, SharesOfRunningMachines) {
  vn::testing::MachineNetwork net("SALES");
  net.Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
  net.Add({"SRV2", "LAB", vn::MachineRole::Server, {"Tools", "Builds"}});
  ASSERT_TRUE(net.StartAll());

  // Walk the tree from the top, as the console does, down to every server.
  std::vector<Entry> top;
  ASSERT_EQ(Children(nullptr, &top), static_cast<DWORD>(ERROR_SUCCESS));
  NETRESOURCEA network = Resource(top.at(0));
  std::vector<Entry> domains;
  ASSERT_EQ(Children(&network, &domains), static_cast<DWORD>(ERROR_SUCCESS));
  std::set<std::string> shares;
  for (auto& d : domains) {
    NETRESOURCEA domain = Resource(d);
    std::vector<Entry> servers;
    ASSERT_EQ(Children(&domain, &servers), static_cast<DWORD>(ERROR_SUCCESS)) << d.remote;
    for (auto& s : servers) {
      if (s.remote == "\\\\CONSOLE") continue;  // not running
      NETRESOURCEA server = Resource(s);
      std::vector<Entry> found;
      ASSERT_EQ(Children(&server, &found), static_cast<DWORD>(ERROR_SUCCESS)) << s.remote;
      for (const auto& e : found) shares.insert(e.remote);
    }
  }
  EXPECT_EQ(shares, (std::set<std::string>{"\\\\SRV1\\Data", "\\\\SRV2\\Tools", "\\\\SRV2\\Builds"}));
}

}  // namespace
