// The machine service end to end: this process is the console, the other
// machines are real services on loopback (MachineNetwork), reached through the
// platform's own calls.
#include "platform/endpoints/RemoteMachine.h"

#include <signal.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/MachineServiceStarter.h"
#include "platform/hive/LocalHive.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::MachineNetwork;

// Deterministic contents for large files: a xorshift stream, so that a file
// can be checked without being kept in memory.
class Pattern {
 public:
  explicit Pattern(std::uint64_t seed) : m_state(seed | 1) {}
  void Fill(std::span<BYTE> out) {
    for (auto& b : out) {
      m_state ^= m_state << 13;
      m_state ^= m_state >> 7;
      m_state ^= m_state << 17;
      b = static_cast<BYTE>(m_state >> 24);
    }
  }

 private:
  std::uint64_t m_state;
};

// The TCP connections this process holds to `port` (its own sockets, in any
// state, as /proc lists them): what a killed service leaves behind until
// the process lets go of them.
int ConnectionsTo(std::uint16_t port) {
  std::set<std::string> sockets;  // inode numbers
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    const std::string target = fs::read_symlink(entry.path(), error).string();
    if (target.starts_with("socket:[") && target.ends_with(']')) sockets.insert(target.substr(8, target.size() - 9));
  }
  int count = 0;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const auto colon = remote.rfind(':');
      if (colon != std::string::npos && std::stoul(remote.substr(colon + 1), nullptr, 16) == port &&
          sockets.contains(inode))
        ++count;
    }
  }
  return count;
}

std::string Hex(const BYTE* data, DWORD size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < size; ++i) text += {kDigits[data[i] >> 4], kDigits[data[i] & 15]};
  return text;
}

// One line of an enumeration: the index asked for and, when the call found
// an entry, its name.
std::string Enumerated(const char* call, DWORD index, LONG rc, const char* name) {
  std::string line = call;
  line += ' ';
  line += std::to_string(index);
  if (rc == ERROR_SUCCESS) {
    line += ' ';
    line += name;
  }
  return line;
}

