// What a share lets a caller from another machine reach, and what it never
// does: the outside of the share (also while a local user swaps links into
// it), the machine's home and secrets, the system's credentials and kernel
// trees; and what an interrupted write leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/LastError.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/OpenBeneath.h"
#include "platform/machine/PartialCopies.h"
#include "platform/net/Files.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;

using vn::testing::ReadText;
using vn::testing::WaitUntil;
using vn::testing::WriteText;

std::span<const BYTE> Bytes(const std::string& text) {
  return {reinterpret_cast<const BYTE*>(text.data()), text.size()};
}

std::vector<std::string> NamesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Everything a search through the platform's calls lists; empty with the
// code in *error when it fails.
std::vector<std::string> Search(const std::string& pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return names;
  }
  do names.emplace_back(data.cFileName);
  while (FindNextFileA(find, &data));
  FindClose(find);
  if (error) *error = 0;
  return names;
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The whole contents of a file through an endpoint; empty with the code when it fails.
LONG ReadThrough(vn::MachineEndpoint& machine, const vn::MachinePath& path, std::string* text) {
  text->clear();
  std::unique_ptr<vn::FileReader> reader;
  if (LONG error = machine.OpenRead(path, &reader)) return error;
  BYTE buffer[4096];
  for (std::size_t n = 0;; text->append(reinterpret_cast<const char*>(buffer), n)) {
    if (LONG error = reader->Read(buffer, &n)) return error;
    if (n == 0) return ERROR_SUCCESS;
  }
}

LONG WriteThrough(vn::MachineEndpoint& machine, const vn::MachinePath& path, const std::string& text) {
  std::unique_ptr<vn::FileWriter> writer;
  if (LONG error = machine.OpenWrite(path, true, &writer)) return error;
  if (LONG error = writer->Write(Bytes(text))) return error;
  return writer->Commit(0);
}

// Swaps the directory `inside` and the link `link` (to a directory outside
// the share) in one atomic exchange after another, as a local user racing
// the service would, until it goes.
class Swapper {
 public:
  Swapper(fs::path inside, fs::path link) : m_inside(std::move(inside)), m_link(std::move(link)) {
    m_thread = std::thread([this] {
      while (!m_stop.load()) {
        if (::renameat2(AT_FDCWD, m_inside.c_str(), AT_FDCWD, m_link.c_str(), RENAME_EXCHANGE) == 0) ++m_swaps;
      }
    });
    EXPECT_TRUE(WaitUntil([this] { return m_swaps.load() > 10; }));
  }
  ~Swapper() {
    m_stop = true;
    m_thread.join();
    // Leave the directory where it was.
    if (fs::is_symlink(m_inside)) ::renameat2(AT_FDCWD, m_inside.c_str(), AT_FDCWD, m_link.c_str(), RENAME_EXCHANGE);
  }
  Swapper(const Swapper&) = delete;
  Swapper& operator=(const Swapper&) = delete;

 private:
  fs::path m_inside;
  fs::path m_link;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_swaps{0};
  std::thread m_thread;
};

// In `share`: swap/f.txt ("inside"), and swaplink -> ../outside, where
// outside/ holds f.txt ("OUTSIDE") and only-outside.txt.
void MakeSwapTree(const fs::path& share, const fs::path& outside) {
  fs::create_directories(share / "swap");
  fs::create_directories(outside);
  WriteText(share / "swap" / "f.txt", "inside");
  WriteText(outside / "f.txt", "OUTSIDE");
  WriteText(outside / "only-outside.txt", "OUTSIDE");
  fs::create_directory_symlink(fs::relative(outside, share), share / "swaplink");
}

// A machine served to the network from this process (a SharesOnly endpoint,
// as the service makes): D: is <home>/d with share Data = D:\data.
class ShareBoundaryTest : public ::testing::Test {
 protected:
  void Configure(const std::string& drives, const std::string& shares = "") {
    d = home.path() / "d";
    fs::create_directories(d / "data");
    std::ofstream(home.path() / "machine.ini") << "[Machine]\nName=GUARDED\n[Drives]\n" << drives << "D=" << d.string()
                                              << "\n[Shares]\nData=D:\\data\n" << shares;
    WriteText(home.path() / "secrets.ini", "[Secrets]\nTESTDOM=the machine's own secret\n");
    fs::permissions(home.path() / "secrets.ini", fs::perms::owner_read | fs::perms::owner_write);
    vn::MachineConfig config;
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
    fs::create_directories(home.path() / "system" / "WINNT");
    shared = std::make_shared<const vn::MachineConfig>(std::move(config));
    network = std::make_unique<vn::LocalMachine>(shared, vn::RootAccess::SharesOnly);
  }
  void SetUp() override { Configure(""); }
  void TearDown() override { vn::UseDescriptorWalkForTesting(false); }

