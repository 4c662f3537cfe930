#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "platform/endpoints/LocalMachine.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/MachineSetup.h"
#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;

using vn::testing::ReadText;

std::vector<std::string> NamesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::span<const BYTE> Bytes(const std::string& text) {
  return {reinterpret_cast<const BYTE*>(text.data()), text.size()};
}

// A machine with D: a temporary directory and share Data = D:\data; `ini`
// adds settings to [Machine].
class LocalMachineTest : public ::testing::Test {
 protected:
  void Configure(const std::string& machineSettings = "", const std::string& hosts = "") {
    d = home.path() / "d";
    fs::create_directories(d / "data");
    std::ofstream(home.path() / "machine.ini")
        << "[Machine]\nName=LOCAL1\n" << machineSettings << "\n[Drives]\nD=" << d.string()
        << ", fixed, NTFS, Work\n[Shares]\nData=D:\\data, Team data\n";
    if (!hosts.empty()) std::ofstream(home.path() / "hosts") << hosts;
    vn::MachineConfig config;
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
    machine = std::make_unique<vn::LocalMachine>(std::move(config));
  }
  void SetUp() override { Configure(); }

  vn::testing::TempMachineHome home;
  fs::path d;
  std::unique_ptr<vn::LocalMachine> machine;
};

const char* kNetwork =
    "127.0.0.1:7201 PDC1    #DOM:SALES #PDC\n"
    "127.0.0.1:7202 WKS1    #DOM:SALES\n"
    "127.0.0.1:7203 BDC2    #DOM:LAB   #BDC\n"
    "127.0.0.1:7204 LOCAL1  #DOM:SALES\n"
    "127.0.0.1:7205 LONER\n";

TEST_F(LocalMachineTest, ServerInfoDescribesTheMachine) {
  Configure("Domain=sales\nRole=server\nComment=Files", kNetwork);
  vn::ServerInfo info;
  ASSERT_EQ(machine->GetServerInfo(&info), 0);
  EXPECT_EQ(info.name, "LOCAL1");
  EXPECT_EQ(info.platformId, 500u);
  EXPECT_EQ(info.versionMajor, 4u);
  EXPECT_EQ(info.versionMinor, 0u);
  // A server of a domain with a controller: a domain member.
  EXPECT_EQ(info.type, SV_TYPE_NT | SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT |
                           SV_TYPE_DOMAIN_MEMBER);
  EXPECT_EQ(info.comment, "Files");
  EXPECT_EQ(info.domain, "SALES");
}

TEST_F(LocalMachineTest, TheBrowseListComesFromTheHostsFile) {
  Configure("Domain=SALES\nRole=server", kNetwork);
  struct Case {
    DWORD mask;
    std::string domain;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {SV_TYPE_NT, "", {"PDC1", "WKS1", "BDC2", "LOCAL1", "LONER"}},
      {SV_TYPE_ALL, "", {"PDC1", "WKS1", "BDC2", "LOCAL1", "LONER"}},
      {SV_TYPE_NT, "sales", {"PDC1", "WKS1", "LOCAL1"}},
      {SV_TYPE_NT, "WORKGROUP", {"LONER"}},
      {SV_TYPE_DOMAIN_MEMBER, "", {"WKS1", "LOCAL1"}},
      {SV_TYPE_SERVER, "", {"PDC1", "BDC2", "LOCAL1"}},  // this machine by its own role
      {SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL, "", {"PDC1", "BDC2"}},
      {SV_TYPE_NT, "NOSUCH", {}},
      {SV_TYPE_DOMAIN_ENUM, "", {"SALES", "LAB", "WORKGROUP"}},
  };
  for (const Case& c : cases) {
    std::vector<vn::ServerInfo> servers;
    ASSERT_EQ(machine->EnumServers(c.mask, c.domain, &servers), 0);
    std::vector<std::string> names;
    for (const auto& s : servers) names.push_back(s.name);
    EXPECT_EQ(names, c.names) << std::hex << c.mask << " " << c.domain;
    if (c.mask == SV_TYPE_DOMAIN_ENUM) {
      for (const auto& s : servers) EXPECT_EQ(s.type, SV_TYPE_DOMAIN_ENUM);
    }
  }
}