// One pass over the registry calls, written down as a transcript of results
// and outputs (never times), so that a remote hive can be compared with the
// local one call by call.
std::vector<std::string> RegistryTranscript(HKEY root) {
  std::vector<std::string> log;
  auto note = [&](const std::string& what, LONG rc) { log.push_back(what + "=" + std::to_string(rc)); };
  HKEY key = nullptr;
  DWORD disposition = 0;
  note("create", RegCreateKeyExA(root, "SOFTWARE\\VornalTest\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 &disposition));
  note("disposition", static_cast<LONG>(disposition));
  HKEY again = nullptr;
  note("create-again", RegCreateKeyExA(root, "software\\vornaltest\\SUB", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &again, &disposition));
  note("disposition", static_cast<LONG>(disposition));
  RegCloseKey(again);

  const char text[] = "hello";
  const DWORD dword = 0x12345678;
  const BYTE binary[] = {0, 1, 2, 0, 255};
  const char multi[] = "one\0two\0";
  note("set-sz", RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
  note("set-dword", RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4));
  note("set-binary", RegSetValueExA(key, "Bytes", 0, REG_BINARY, binary, sizeof binary));
  note("set-multi", RegSetValueExA(key, "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi));
  note("set-default", RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
  note("overwrite", RegSetValueExA(key, "TEXT", 0, REG_SZ, reinterpret_cast<const BYTE*>("bye"), 4));

  for (const char* name : {"Text", "Number", "Bytes", "List", "", "Missing"}) {
    BYTE data[64] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    note(std::string("query ") + name + " type " + std::to_string(type) + " size " + std::to_string(size) + " " +
             Hex(data, rc == ERROR_SUCCESS ? size : 0),
         rc);
  }
  BYTE small[2];
  DWORD size = sizeof small;
  note("query-small", RegQueryValueExA(key, "Bytes", nullptr, nullptr, small, &size));
  note("needed", static_cast<LONG>(size));
  size = 0;
  note("query-size-only", RegQueryValueExA(key, "List", nullptr, nullptr, nullptr, &size));
  note("needed", static_cast<LONG>(size));

  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD cch = sizeof name;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, i, name, &cch, nullptr, &type, nullptr, nullptr);
    note(Enumerated("enum-value", i, rc, name), rc);
    if (rc != ERROR_SUCCESS) break;
  }

  HKEY parent = nullptr;
  note("open", RegOpenKeyExA(root, "SOFTWARE\\VornalTest", 0, KEY_READ, &parent));
  for (const char* sub : {"beta", "Alpha"}) {
    HKEY made = nullptr;
    note(std::string("create ") + sub, RegCreateKeyExA(parent, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                                                      nullptr));
    RegCloseKey(made);
  }
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD cch = sizeof name;
    FILETIME written{};
    const LONG rc = RegEnumKeyExA(parent, i, name, &cch, nullptr, nullptr, nullptr, &written);
    note(Enumerated("enum-key", i, rc, name), rc);
    if (rc != ERROR_SUCCESS) break;
    EXPECT_NE(written.dwHighDateTime, 0u) << name;
  }
  char tiny[3];
  DWORD cch = sizeof tiny;
  note("enum-key-small", RegEnumKeyExA(parent, 0, tiny, &cch, nullptr, nullptr, nullptr, nullptr));

  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxValue = 0;
  note("info", RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxName,
                                &maxValue, nullptr, nullptr));
  note("info " + std::to_string(subKeys) + " " + std::to_string(values) + " " + std::to_string(maxName) + " " +
           std::to_string(maxValue),
       0);

  note("delete-with-subkeys", RegDeleteKeyA(root, "SOFTWARE\\VornalTest"));
  note("delete-value", RegDeleteValueA(key, "Number"));
  note("delete-value-again", RegDeleteValueA(key, "Number"));
  HKEY missing = nullptr;
  note("open-missing", RegOpenKeyExA(root, "SOFTWARE\\VornalTest\\Nothing", 0, KEY_READ, &missing));
  note("leading-backslash", RegOpenKeyExA(root, "\\SOFTWARE", 0, KEY_READ, &missing));

  // A handle whose key is deleted under it.
  note("delete-sub", RegDeleteKeyA(parent, "Sub"));
  DWORD type = 0;
  note("query-deleted", RegQueryValueExA(key, "Text", nullptr, &type, nullptr, nullptr));
  note("set-deleted", RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
  RegCloseKey(key);

  note("delete-alpha", RegDeleteKeyA(parent, "ALPHA"));
  note("delete-beta", RegDeleteKeyA(parent, "beta"));
  RegCloseKey(parent);
  note("delete-top", RegDeleteKeyA(root, "SOFTWARE\\VornalTest"));
  return log;
}

// SALES: SRV1 (controller, share "Data") and WKS1 (never started); LAB: SRV2.
// The test process is CONSOLE of SALES, holding an identity in both domains.
class RemoteMachineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
    s_net->Add({"WKS1", "SALES", vn::MachineRole::Workstation, {}});
    s_net->Add({"SRV2", "LAB", vn::MachineRole::PrimaryDomainController, {"Tools"}});
    ASSERT_TRUE(s_net->Start("SRV1"));
    ASSERT_TRUE(s_net->Start("SRV2"));
  }
  static void TearDownTestSuite() { s_net.reset(); }

  void TearDown() override {
    // Every test leaves the console holding its real identities and SRV1 running.
    for (const char* domain : {"SALES", "LAB"}) s_net->SetIdentity("CONSOLE", domain, vn::testing::TestIdentity::Issued);
    ASSERT_TRUE(s_net->IsRunning("SRV1") || s_net->Start("SRV1"));
  }

  static std::shared_ptr<vn::MachineEndpoint> Endpoint(const char* name) {
    std::shared_ptr<vn::MachineEndpoint> endpoint;
    EXPECT_EQ(vn::FindMachine(name, &endpoint), ERROR_SUCCESS) << name;
    return endpoint;
  }

  static const vn::testing::TestMachine& Srv1() { return s_net->Machine("SRV1"); }

  static std::unique_ptr<MachineNetwork> s_net;
};

std::unique_ptr<MachineNetwork> RemoteMachineTest::s_net;