  vn::testing::TempMachineHome home;
  fs::path d;
  std::shared_ptr<const vn::MachineConfig> shared;
  std::unique_ptr<vn::LocalMachine> network;
};

struct WalkerCase {
  const char* name;
  bool descriptors;
};
constexpr WalkerCase kWalkers[] = {{"kernel walk", false}, {"descriptor walk", true}};

TEST_F(ShareBoundaryTest, ASwappedLinkNeverLeadsOutsideTheShare) {
  for (const auto& walker : kWalkers) {
    SCOPED_TRACE(walker.name);
    vn::UseDescriptorWalkForTesting(walker.descriptors);
    const fs::path share = d / "data" / walker.name;
    const fs::path outside = d / (std::string("outside ") + walker.name);
    MakeSwapTree(share, outside);
    const std::string below = std::string(walker.name) + "\\swap\\";
    int readsInside = 0;
    {
      Swapper swapper(share / "swap", share / "swaplink");
      for (int i = 0; i < 1500; ++i) {
        std::string text;
        if (ReadThrough(*network, {"Data", below + "f.txt"}, &text) == ERROR_SUCCESS) {
          ASSERT_EQ(text, "inside") << "read " << i << " left the share";
          ++readsInside;
        }
        if (i % 5 == 0) WriteThrough(*network, {"Data", below + "w" + std::to_string(i) + ".txt"}, "written");
        if (i % 5 == 1) {
          std::vector<vn::FileEntry> entries;
          if (network->FindFiles({"Data", below + "*"}, &entries) == ERROR_SUCCESS) {
            for (const auto& entry : entries) ASSERT_NE(entry.name, "only-outside.txt") << "search " << i;
          }
        }
        if (i % 5 == 2) {
          vn::FileEntry entry;
          ASSERT_NE(network->GetFileInfo({"Data", below + "only-outside.txt"}, &entry), ERROR_SUCCESS);
          ASSERT_NE(network->DeleteFile({"Data", below + "only-outside.txt"}), ERROR_SUCCESS);
          // Works or not by where the swap is; that nothing lands outside is checked below.
          (void)network->CreateDirectory({"Data", below + "dir" + std::to_string(i)});
        }
      }
    }
    EXPECT_GT(readsInside, 0) << "the reads must have run while the directory was there";
    EXPECT_EQ(NamesIn(outside), (std::vector<std::string>{"f.txt", "only-outside.txt"}))
        << "nothing was written, created or removed outside";
  }
}