TEST_F(LocalMachineTest, DomainControllersComeFromTheHostsFilePrimaryFirst) {
  Configure("Domain=SALES", kNetwork + std::string("127.0.0.1:7206 BDC1 #DOM:SALES #BDC\n"));
  struct Case {
    std::string domain;
    LONG code;
    std::string controller;
  };
  const Case cases[] = {
      {"", 0, "PDC1"},
      {"sales", 0, "PDC1"},
      {"LAB", 0, "BDC2"},
      {"WORKGROUP", static_cast<LONG>(NERR_DCNotFound), ""},
      {"NOSUCH", static_cast<LONG>(NERR_DCNotFound), ""},
  };
  for (const Case& c : cases) {
    std::string controller;
    EXPECT_EQ(machine->GetDCName(c.domain, &controller), c.code) << c.domain;
    if (c.code == 0) {
      EXPECT_EQ(controller, c.controller) << c.domain;
    }
  }
  // A controller without a hosts file knows itself.
  fs::remove(home.path() / "hosts");
  Configure("Domain=SOLO\nRole=pdc");
  std::string controller;
  ASSERT_EQ(machine->GetDCName("", &controller), 0);
  EXPECT_EQ(controller, "LOCAL1");
}

TEST_F(LocalMachineTest, SharesListConfiguredOnesFirstThenAdministrativeThenIpc) {
  std::vector<vn::ShareInfo> shares;
  ASSERT_EQ(machine->EnumShares(&shares), 0);
  std::vector<std::string> names;
  std::vector<std::string> kept;  // what the console's share filter keeps
  for (const auto& s : shares) {
    names.push_back(s.name);
    if (s.type == 0 || s.type == 0x80000000u) kept.push_back(s.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Data", "C$", "D$", "S$", "ADMIN$", "IPC$"}));
  EXPECT_EQ(kept, (std::vector<std::string>{"Data", "C$", "D$", "S$", "ADMIN$"}));
  EXPECT_EQ(shares[0].remark, "Team data");
}

TEST_F(LocalMachineTest, DrivesVolumesAndSpace) {
  ASSERT_EQ(vn::InitialiseMachine(machine->Config()), 0);  // creates the system drive's directory
  std::vector<vn::DriveInfo> drives;
  ASSERT_EQ(machine->GetDrives(&drives), 0);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[1].letter, 'D');
  EXPECT_EQ(drives[1].type, DRIVE_FIXED);

  vn::VolumeInfo volume;
  ASSERT_EQ(machine->GetVolumeInfo({"D:", ""}, &volume), 0);
  EXPECT_EQ(volume.fileSystem, "NTFS");
  EXPECT_EQ(volume.label, "Work");
  vn::VolumeInfo system;
  ASSERT_EQ(machine->GetVolumeInfo({"S:", ""}, &system), 0);
  EXPECT_FALSE(system.fileSystem.empty());  // from the host file system
  EXPECT_EQ(system.serialNumber, volume.serialNumber);  // both in one temporary directory
  EXPECT_EQ(machine->GetVolumeInfo({"Q:", ""}, &volume), ERROR_PATH_NOT_FOUND);

  vn::DiskSpace space;
  ASSERT_EQ(machine->GetDiskSpace({"Data", ""}, &space), 0);
  EXPECT_GT(space.totalBytes, 0u);
  EXPECT_LE(space.totalFreeBytes, space.totalBytes);
  EXPECT_LE(space.freeBytesToCaller, space.totalFreeBytes);
  EXPECT_EQ(space.bytesPerSector, 512u);
  EXPECT_GE(space.sectorsPerCluster, 1u);
  EXPECT_EQ(machine->GetDiskSpace({"Data", "missing"}, &space), ERROR_PATH_NOT_FOUND);
}

TEST_F(LocalMachineTest, FindFilesMatchesWildcardsAndListsDotsFirst) {
  const fs::path dir = d / "data" / "dir";
  fs::create_directories(dir / "sub");
  for (const char* name : {"a.txt", "B.TXT", "abc", "ac", "noext", ".hidden", "back\\slash"})
    std::ofstream(dir / name) << name;
  struct Case {
    std::string pattern;
    LONG code;
    std::vector<std::string> names;
  };
  const std::vector<std::string> all = {".", "..", ".hidden", "a.txt", "abc", "ac", "B.TXT", "noext", "sub"};
  const Case cases[] = {
      {"dir\\*.*", 0, all},
      {"dir\\*", 0, all},
      {"DIR\\*.TXT", 0, {"a.txt", "B.TXT"}},
      {"dir\\a?c", 0, {"abc"}},
      {"dir\\a*", 0, {"a.txt", "abc", "ac"}},
      {"dir\\SUB", 0, {"sub"}},
      {"dir\\zzz*", ERROR_FILE_NOT_FOUND, {}},
      {"dir\\sub\\*", 0, {".", ".."}},
      {"nodir\\*", ERROR_PATH_NOT_FOUND, {}},
      {"dir\\abc\\*", ERROR_PATH_NOT_FOUND, {}},
      {"*", 0, {"dir"}},  // a share's root has no dots
  };
  for (const Case& c : cases) {
    std::vector<vn::FileEntry> entries;
    EXPECT_EQ(machine->FindFiles({"Data", c.pattern}, &entries), c.code) << c.pattern;
    std::vector<std::string> names;
    for (const auto& e : entries) {
      names.push_back(e.name);
      if (e.name == "." || e.name == "..") {
        EXPECT_EQ(e.attributes, FILE_ATTRIBUTE_DIRECTORY) << c.pattern;
      }
    }
    EXPECT_EQ(names, c.names) << c.pattern;
  }
}

TEST_F(LocalMachineTest, EntriesCarryAttributesSizesAndTimes) {
  const fs::path dir = d / "data";
  std::ofstream(dir / "plain.txt") << "12345";
  std::ofstream(dir / "locked.txt") << "x";
  std::ofstream(dir / ".dotfile") << "";
  fs::create_directory(dir / "folder");
  ::chmod((dir / "locked.txt").c_str(), 0444);
  // 2001-09-09 01:46:40 UTC plus half a second.
  const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 500'000'000}};
  ::utimensat(AT_FDCWD, (dir / "plain.txt").c_str(), times, 0);
  struct Case {
    std::string name;
    DWORD attributes;
    std::uint64_t size;
  };
  const Case cases[] = {
      {"plain.txt", FILE_ATTRIBUTE_ARCHIVE, 5},
      {"locked.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1},
      {".dotfile", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 0},
      {"folder", FILE_ATTRIBUTE_DIRECTORY, 0},
  };
  for (const Case& c : cases) {
    vn::FileEntry entry;
    ASSERT_EQ(machine->GetFileInfo({"Data", c.name}, &entry), 0) << c.name;
    EXPECT_EQ(entry.name, c.name);
    EXPECT_EQ(entry.attributes, c.attributes) << c.name;
    EXPECT_EQ(entry.size, c.size) << c.name;
    EXPECT_TRUE(entry.alternateName.empty());
  }
  vn::FileEntry entry;
  ASSERT_EQ(machine->GetFileInfo({"Data", "PLAIN.TXT"}, &entry), 0);
  EXPECT_EQ(entry.name, "plain.txt");
  EXPECT_EQ(entry.lastWriteTime, (1'000'000'000ULL + 11'644'473'600ULL) * 10'000'000ULL + 5'000'000ULL);
  EXPECT_EQ(entry.lastAccessTime, (1'000'000'000ULL + 11'644'473'600ULL) * 10'000'000ULL);
  EXPECT_GT(entry.creationTime, 0u);
  ASSERT_EQ(machine->GetFileInfo({"D:", ""}, &entry), 0);
  EXPECT_EQ(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(machine->GetFileInfo({"Data", "nothing"}, &entry), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(machine->GetFileInfo({"Data", "nodir\\nothing"}, &entry), ERROR_PATH_NOT_FOUND);
}

TEST_F(LocalMachineTest, DirectoriesAndFilesAreCreatedAndRemovedWithWindowsCodes) {
  const fs::path dir = d / "data";
  fs::create_directories(dir / "full");
  std::ofstream(dir / "full" / "f") << "f";
  std::ofstream(dir / "file") << "f";
  std::ofstream(dir / "readonly") << "r";
  ::chmod((dir / "readonly").c_str(), 0444);
  using Op = LONG (vn::LocalMachine::*)(const vn::MachinePath&);
  struct Case {
    Op op;
    const char* opName;
    std::string path;
    LONG code;
  };
  const Case cases[] = {
      {&vn::LocalMachine::CreateDirectory, "create", "New", 0},
      {&vn::LocalMachine::CreateDirectory, "create", "new", ERROR_ALREADY_EXISTS},
      {&vn::LocalMachine::CreateDirectory, "create", "file", ERROR_ALREADY_EXISTS},
      {&vn::LocalMachine::CreateDirectory, "create", "missing\\child", ERROR_PATH_NOT_FOUND},
      {&vn::LocalMachine::CreateDirectory, "create", "", ERROR_ALREADY_EXISTS},
      {&vn::LocalMachine::RemoveDirectory, "remove", "FULL", ERROR_DIR_NOT_EMPTY},
      {&vn::LocalMachine::RemoveDirectory, "remove", "file", ERROR_DIRECTORY},
      {&vn::LocalMachine::RemoveDirectory, "remove", "gone", ERROR_FILE_NOT_FOUND},
      {&vn::LocalMachine::RemoveDirectory, "remove", "", ERROR_ACCESS_DENIED},
      {&vn::LocalMachine::RemoveDirectory, "remove", "NEW", 0},
      {&vn::LocalMachine::DeleteFile, "delete", "full", ERROR_ACCESS_DENIED},
      {&vn::LocalMachine::DeleteFile, "delete", "readonly", ERROR_ACCESS_DENIED},
      {&vn::LocalMachine::DeleteFile, "delete", "gone", ERROR_FILE_NOT_FOUND},
      {&vn::LocalMachine::DeleteFile, "delete", "gone\\gone", ERROR_PATH_NOT_FOUND},
      {&vn::LocalMachine::DeleteFile, "delete", "FULL\\F", 0},
      {&vn::LocalMachine::RemoveDirectory, "remove", "full", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ((machine.get()->*c.op)({"Data", c.path}), c.code) << c.opName << " " << c.path;
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"file", "readonly"}));
}

TEST_F(LocalMachineTest, WritesAppearOnlyWhenCommittedAndNeverReplaceWithFailIfExists) {
  const fs::path dir = d / "data";
  {
    std::unique_ptr<vn::FileWriter> writer;
    ASSERT_EQ(machine->OpenWrite({"Data", "new.txt"}, true, &writer), 0);
    ASSERT_EQ(writer->Write(Bytes("hello ")), 0);
    ASSERT_EQ(writer->Write(Bytes("world")), 0);
    EXPECT_FALSE(fs::exists(dir / "new.txt"));
    ASSERT_EQ(writer->Commit(0), 0);
    EXPECT_EQ(writer->Write(Bytes("late")), ERROR_INVALID_HANDLE);
    EXPECT_EQ(writer->Commit(0), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(ReadText(dir / "new.txt"), "hello world");
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"new.txt"}));

  // Abandoned: nothing is left behind.
  {
    std::unique_ptr<vn::FileWriter> writer;
    ASSERT_EQ(machine->OpenWrite({"Data", "abandoned.txt"}, false, &writer), 0);
    ASSERT_EQ(writer->Write(Bytes("half")), 0);
  }
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"new.txt"}));

  // failIfExists: refused at once for an existing name...
  std::unique_ptr<vn::FileWriter> writer;
  EXPECT_EQ(machine->OpenWrite({"Data", "NEW.TXT"}, true, &writer), ERROR_FILE_EXISTS);
  // ...and at Commit for a name that appeared meanwhile, which keeps its content.
  ASSERT_EQ(machine->OpenWrite({"Data", "race.txt"}, true, &writer), 0);
  ASSERT_EQ(writer->Write(Bytes("mine")), 0);
  std::ofstream(dir / "race.txt") << "theirs";
  EXPECT_EQ(writer->Commit(0), ERROR_FILE_EXISTS);
  writer.reset();
  EXPECT_EQ(ReadText(dir / "race.txt"), "theirs");
  EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"new.txt", "race.txt"}));

  // Without failIfExists the file is replaced, with the write time given.
  const std::uint64_t when = (1'500'000'000ULL + 11'644'473'600ULL) * 10'000'000ULL;
  ASSERT_EQ(machine->OpenWrite({"Data", "new.TXT"}, false, &writer), 0);
  ASSERT_EQ(writer->Write(Bytes("replaced")), 0);
  ASSERT_EQ(writer->Commit(when), 0);
  writer.reset();
  EXPECT_EQ(ReadText(dir / "new.txt"), "replaced");
  vn::FileEntry entry;
  ASSERT_EQ(machine->GetFileInfo({"Data", "new.txt"}, &entry), 0);
  EXPECT_EQ(entry.lastWriteTime, when);

  // What cannot be written.
  ::chmod((dir / "race.txt").c_str(), 0444);
  fs::create_directory(dir / "folder");
  EXPECT_EQ(machine->OpenWrite({"Data", "race.txt"}, false, &writer), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenWrite({"Data", "folder"}, false, &writer), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenWrite({"Data", ""}, false, &writer), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenWrite({"Data", "nodir\\x"}, false, &writer), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(machine->OpenWrite({"Data", "bad|name"}, false, &writer), ERROR_INVALID_NAME);
}