TEST_F(RemoteMachineTest, RemoteRegistryAnswersExactlyAsTheLocalOne) {
  HKEY remote = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  const auto local = RegistryTranscript(HKEY_LOCAL_MACHINE);
  const auto over = RegistryTranscript(remote);
  EXPECT_EQ(over, local);
  EXPECT_NE(std::find(local.begin(), local.end(), "query-deleted=" + std::to_string(ERROR_KEY_DELETED)), local.end());

  // The remote calls changed SRV1's own hive, not the console's.
  HKEY landed = nullptr;
  ASSERT_EQ(RegCreateKeyExA(remote, "SOFTWARE\\Landed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &landed, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(landed);
  std::shared_ptr<vn::LocalHive> srv1Hive;
  ASSERT_EQ(vn::LocalHive::Open(Srv1().home / "registry.db", &srv1Hive), ERROR_SUCCESS);
  vn::KeyId id = 0;
  EXPECT_EQ(srv1Hive->OpenKey(vn::kRootKey, "SOFTWARE\\Landed", &id), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Landed", 0, KEY_READ, &landed), ERROR_FILE_NOT_FOUND);

  // What the service wrote at its first start is there to read.
  HKEY version = nullptr;
  ASSERT_EQ(RegOpenKeyExA(remote, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &version),
            ERROR_SUCCESS);
  char value[16] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(version, "CurrentVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, "4.0");
  RegCloseKey(version);
  RegCloseKey(remote);
}

TEST_F(RemoteMachineTest, MachineNamesResolveOrFailAsOnNT) {
  struct Case {
    const char* name;
    LONG expected;
  } cases[] = {
      {"\\\\SRV1", ERROR_SUCCESS},
      {"\\\\srv2", ERROR_SUCCESS},                  // names compare without case
      {"SRV1", ERROR_SUCCESS},                      // backslashes are optional
      {"\\\\NOSUCHMACHINE", ERROR_BAD_NETPATH},     // neither in the hosts file nor resolvable
      {"\\\\WKS1", ERROR_BAD_NETPATH},              // known, but its service is not running
      {"\\\\", NERR_InvalidComputer},
      {"\\\\BAD*NAME", NERR_InvalidComputer},
      {"\\\\A<B", NERR_InvalidComputer},
      {"\\\\SIXTEENCHARSLONG", NERR_InvalidComputer},
  };
  for (const auto& c : cases) {
    HKEY key = nullptr;
    EXPECT_EQ(RegConnectRegistryA(c.name, HKEY_LOCAL_MACHINE, &key), c.expected) << c.name;
    if (key) RegCloseKey(key);
  }
  // This machine's own name is the local endpoint, not a connection to itself.
  std::shared_ptr<vn::MachineEndpoint> endpoint;
  ASSERT_EQ(vn::FindMachine("\\\\console", &endpoint), ERROR_SUCCESS);
  EXPECT_EQ(endpoint, vn::LocalMachineEndpoint());
  ASSERT_EQ(vn::FindMachine("", &endpoint), ERROR_SUCCESS);
  EXPECT_EQ(endpoint, vn::LocalMachineEndpoint());
}

// A name the hosts file does not hold goes to the host's resolver only when
// the configuration allows it; "localhost" is in every host's /etc/hosts, so
// no name server is asked. Nothing is connected to: finding a machine only
// names its address.
TEST(MachineDirectoryTest, NamesOutsideTheHostsFileGoToTheResolverOnlyWhenAllowed) {
  vn::testing::TempMachineHome home("CONSOLE");
  std::ofstream(home.path() / "hosts") << "127.0.0.1:1  LISTED  #DOM:SALES\n";
  struct Case {
    const char* resolver;
    const char* name;
    LONG expected;
  } cases[] = {
      {"yes", "localhost", ERROR_SUCCESS},
      {"no", "localhost", ERROR_BAD_NETPATH},
      {"no", "\\\\NOSUCHMACHINE", ERROR_BAD_NETPATH},
      {"no", "\\\\listed", ERROR_SUCCESS},
      {"yes", "\\\\listed", ERROR_SUCCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.resolver) + " " + c.name);
    std::ofstream(home.path() / "machine.ini") << "[Machine]\nName = CONSOLE\nHostResolver = " << c.resolver << "\n";
    std::shared_ptr<vn::MachineEndpoint> endpoint;
    EXPECT_EQ(vn::FindMachine(c.name, &endpoint), c.expected);
    if (c.expected == ERROR_SUCCESS) {
      EXPECT_NE(std::dynamic_pointer_cast<vn::RemoteMachine>(endpoint), nullptr) << "another machine";
    }
  }
}

TEST_F(RemoteMachineTest, ServerInfoAndSharesComeFromTheRemoteMachine) {
  auto srv1 = Endpoint("\\\\SRV1");
  vn::ServerInfo info;
  ASSERT_EQ(srv1->GetServerInfo(&info), ERROR_SUCCESS);
  EXPECT_EQ(info.name, "SRV1");
  EXPECT_EQ(info.domain, "SALES");
  EXPECT_EQ(info.versionMajor, 4u);
  EXPECT_TRUE(info.type & SV_TYPE_NT);
  EXPECT_TRUE(info.type & SV_TYPE_DOMAIN_CTRL);

  std::vector<vn::ShareInfo> shares;
  ASSERT_EQ(srv1->EnumShares(&shares), ERROR_SUCCESS);
  auto type = [&](const std::string& name) -> std::optional<DWORD> {
    for (const auto& share : shares)
      if (share.name == name) return share.type;
    return std::nullopt;
  };
  EXPECT_EQ(type("Data"), STYPE_DISKTREE);
  EXPECT_EQ(type("C$"), STYPE_SPECIAL | STYPE_DISKTREE);
  EXPECT_EQ(type("D$"), STYPE_SPECIAL | STYPE_DISKTREE);
  EXPECT_EQ(type("ADMIN$"), STYPE_SPECIAL | STYPE_DISKTREE);
  EXPECT_TRUE(type("IPC$").has_value());
  EXPECT_FALSE(type("Tools").has_value());  // SRV2's share

  std::string controller;
  EXPECT_EQ(srv1->GetDCName("LAB", &controller), ERROR_SUCCESS);
  EXPECT_EQ(controller, "SRV2");
}

TEST_F(RemoteMachineTest, CallsWithoutAnIdentityInTheDomainAreRefusedAndChangeNothing) {
  HKEY remote = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(remote, "SOFTWARE\\Guarded", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const auto target = Srv1().ShareDir("Data") / "refused.txt";

  // The console holds no identity in SALES, then one an impostor's authority issued.
  for (const auto identity : {vn::testing::TestIdentity::None, vn::testing::TestIdentity::Foreign}) {
    SCOPED_TRACE(identity == vn::testing::TestIdentity::None ? "no identity" : "foreign identity");
    s_net->SetIdentity("CONSOLE", "SALES", identity);
    HKEY refused = nullptr;
    EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &refused), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(key, "Planted", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(remote, "SOFTWARE\\Guarded"), ERROR_ACCESS_DENIED);
    auto srv1 = Endpoint("\\\\SRV1");
    std::vector<vn::ShareInfo> shares;
    EXPECT_EQ(srv1->EnumShares(&shares), ERROR_ACCESS_DENIED);
    std::unique_ptr<vn::FileWriter> writer;
    EXPECT_EQ(srv1->OpenWrite({"Data", "refused.txt"}, false, &writer), ERROR_ACCESS_DENIED);
    std::vector<vn::FileEntry> entries;
    EXPECT_EQ(srv1->FindFiles({"Data", "*"}, &entries), ERROR_ACCESS_DENIED);
    // Not even server information: the console cannot tell that the
    // machine answering is SRV1.
    vn::ServerInfo info;
    EXPECT_EQ(srv1->GetServerInfo(&info), ERROR_ACCESS_DENIED);
    // LAB is reached as before.
    std::vector<vn::ShareInfo> labShares;
    EXPECT_EQ(Endpoint("\\\\SRV2")->EnumShares(&labShares), ERROR_SUCCESS);
  }

  // Back with its identity: nothing was changed by the refused calls.
  s_net->SetIdentity("CONSOLE", "SALES", vn::testing::TestIdentity::Issued);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Planted", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(remote, "SOFTWARE\\Guarded"), ERROR_SUCCESS);
  RegCloseKey(remote);
}

TEST_F(RemoteMachineTest, LargeFilesStreamBothWaysByteForByte) {
  constexpr std::uint64_t kSize = 64ull * 1024 * 1024 + 12345;  // not a multiple of any chunk
  constexpr std::size_t kBlock = 1024 * 1024 + 7;
  auto srv1 = Endpoint("\\\\SRV1");
  std::vector<BYTE> block(kBlock);

  std::unique_ptr<vn::FileWriter> writer;
  ASSERT_EQ(srv1->OpenWrite({"Data", "Big\\..\\big.bin"}, true, &writer), ERROR_SUCCESS);
  Pattern out(42);
  for (std::uint64_t done = 0; done < kSize;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, kSize - done));
    out.Fill({block.data(), n});
    ASSERT_EQ(writer->Write({block.data(), n}), ERROR_SUCCESS);
    done += n;
    // Nothing under the name before the commit.
    if (done == kBlock) {
      EXPECT_FALSE(fs::exists(Srv1().ShareDir("Data") / "big.bin"));
    }
  }
  ASSERT_EQ(writer->Commit(0), ERROR_SUCCESS);
  writer.reset();
  ASSERT_EQ(fs::file_size(Srv1().ShareDir("Data") / "big.bin"), kSize);

  // Fail-if-exists refuses at once; an abandoned writer leaves nothing.
  EXPECT_EQ(srv1->OpenWrite({"Data", "BIG.BIN"}, true, &writer), ERROR_FILE_EXISTS);
  ASSERT_EQ(srv1->OpenWrite({"Data", "abandoned.bin"}, false, &writer), ERROR_SUCCESS);
  ASSERT_EQ(writer->Write({block.data(), block.size()}), ERROR_SUCCESS);
  writer.reset();
  vn::FileEntry entry;
  EXPECT_EQ(srv1->GetFileInfo({"Data", "abandoned.bin"}, &entry), ERROR_FILE_NOT_FOUND);

  std::unique_ptr<vn::FileReader> reader;
  ASSERT_EQ(srv1->OpenRead({"Data", "big.bin"}, &reader), ERROR_SUCCESS);
  EXPECT_EQ(reader->Size(), kSize);
  Pattern in(42);
  std::vector<BYTE> expected(kBlock);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t got = 0;
    ASSERT_EQ(reader->Read(block, &got), ERROR_SUCCESS);
    if (got == 0) break;
    in.Fill({expected.data(), got});
    ASSERT_EQ(std::memcmp(block.data(), expected.data(), got), 0) << "at byte " << total;
    total += got;
  }
  EXPECT_EQ(total, kSize);
  reader.reset();
  EXPECT_EQ(srv1->DeleteFile({"Data", "big.bin"}), ERROR_SUCCESS);
}