// The link rules of both walks, straight through OpenBeneath: the same
// answer for every link, so a kernel without openat2 gives what one with it
// gives.
TEST_F(ShareBoundaryTest, BothWalksFollowTheSameLinks) {
  const fs::path share = d / "data";
  fs::create_directories(share / "sub" / "deeper");
  WriteText(share / "sub" / "f.txt", "sub file");
  WriteText(d / "secret.txt", "outside the share");
  const std::pair<const char*, std::string> links[] = {
      {"in", "sub"},
      {"infile", "sub/f.txt"},
      {"up", ".."},
      {"around", "sub/../../data/sub/f.txt"},   // leaves the root on the way, even if it comes back
      {"absolute", (share / "sub" / "f.txt").string()},
      {"loop", "loop"},
      {"chain", "in/deeper/../f.txt"},
      {"dots", "sub/./deeper/.."},
      {"viain", "in/../infile"},
  };
  for (const auto& [name, target] : links) fs::create_symlink(target, share / name);

  struct Case {
    std::vector<std::string> components;
    int error;           // of locating and opening the object
    std::string text;    // its contents when it is a file
  };
  const Case cases[] = {
      {{"in", "f.txt"}, 0, "sub file"},
      {{"infile"}, 0, "sub file"},
      {{"chain"}, 0, "sub file"},
      {{"viain"}, 0, "sub file"},
      {{"dots", "f.txt"}, 0, "sub file"},
      {{"sub", "..", "sub", "f.txt"}, 0, "sub file"},
      {{"up", "secret.txt"}, EXDEV, ""},
      {{"around"}, EXDEV, ""},
      {{"absolute"}, EXDEV, ""},
      {{"in", "..", "..", "secret.txt"}, EXDEV, ""},
      {{"loop"}, ELOOP, ""},
      {{"in", "missing"}, ENOENT, ""},
      {{"infile", "x"}, ENOTDIR, ""},
  };
  vn::UniqueFd root(::open(share.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(root);
  for (const auto& walker : kWalkers) {
    vn::UseDescriptorWalkForTesting(walker.descriptors);
    for (const auto& c : cases) {
      std::string path;
      for (const auto& part : c.components) path += "/" + part;
      SCOPED_TRACE(std::string(walker.name) + ": " + path);
      vn::UniqueFd parent;
      std::string name;
      int error = vn::LocateBeneath(root.Get(), c.components, true, vn::LinkScope::Beneath, &parent, &name);
      vn::UniqueFd file;
      if (error == 0) {
        file.Reset(::openat(parent.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file) error = errno;
      }
      EXPECT_EQ(error, c.error);
      if (error == 0) {
        char buffer[64] = {};
        ASSERT_GE(::read(file.Get(), buffer, sizeof buffer - 1), 0);
        EXPECT_EQ(std::string(buffer), c.text);
      }
    }
    // A root that is "/" keeps absolute links and stops ".." at the top.
    vn::UniqueFd top(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> viaAbsolute;
    for (const auto& part : share.relative_path()) viaAbsolute.push_back(part.string());
    viaAbsolute.push_back("absolute");
    vn::UniqueFd parent;
    std::string name;
    ASSERT_EQ(vn::LocateBeneath(top.Get(), viaAbsolute, true, vn::LinkScope::WholeTree, &parent, &name), 0)
        << walker.name;
    EXPECT_EQ(name, "f.txt");
    vn::UniqueFd up(vn::OpenDirectoryBeneath(top.Get(), {"..", "..", "tmp"}, O_PATH, vn::LinkScope::WholeTree));
    EXPECT_TRUE(up) << walker.name << ": .. stops at /";
    // The process file system's plain links are followed, its descriptor links never.
    EXPECT_EQ(vn::LocateBeneath(top.Get(), {"proc", "self", "status"}, true, vn::LinkScope::WholeTree, &parent, &name), 0)
        << walker.name;
    EXPECT_EQ(vn::LocateBeneath(top.Get(), {"proc", "self", "cwd"}, true, vn::LinkScope::WholeTree, &parent, &name),
              ELOOP)
        << walker.name;
    vn::UniqueFd viaFd(vn::OpenDirectoryBeneath(top.Get(), {"proc", "self", "cwd", "."}, O_PATH, vn::LinkScope::WholeTree));
    EXPECT_FALSE(viaFd) << walker.name;
    EXPECT_EQ(errno, ELOOP) << walker.name;
  }
}

TEST_F(ShareBoundaryTest, AdministrativeSharesHideTheHomeTheCredentialsAndTheKernelsTrees) {
  fs::create_directories(home.path() / "keys");
  WriteText(home.path() / "keys" / "machine.key", "private");
  Configure("C=/\n", "Home=" + home.path().string() + "\nKeys=" + (home.path() / "keys").string() + "\n");
  const std::string rel = home.path().relative_path().string();
  const std::string parentRel = home.path().parent_path().relative_path().string();
  const std::string homeName = home.path().filename().string();
  // A link a local user leaves where the network can reach it, to the secrets.
  const fs::path peek = home.path().parent_path() / (homeName + "-peek");
  const fs::path door = home.path().parent_path() / (homeName + "-door");
  fs::create_symlink(home.path() / "secrets.ini", peek);
  fs::create_directory_symlink(home.path(), door);
  // The links live beside the home, outside what the home's own cleanup removes.
  struct RemoveLinks {
    std::vector<fs::path> links;
    ~RemoveLinks() {
      std::error_code ignored;
      for (const auto& link : links) fs::remove(link, ignored);
    }
  } removeLinks{{peek, door}};

  struct Case {
    const char* what;
    vn::MachinePath path;
    bool link = false;   // the name is a link of the user's own, which they may see and delete
  };
  std::vector<Case> refused = {
      {"the secrets", {"C$", rel + "\\secrets.ini"}},
      {"the configuration", {"C$", rel + "\\machine.ini"}},
      {"the home itself", {"C$", rel}},
      {"a link to the home", {"C$", parentRel + "\\" + homeName + "-door\\secrets.ini"}},
      {"a share of the home", {"Home", "secrets.ini"}},
      {"a share inside the home, on no drive", {"Keys", "machine.key"}},
      {"the process's environment", {"C$", "proc\\self\\environ"}},
      {"devices", {"C$", "dev\\null"}},
      {"a link to the secrets", {"C$", parentRel + "\\" + homeName + "-peek"}, true},
  };
  if (fs::exists("/etc/shadow")) refused.push_back({"the password hashes", {"C$", "etc\\shadow"}});
  if (fs::exists("/sys/kernel/notes")) refused.push_back({"the kernel's objects", {"C$", "sys\\kernel\\notes"}});
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    std::string text;
    vn::FileEntry entry;
    std::vector<vn::FileEntry> entries;
    EXPECT_EQ(ReadThrough(*network, c.path, &text), ERROR_ACCESS_DENIED);
    EXPECT_EQ(text, "");
    const LONG info = network->GetFileInfo(c.path, &entry);
    if (c.link && info == ERROR_SUCCESS) {
      EXPECT_EQ(entry.size, 0u) << "the link is described as itself, never as what it leads to";
    } else {
      EXPECT_EQ(info, ERROR_ACCESS_DENIED);
    }
    EXPECT_NE(network->FindFiles({c.path.root, c.path.path + "\\*"}, &entries), ERROR_SUCCESS);
    if (!c.link) {
      EXPECT_EQ(network->DeleteFile(c.path), ERROR_ACCESS_DENIED);
    }
  }
  EXPECT_EQ(WriteThrough(*network, {"C$", rel + "\\planted.txt"}, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(network->CreateDirectory({"C$", rel + "\\planted"}), ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteThrough(*network, {"Home", "planted.txt"}, "x"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(home.path() / "planted.txt"));
  EXPECT_FALSE(fs::exists(home.path() / "planted"));
  EXPECT_EQ(ReadText(home.path() / "secrets.ini"), "[Secrets]\nTESTDOM=the machine's own secret\n");

  // Listings leave the protected places out.
  std::vector<vn::FileEntry> entries;
  auto names = [&entries] {
    std::vector<std::string> list;
    for (const auto& entry : entries) list.push_back(entry.name);
    return list;
  };
  ASSERT_EQ(network->FindFiles({"C$", parentRel + "\\*"}, &entries), ERROR_SUCCESS);
  EXPECT_FALSE(Holds(names(), homeName));
  ASSERT_EQ(network->FindFiles({"C$", "*"}, &entries), ERROR_SUCCESS);
  for (const char* hidden : {"proc", "sys", "dev", "run"}) EXPECT_FALSE(Holds(names(), hidden)) << hidden;
  EXPECT_TRUE(Holds(names(), "etc"));
  ASSERT_EQ(network->FindFiles({"C$", "etc\\*"}, &entries), ERROR_SUCCESS);
  EXPECT_FALSE(Holds(names(), "shadow"));
  EXPECT_TRUE(Holds(names(), "passwd")) << "the rest of the system stays readable";

  // The drives and shares inside the home stay reachable below their roots.
  WriteText(d / "data" / "report.txt", "data");
  std::string text;
  EXPECT_EQ(ReadThrough(*network, {"Data", "report.txt"}, &text), ERROR_SUCCESS);
  EXPECT_EQ(ReadThrough(*network, {"D$", "data\\report.txt"}, &text), ERROR_SUCCESS);
  EXPECT_EQ(ReadThrough(*network, {"C$", rel + "\\d\\data\\report.txt"}, &text), ERROR_SUCCESS)
      << "a drive's files are its files, by whichever share";
  EXPECT_EQ(network->FindFiles({"ADMIN$", "*"}, &entries), ERROR_FILE_NOT_FOUND) << "empty, and reachable";
  EXPECT_EQ(network->FindFiles({"D$", "..\\*"}, &entries), ERROR_SUCCESS) << ".. stops at the drive's root";

  // The machine's own callers are not the network: they have the host's files anyway.
  vn::LocalMachine local(shared, vn::RootAccess::SharesAndDrives);
  EXPECT_EQ(ReadThrough(local, {"C:", rel + "\\machine.ini"}, &text), ERROR_SUCCESS);
}

// The same through the machine service: a caller holding the domain's secret
// reads neither the service's home nor its secrets through C$.
TEST(ShareBoundaryNetworkTest, TheServicesHomeIsUnreachableThroughItsAdministrativeShares) {
  vn::testing::MachineNetwork net("TESTDOM");
  const auto& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  std::string ini = ReadText(srv1.home / "machine.ini");
  const std::string driveC = "C=" + srv1.driveC.string() + ",fixed";
  ASSERT_NE(ini.find(driveC), std::string::npos);
  ini.replace(ini.find(driveC), driveC.size(), "C=/,fixed");
  WriteText(srv1.home / "machine.ini", ini);
  ASSERT_TRUE(net.Start("SRV1"));

  const std::string home = "\\\\SRV1\\C$\\" + srv1.home.relative_path().string();
  const std::string copy = "D:\\stolen.txt";
  // The machine's key for its domain.
  ASSERT_TRUE(fs::exists(srv1.home / "identity" / "TESTDOM.pem"));
  EXPECT_FALSE(CopyFileA((home + "\\identity\\TESTDOM.pem").c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(CopyFileA((home + "\\registry.db").c_str(), copy.c_str(), FALSE));
  EXPECT_FALSE(fs::exists(net.Console().driveD / "stolen.txt"));
  DWORD error = 0;
  EXPECT_TRUE(Search(home + "\\*", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(Holds(Search("\\\\SRV1\\C$\\" + srv1.home.parent_path().relative_path().string() + "\\*"), "home"));
  EXPECT_EQ(GetFileAttributesA("\\\\SRV1\\C$\\proc\\self\\environ"), INVALID_FILE_ATTRIBUTES);
  // What the service's machine shares is still there.
  WriteText(srv1.ShareDir("Data") / "report.txt", "data");
  EXPECT_TRUE(CopyFileA("\\\\SRV1\\Data\\report.txt", copy.c_str(), FALSE)) << GetLastError();
}

// Reads, writes and searches through the service and the platform's calls
// while a local user swaps a link into the share.
TEST(ShareBoundaryNetworkTest, ASwappedLinkNeverLeadsACallerOutsideTheShare) {
  vn::testing::MachineNetwork net("TESTDOM");
  const auto& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  ASSERT_TRUE(net.Start("SRV1"));
  const fs::path share = srv1.ShareDir("Data");
  const fs::path outside = srv1.driveD / "outside";
  MakeSwapTree(share, outside);
  WriteText(net.Console().driveD / "source.txt", "written");
  const std::string got = "D:\\got.txt";
  int readsInside = 0;
  {
    Swapper swapper(share / "swap", share / "swaplink");
    for (int i = 0; i < 600; ++i) {
      if (CopyFileA("\\\\SRV1\\Data\\swap\\f.txt", got.c_str(), FALSE)) {
        ASSERT_EQ(ReadText(net.Console().driveD / "got.txt"), "inside") << "copy " << i << " left the share";
        ++readsInside;
      }
      if (i % 3 == 0) {
        const std::string target = "\\\\SRV1\\Data\\swap\\w" + std::to_string(i) + ".txt";
        // Works or not by where the swap is; that nothing lands outside is checked below.
        (void)CopyFileA("D:\\source.txt", target.c_str(), TRUE);
      }
      if (i % 3 == 1) {
        ASSERT_FALSE(Holds(Search("\\\\SRV1\\Data\\swap\\*"), "only-outside.txt")) << "search " << i;
      }
    }
  }
  EXPECT_GT(readsInside, 0);
  EXPECT_EQ(NamesIn(outside), (std::vector<std::string>{"f.txt", "only-outside.txt"}));
}

TEST(ShareBoundaryNetworkTest, AnInterruptedWritesTemporaryFileIsHiddenAndRemovedAtTheNextStart) {
  vn::testing::MachineNetwork net("TESTDOM");
  const auto& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  ASSERT_TRUE(net.Start("SRV1"));
  const fs::path share = srv1.ShareDir("Data");
  fs::create_directories(share / "in");
  WriteText(share / "in" / "kept.txt", "kept");

  auto temporaries = [&share] {
    std::vector<std::string> names;
    for (const auto& name : NamesIn(share / "in"))
      if (vn::IsPartialCopyName(name)) names.push_back(name);
    return names;
  };
  std::shared_ptr<vn::MachineEndpoint> machine;
  ASSERT_EQ(vn::FindMachine("SRV1", &machine), 0);
  std::unique_ptr<vn::FileWriter> writer;
  ASSERT_EQ(machine->OpenWrite({"Data", "in\\big.bin"}, false, &writer), 0);
  ASSERT_EQ(writer->Write(Bytes(std::string(64 * 1024, 'x'))), 0);
  ASSERT_TRUE(WaitUntil([&] { return temporaries().size() == 1; }));

  // Searches never show it, by any pattern.
  for (const char* pattern : {"\\\\SRV1\\Data\\in\\*", "\\\\SRV1\\Data\\in\\*.tmp", "\\\\SRV1\\Data\\in\\.vn*"}) {
    SCOPED_TRACE(pattern);
    const auto names = Search(pattern);
    EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) { return vn::IsPartialCopyName(n); }));
  }
  EXPECT_TRUE(Holds(Search("\\\\SRV1\\Data\\in\\*"), "kept.txt"));

  // The service dies mid-write: the file stays, until the service starts again.
  net.Stop("SRV1", /*kill=*/true);
  writer.reset();
  EXPECT_EQ(temporaries().size(), 1u);
  ASSERT_TRUE(net.Start("SRV1"));
  EXPECT_TRUE(temporaries().empty());
  EXPECT_EQ(NamesIn(share / "in"), (std::vector<std::string>{"kept.txt"}));
  EXPECT_TRUE(!fs::exists(srv1.home / "partial") || fs::is_empty(srv1.home / "partial"));
  EXPECT_NE(ReadText(srv1.home / "vnmachined.log").find("removed 1 temporary file of interrupted writes"),
            std::string::npos);

  // A write that completes, or is abandoned, leaves neither file nor record.
  ASSERT_EQ(vn::FindMachine("SRV1", &machine), 0);
  ASSERT_EQ(machine->OpenWrite({"Data", "in\\done.txt"}, false, &writer), 0);
  ASSERT_EQ(writer->Write(Bytes("done")), 0);
  ASSERT_EQ(writer->Commit(0), 0);
  writer.reset();
  ASSERT_EQ(machine->OpenWrite({"Data", "in\\abandoned.txt"}, false, &writer), 0);
  ASSERT_EQ(writer->Write(Bytes("half")), 0);
  writer.reset();
  EXPECT_TRUE(WaitUntil([&] { return NamesIn(share / "in") == std::vector<std::string>{"done.txt", "kept.txt"}; }));
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(srv1.home / "partial") || fs::is_empty(srv1.home / "partial"); }));
}

TEST(ShareBoundaryNetworkTest, HostsFileProblemsReachTheServicesLogWithoutTheLines) {
  vn::testing::MachineNetwork net("TESTDOM");
  const auto& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
  const fs::path hosts = net.HostsFile();
  const std::string before = ReadText(hosts);
  const int lines = static_cast<int>(std::count(before.begin(), before.end(), '\n'));
  WriteText(hosts, before + "hunter2-correct-horse\n127.0.0.1:99999 SRV9\n");
  ASSERT_TRUE(net.Start("SRV1"));
  const fs::path log = srv1.home / "vnmachined.log";
  const std::string prefix = "vnmachined: warning: " + hosts.string() + ":";
  std::string text = ReadText(log);
  EXPECT_NE(text.find(prefix + std::to_string(lines + 1) + ": "), std::string::npos) << text;
  EXPECT_NE(text.find(prefix + std::to_string(lines + 2) + ": "), std::string::npos) << text;
  EXPECT_EQ(text.find("hunter2"), std::string::npos) << "a line is never repeated whole";

  // A change while the service runs is reported too.
  WriteText(hosts, before + "hunter2-correct-horse\n127.0.0.1:99999 SRV9\n127.0.0.1 NAME-MUCH-TOO-LONG-FOR-A-PC\n");
  EXPECT_TRUE(WaitUntil([&] { return ReadText(log).find(prefix + std::to_string(lines + 3) + ": ") != std::string::npos; }))
      << ReadText(log);
}

}  // namespace