TEST_F(LocalMachineTest, ReadsAreStreamedInPieces) {
  std::string content;
  for (int i = 0; content.size() < 3'000'000; ++i) content += std::to_string(i) + ",";
  std::ofstream(d / "data" / "big.bin", std::ios::binary) << content;
  std::unique_ptr<vn::FileReader> reader;
  ASSERT_EQ(machine->OpenRead({"Data", "BIG.BIN"}, &reader), 0);
  EXPECT_EQ(reader->Size(), content.size());
  std::string read;
  std::vector<BYTE> buffer(65536);
  while (true) {
    std::size_t n = 0;
    ASSERT_EQ(reader->Read(buffer, &n), 0);
    if (n == 0) break;
    EXPECT_LE(n, buffer.size());
    read.append(reinterpret_cast<const char*>(buffer.data()), n);
  }
  EXPECT_EQ(read, content);
  fs::create_directory(d / "data" / "folder");
  EXPECT_EQ(machine->OpenRead({"Data", "folder"}, &reader), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenRead({"Data", "none"}, &reader), ERROR_FILE_NOT_FOUND);
}

TEST_F(LocalMachineTest, CallersFromTheNetworkReachSharesButNotDrives) {
  std::ofstream(d / "data" / "f.txt") << "f";
  vn::LocalMachine remote(std::make_shared<const vn::MachineConfig>(machine->Config()), vn::RootAccess::SharesOnly);
  std::vector<vn::FileEntry> entries;
  EXPECT_EQ(remote.FindFiles({"D:", "data\\*"}, &entries), ERROR_BAD_NET_NAME);
  EXPECT_EQ(remote.FindFiles({"Data", "*"}, &entries), 0);
  EXPECT_EQ(remote.FindFiles({"D$", "data\\*"}, &entries), 0);
  EXPECT_EQ(remote.CreateDirectory({"C:", "tmp\\x"}), ERROR_BAD_NET_NAME);
  EXPECT_EQ(remote.DeleteFile({"D:", "data\\f.txt"}), ERROR_BAD_NET_NAME);
  EXPECT_TRUE(fs::exists(d / "data" / "f.txt"));
  EXPECT_EQ(machine->FindFiles({"D:", "data\\*"}, &entries), 0);
}