TEST_F(RemoteMachineTest, OnlySharesAreReachableFromTheNetwork) {
  std::ofstream(Srv1().driveC / "private.txt") << "not shared";
  auto srv1 = Endpoint("\\\\SRV1");
  std::vector<vn::FileEntry> entries;
  vn::FileEntry entry;
  std::unique_ptr<vn::FileReader> reader;
  std::unique_ptr<vn::FileWriter> writer;
  vn::VolumeInfo volume;
  EXPECT_EQ(srv1->FindFiles({"C:", "*"}, &entries), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->GetFileInfo({"C:", "private.txt"}, &entry), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->OpenRead({"c:", "private.txt"}, &reader), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->OpenWrite({"D:", "planted.txt"}, false, &writer), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->GetVolumeInfo({"C:", ""}, &volume), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->DeleteFile({"C:\\", "private.txt"}), ERROR_BAD_NET_NAME);
  EXPECT_EQ(srv1->FindFiles({"NoShare", "*"}, &entries), ERROR_BAD_NET_NAME);
  // A path that climbs out of its share stays inside it.
  EXPECT_NE(srv1->OpenRead({"Data", "..\\..\\C\\private.txt"}, &reader), ERROR_SUCCESS);
  EXPECT_NE(srv1->OpenRead({"Data", "..\\..\\..\\..\\..\\etc\\passwd"}, &reader), ERROR_SUCCESS);
  // The same drive through its administrative share is reachable.
  EXPECT_EQ(srv1->GetFileInfo({"C$", "private.txt"}, &entry), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(Srv1().driveC / "private.txt"));
}

