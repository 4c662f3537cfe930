// Delete, copy and move of the files a result lists, through the platform's
// file calls, on this machine's drives and on another machine's share of the
// test harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "console/core/results/ResultFileOps.h"
#include "platform/core/Win32Types.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::console::CopyFilesTo;
using vn::console::DeleteFileOrTree;
using vn::testing::MachineNetwork;
using vn::testing::ReadText;
using vn::testing::WriteText;

class ResultFileOpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  ResultFileOpsTest()
      : local(s_net->Console().driveC / "work"), remote(s_net->Machine("SRV1").ShareDir("Data") / "work") {
    fs::create_directories(local);
    fs::create_directories(remote);
  }
  ~ResultFileOpsTest() override {
    for (const fs::path& dir : {local, remote}) {
      std::error_code ec;
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
      fs::remove_all(dir, ec);
    }
  }

  static std::unique_ptr<MachineNetwork> s_net;
  fs::path local;
  fs::path remote;
};

std::unique_ptr<MachineNetwork> ResultFileOpsTest::s_net;

// Paths below C:\work of this machine and \\SRV1\Data\work.
std::string Local(const char* rest) {
  std::string path = "C:\\work";
  path.append(rest);
  return path;
}

std::string Remote(const char* rest) {
  std::string path = "\\\\SRV1\\Data\\work";
  path.append(rest);
  return path;
}

TEST_F(ResultFileOpsTest, DeletesFilesAndWholeTreesHereAndThere) {
  WriteText(local / "a.txt", "a");
  fs::create_directories(remote / "tree" / "sub" / "deeper");
  WriteText(remote / "tree" / "top.txt", "t");
  WriteText(remote / "tree" / "sub" / "deeper" / "x.bin", "x");
  fs::create_directories(remote / "kept");
  WriteText(remote / "kept" / "keep.txt", "k");
  fs::create_directory_symlink("../kept", remote / "tree" / "sub" / "link");

  EXPECT_EQ(DeleteFileOrTree(Local("\\a.txt")), 0u);
  EXPECT_FALSE(fs::exists(local / "a.txt"));
  // A row with an empty file name names its directory: everything goes, but
  // what a link inside leads to stays.
  EXPECT_EQ(DeleteFileOrTree(Remote("\\tree\\")), 0u);
  EXPECT_FALSE(fs::exists(remote / "tree"));
  EXPECT_EQ(ReadText(remote / "kept" / "keep.txt"), "k");

  EXPECT_EQ(DeleteFileOrTree(Local("\\a.txt")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(DeleteFileOrTree("\\\\NOSUCH\\Data\\a.txt"), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(ResultFileOpsTest, ATreeDeleteStopsAtTheFirstFailure) {
  // A read-only file: the machine refuses to delete it, as Windows does.
  fs::create_directories(local / "tree" / "a");
  WriteText(local / "tree" / "a" / "inside.txt", "i");
  fs::permissions(local / "tree" / "a" / "inside.txt", fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(DeleteFileOrTree(Local("\\tree")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::exists(local / "tree" / "a" / "inside.txt"));
  fs::permissions(local / "tree" / "a" / "inside.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(ResultFileOpsTest, CopiesAndMovesBetweenMachines) {
  WriteText(local / "one.txt", "1");
  WriteText(local / "two.txt", "2");
  fs::create_directories(remote / "dest");
  auto outcome = CopyFilesTo({{Local("\\one.txt"), "one.txt"}, {Local("\\two.txt"), "two.txt"}},
                             Remote("\\dest"), false);
  EXPECT_EQ(outcome.error, 0u);
  EXPECT_EQ(outcome.done, 2u);
  EXPECT_EQ(ReadText(remote / "dest" / "two.txt"), "2");
  EXPECT_TRUE(fs::exists(local / "one.txt"));

  fs::create_directories(local / "back");
  outcome = CopyFilesTo({{Remote("\\dest\\one.txt"), "one.txt"}}, Local("\\back\\"), true);
  EXPECT_EQ(outcome.error, 0u);
  EXPECT_EQ(ReadText(local / "back" / "one.txt"), "1");
  EXPECT_FALSE(fs::exists(remote / "dest" / "one.txt"));
}

TEST_F(ResultFileOpsTest, CopyingOntoAnExistingFileStopsThere) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteText(local / name, name);
  fs::create_directories(remote / "dest");
  WriteText(remote / "dest" / "b.txt", "older");
  const auto outcome = CopyFilesTo({{Local("\\a.txt"), "a.txt"},
                                    {Local("\\b.txt"), "b.txt"},
                                    {Local("\\c.txt"), "c.txt"}},
                                   Remote("\\dest"), true);
  EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(outcome.failedSource, Local("\\b.txt"));
  EXPECT_EQ(ReadText(remote / "dest" / "b.txt"), "older");
  EXPECT_FALSE(fs::exists(remote / "dest" / "c.txt"));
  EXPECT_FALSE(fs::exists(local / "a.txt"));  // moved
  EXPECT_TRUE(fs::exists(local / "b.txt"));
  EXPECT_TRUE(fs::exists(local / "c.txt"));
}

}  // namespace