TEST_F(LocalMachineTest, SymlinksOutOfAShareAreRefusedForEveryCall) {
  fs::create_directories(home.path() / "outside");
  std::ofstream(home.path() / "outside" / "secret") << "secret";
  fs::create_directory_symlink(home.path() / "outside", d / "data" / "out");
  std::vector<vn::FileEntry> entries;
  vn::FileEntry entry;
  std::unique_ptr<vn::FileReader> reader;
  std::unique_ptr<vn::FileWriter> writer;
  EXPECT_EQ(machine->FindFiles({"Data", "out\\*"}, &entries), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->GetFileInfo({"Data", "out\\secret"}, &entry), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenRead({"Data", "out\\secret"}, &reader), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->OpenWrite({"Data", "out\\new"}, false, &writer), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->DeleteFile({"Data", "out\\secret"}), ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->CreateDirectory({"Data", "out\\dir"}), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::exists(home.path() / "outside" / "secret"));
  EXPECT_EQ(NamesIn(home.path() / "outside"), (std::vector<std::string>{"secret"}));
  // The listing shows the link itself, not what it leads to.
  ASSERT_EQ(machine->FindFiles({"Data", "out"}, &entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(LocalMachineTest, TheRegistryIsTheHomesHive) {
  std::shared_ptr<vn::RegistryHive> hive;
  ASSERT_EQ(machine->ConnectRegistry(&hive), 0);
  ASSERT_TRUE(hive);
  vn::KeyId key = 0;
  bool created = false;
  EXPECT_EQ(hive->CreateKey(vn::kRootKey, "SOFTWARE\\Test", &key, &created), 0);
  EXPECT_TRUE(fs::exists(home.path() / "registry.db"));
}

std::string StringValue(vn::RegistryHive& hive, const char* keyPath, const char* name) {
  vn::KeyId key = 0;
  vn::RegValue value;
  if (hive.OpenKey(vn::kRootKey, keyPath, &key) != 0 || hive.QueryValue(key, name, &value) != 0) return "<missing>";
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return "<not a string>";
  return std::string(value.data.begin(), value.data.end() - 1);
}

TEST_F(LocalMachineTest, FirstStartFillsTheRegistryOnceAndKeepsChanges) {
  ASSERT_EQ(vn::InitialiseMachine(machine->Config()), 0);
  EXPECT_TRUE(fs::is_directory(home.path() / "system" / "WINNT"));
  std::shared_ptr<vn::RegistryHive> hive;
  ASSERT_EQ(machine->ConnectRegistry(&hive), 0);
  const char* version = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  const char* environment = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  EXPECT_EQ(StringValue(*hive, version, "PathName"), "S:\\WINNT");
  EXPECT_EQ(StringValue(*hive, "software\\MICROSOFT\\windows nt\\currentversion", "CurrentVersion"), "4.0");
  const std::string architecture = StringValue(*hive, environment, "PROCESSOR_ARCHITECTURE");
  EXPECT_NE(architecture, "ALPHA");
  EXPECT_NE(architecture, "<missing>");
  vn::KeyId services = 0;
  EXPECT_EQ(hive->OpenKey(vn::kRootKey, "SYSTEM\\CurrentControlSet\\Services", &services), 0);

  // An administrator's change survives the next start.
  vn::KeyId key = 0;
  ASSERT_EQ(hive->OpenKey(vn::kRootKey, version, &key), 0);
  const std::string changed = "S:\\OTHER";
  ASSERT_EQ(hive->SetValue(key, "PathName", REG_SZ, reinterpret_cast<const BYTE*>(changed.c_str()),
                           static_cast<DWORD>(changed.size() + 1)),
            0);
  ASSERT_EQ(vn::InitialiseMachine(machine->Config()), 0);
  EXPECT_EQ(StringValue(*hive, version, "PathName"), "S:\\OTHER");
  vn::RegKeyInfo info;
  ASSERT_EQ(hive->QueryInfo(key, &info), 0);
  EXPECT_EQ(info.values, 3u);
  // The Windows directory is reachable as ADMIN$ and through S:.
  std::vector<vn::FileEntry> entries;
  EXPECT_EQ(machine->FindFiles({"S:", "winnt"}, &entries), 0);
  EXPECT_EQ(machine->FindFiles({"ADMIN$", "*"}, &entries), ERROR_FILE_NOT_FOUND);  // empty, and a share root
}

TEST(MachineSetupTest, ProcessorArchitecturesAreNamedAsWindowsNamesThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"x86_64", "x86"}, {"i686", "x86"}, {"i386", "x86"}, {"aarch64", "ARM64"}, {"riscv64", "RISCV64"},
      {"ppc64le", "PPC64LE"}, {"", "UNKNOWN"},
  };
  for (const auto& [machine, expected] : cases) EXPECT_EQ(vn::ProcessorArchitectureOf(machine), expected) << machine;
}

}  // namespace