TEST_F(RemoteMachineTest, MalformedRequestsAreAnsweredWithErrors) {
  HKEY remote = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  std::shared_ptr<vn::RegistryHive> hive;
  ASSERT_EQ(Endpoint("\\\\SRV1")->ConnectRegistry(&hive), ERROR_SUCCESS);
  std::string name;
  vn::RegValue value;
  vn::RegKeyInfo info;
  vn::KeyId key = 0;
  // Key ids the hive never handed out.
  for (vn::KeyId bogus : {vn::KeyId{0}, vn::KeyId{-7}, vn::KeyId{987654321}, std::numeric_limits<vn::KeyId>::max()}) {
    SCOPED_TRACE(bogus);
    EXPECT_EQ(hive->QueryInfo(bogus, &info), ERROR_KEY_DELETED);
    EXPECT_EQ(hive->EnumKey(bogus, 0, &name, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(hive->QueryValue(bogus, "x", &value), ERROR_KEY_DELETED);
    EXPECT_EQ(hive->SetValue(bogus, "x", REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_KEY_DELETED);
    EXPECT_EQ(hive->OpenKey(bogus, "SOFTWARE", &key), ERROR_KEY_DELETED);
  }
  // Names beyond any limit, and values too large for a message.
  const std::string huge(100000, 'k');
  EXPECT_EQ(hive->OpenKey(vn::kRootKey, huge, &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hive->QueryValue(vn::kRootKey, huge, &value), ERROR_INVALID_PARAMETER);
  const std::vector<BYTE> bigValue(5 * 1024 * 1024, 1);
  EXPECT_EQ(RegSetValueExA(remote, "Big", 0, REG_BINARY, bigValue.data(), static_cast<DWORD>(bigValue.size())),
            ERROR_INVALID_PARAMETER);
  std::vector<vn::FileEntry> entries;
  EXPECT_EQ(Endpoint("\\\\SRV1")->FindFiles({"Data", std::string(100000, 'p')}, &entries), ERROR_INVALID_PARAMETER);
  // The service is still there.
  EXPECT_EQ(hive->QueryInfo(vn::kRootKey, &info), ERROR_SUCCESS);
  RegCloseKey(remote);
}

TEST_F(RemoteMachineTest, ServiceKilledMidCallGivesAnErrorAndComesBack) {
  // A large file, sparse on disk, read through a stream when the service dies.
  const auto file = Srv1().ShareDir("Data") / "stream.bin";
  std::ofstream(file).close();
  fs::resize_file(file, 256ull * 1024 * 1024);
  HKEY remote = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(remote, "SOFTWARE\\Survivor", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);

  auto srv1 = Endpoint("\\\\SRV1");
  std::unique_ptr<vn::FileReader> reader;
  ASSERT_EQ(srv1->OpenRead({"Data", "stream.bin"}, &reader), ERROR_SUCCESS);
  std::vector<BYTE> buffer(1024 * 1024);
  std::size_t got = 0;
  ASSERT_EQ(reader->Read(buffer, &got), ERROR_SUCCESS);
  ASSERT_EQ(got, buffer.size());
  std::unique_ptr<vn::FileWriter> writer;
  ASSERT_EQ(srv1->OpenWrite({"Data", "halfway.bin"}, false, &writer), ERROR_SUCCESS);
  ASSERT_EQ(writer->Write(buffer), ERROR_SUCCESS);

  s_net->Stop("SRV1", /*kill=*/true);
  LONG error = ERROR_SUCCESS;
  std::uint64_t total = got;
  while (error == ERROR_SUCCESS && got > 0) {
    error = reader->Read(buffer, &got);
    total += got;
  }
  EXPECT_EQ(error, ERROR_NETNAME_DELETED) << "after " << total << " bytes";
  EXPECT_LT(total, fs::file_size(file));
  LONG writeError = ERROR_SUCCESS;
  for (int i = 0; i < 64 && writeError == ERROR_SUCCESS; ++i) writeError = writer->Write(buffer);
  if (writeError == ERROR_SUCCESS) writeError = writer->Commit(0);
  EXPECT_EQ(writeError, ERROR_NETNAME_DELETED);
  // While it is down: the network path is not found.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Anything", nullptr, nullptr, nullptr, &size), ERROR_BAD_NETPATH);
  vn::ServerInfo info;
  EXPECT_EQ(srv1->GetServerInfo(&info), ERROR_BAD_NETPATH);

  // Back again: the same endpoint and the same open handle work at once.
  ASSERT_TRUE(s_net->Start("SRV1"));
  EXPECT_EQ(srv1->GetServerInfo(&info), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "After", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&total), 4), ERROR_SUCCESS);
  vn::FileEntry entry;
  EXPECT_EQ(srv1->GetFileInfo({"Data", "halfway.bin"}, &entry), ERROR_FILE_NOT_FOUND);
  // Killed and back again with no call in between: the first call goes
  // through, whether the service comes back after this process has let go of
  // the connection the kill closed (which it does with no call made, as the
  // service goes) or at once, noticed or not. The reader and writer, broken
  // above, are let go first so that only the calls' connections remain.
  reader.reset();
  writer.reset();
  for (const bool letGo : {true, false}) {
    SCOPED_TRACE(letGo ? "back after the closed connection was let go" : "back at once");
    if (letGo) {
      ASSERT_GT(ConnectionsTo(Srv1().port), 0) << "the last call's connection is not seen";
    }
    s_net->Stop("SRV1", /*kill=*/true);
    if (letGo) {
      EXPECT_TRUE(vn::testing::WaitUntil([] { return ConnectionsTo(Srv1().port) == 0; }))
          << "a connection the service closed is still held";
    }
    ASSERT_TRUE(s_net->Start("SRV1"));
    const DWORD round = letGo ? 1 : 0;
    EXPECT_EQ(RegSetValueExA(key, "Again", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&round), sizeof round),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(remote, "SOFTWARE\\Survivor"), ERROR_SUCCESS);
  RegCloseKey(remote);
  fs::remove(file);
}

TEST_F(RemoteMachineTest, TheConsoleStartsItsOwnServiceOnceAndItOutlivesTheCall) {
  const auto pidFile = s_net->Console().home / "vnmachined.pid";
  auto runningPid = [&] {
    std::ifstream in(pidFile);
    int pid = 0;
    in >> pid;
    return pid;
  };
  ASSERT_FALSE(vn::LocalMachineServiceAnswers());
  ::setenv("VORNAL_NO_AUTOSTART", "1", 1);
  std::string detail;
  EXPECT_EQ(vn::EnsureLocalMachineService(&detail), ERROR_SERVICE_DISABLED);
  EXPECT_FALSE(fs::exists(pidFile));
  ::unsetenv("VORNAL_NO_AUTOSTART");

  ASSERT_EQ(vn::EnsureLocalMachineService(&detail), ERROR_SUCCESS) << detail;
  const int pid = runningPid();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(vn::LocalMachineServiceAnswers());
  // Found again, not started twice.
  ASSERT_EQ(vn::EnsureLocalMachineService(&detail), ERROR_SUCCESS) << detail;
  EXPECT_EQ(runningPid(), pid);
  // Other machines reach the console through it, with an identity in its domain.
  {
    vn::RemoteMachine console("CONSOLE", "127.0.0.1:" + std::to_string(s_net->Console().port), "",
                              [](const std::string&) {
                                auto credentials = std::make_shared<vn::DomainCredentials>();
                                std::string error;
                                EXPECT_TRUE(vn::LoadCredentials(s_net->Console().home, "SALES", credentials.get(),
                                                                &error))
                                    << error;
                                return std::shared_ptr<const vn::DomainCredentials>(credentials);
                              });
    std::vector<vn::ShareInfo> shares;
    EXPECT_EQ(console.EnumShares(&shares), ERROR_SUCCESS);
    EXPECT_FALSE(shares.empty());
  }

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  // It removes its pid file as it ends (the process itself is reaped by
  // whoever adopted it, not by this test).
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return !fs::exists(pidFile); })) << "the service did not stop";
  EXPECT_FALSE(vn::LocalMachineServiceAnswers());
}

}  // namespace

namespace {

// A sanitizer report inside a service must fail the test that ran it: the
// harness points every service's reports at a file of its own, and a report
// found there is a failure of its own test.
MachineNetwork* g_reporting = nullptr;

TEST(TestNetworkTest, ServicesReportSanitizerFindingsToTheTest) {
  MachineNetwork network;
  network.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}, {}});
  ASSERT_TRUE(network.Start("SRV1"));
  std::ifstream environ("/proc/" + std::to_string(network.Pid("SRV1")) + "/environ", std::ios::binary);
  std::string variables((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
  const std::string wanted = "log_path=" + (network.Root() / "sanitizer" / "SRV1").string();
  for (const char* name : {"ASAN_OPTIONS=", "UBSAN_OPTIONS="}) {
    const auto at = variables.find(name);
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_NE(variables.substr(at, variables.find('\0', at) - at).find(wanted), std::string::npos) << name;
  }

  std::ofstream(network.Root() / "sanitizer" / "SRV1.4242") << "ERROR: AddressSanitizer: heap-use-after-free\n";
  g_reporting = &network;
  EXPECT_NONFATAL_FAILURE(g_reporting->CheckSanitizerReports(), "heap-use-after-free");
  // Reported once: the file is gone.
  EXPECT_FALSE(fs::exists(network.Root() / "sanitizer" / "SRV1.4242"));
  g_reporting = nullptr;
}

}  // namespace
