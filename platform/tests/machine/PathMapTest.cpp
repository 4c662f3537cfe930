#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/machine/MachineConfig.h"
#include "platform/machine/PathMap.h"
#include "testing/TempMachineHome.h"

namespace {

namespace fs = std::filesystem;

TEST(PathMapTest, WindowsPathsSplitAtEitherSeparatorAndJoinWithBackslashes) {
  struct Case {
    std::string path;
    std::vector<std::string> parts;
    std::string joined;
  };
  const Case cases[] = {
      {"", {}, ""},
      {"\\", {}, ""},
      {"Dir\\File.txt", {"Dir", "File.txt"}, "Dir\\File.txt"},
      {"\\\\a//b\\/c\\", {"a", "b", "c"}, "a\\b\\c"},
      {"a\\.\\..\\b", {"a", ".", "..", "b"}, "a\\.\\..\\b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vn::SplitWindowsPath(c.path), c.parts) << c.path;
    EXPECT_EQ(vn::JoinWindowsPath(vn::SplitWindowsPath(c.path)), c.joined) << c.path;
  }
}

TEST(PathMapTest, WildcardsMatchAsWindowsMatchesThem) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.*", "file.txt", true},     {"*.*", "noext", true},        {"*.*", ".hidden", true},
      {"*", "anything.at.all", true}, {"*.txt", "A.TXT", true},     {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false},       {"a?c", "abc", true},          {"a?c", "ac", false},
      {"a?c", "abbc", false},        {"a*c", "ac", true},           {"a*c", "aXbYc", true},
      {"a*c", "acb", false},         {"file.*", "file", true},      {"file.*", "FILE.doc", true},
      {"file.*", "files", false},    {"*.", "noext", true},         {"*.", "has.ext", false},
      {"README", "readme", true},    {"", "x", false},              {"*a*b*", "xxaxxbxx", true},
      {"*a*b*", "xxbxxaxx", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vn::MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

// A machine whose D: is a temporary directory holding
//   data/file.txt  data/sub/inner.txt  data/Readme  data/README
//   data/inlink -> sub   data/outlink -> <home>/outside   data/uplink -> ..   secret.txt
// with share Data = D:\data.
class PathMapMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    d = home.path() / "d";
    fs::create_directories(d / "data" / "sub");
    fs::create_directories(home.path() / "outside");
    for (const char* file : {"data/file.txt", "data/sub/inner.txt", "data/Readme", "data/README", "secret.txt"})
      std::ofstream(d / file) << file;
    fs::create_directory_symlink("sub", d / "data" / "inlink");
    fs::create_directory_symlink(home.path() / "outside", d / "data" / "outlink");
    fs::create_directory_symlink("..", d / "data" / "uplink");
    fs::create_symlink(home.path() / "outside" / "gone", d / "data" / "dangling");
    std::ofstream(home.path() / "machine.ini")
        << "[Machine]\nName=PATHS\n[Drives]\nD=" << d.string() << "\nE=" << (home.path() / "nodisc").string()
        << ", cdrom\n[Shares]\nData=D:\\data\nGone=" << (home.path() / "missing").string() << "\n";
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
  }

  LONG Resolve(const std::string& root, const std::string& path, vn::ResolvedPath* resolved,
               vn::PathKind kind = vn::PathKind::Name,
               vn::RootAccess access = vn::RootAccess::SharesAndDrives) {
    return vn::ResolvePath(config, {root, path}, access, kind, resolved);
  }

  vn::testing::TempMachineHome home;
  fs::path d;
  vn::MachineConfig config;
};

TEST_F(PathMapMachine, PathsNeverLeaveTheirRoot) {
  struct Case {
    std::string root;
    std::string path;
    LONG code;
    std::string host;  // below d, when code is 0
  };
  const Case cases[] = {
      {"D:", "", 0, ""},
      {"D:", "..\\..\\etc\\passwd", 0, "etc/passwd"},
      {"d:", "\\..\\..\\secret.txt", 0, "secret.txt"},
      {"Data", "..\\..\\x", 0, "data/x"},
      {"DATA", "sub\\..\\..\\..\\file.txt", 0, "data/file.txt"},
      {"Data", "..\\secret.txt", 0, "data/secret.txt"},
      {"Data", "/sub//./inner.txt", 0, "data/sub/inner.txt"},
      {"Data", "sub/../sub\\inner.txt", 0, "data/sub/inner.txt"},
      {"D:", "data\\file.txt. . ", 0, "data/file.txt"},
      {"Data", "inlink\\inner.txt", 0, "data/inlink/inner.txt"},
      {"Data", "outlink", ERROR_ACCESS_DENIED, ""},
      {"Data", "outlink\\x", ERROR_ACCESS_DENIED, ""},
      {"Data", "uplink\\secret.txt", ERROR_ACCESS_DENIED, ""},
      {"D:", "data\\uplink\\secret.txt", 0, "data/uplink/secret.txt"},  // still inside D:
      {"D:", "data\\outlink", ERROR_ACCESS_DENIED, ""},
      {"Data", "dangling", 0, "data/dangling"},  // the link itself, which stays inside
      {"Data", "C:\\..\\..\\etc", ERROR_INVALID_NAME, ""},
      {"Data", std::string("file.txt\0.exe", 13), ERROR_INVALID_NAME, ""},
      {"Data", "...", ERROR_INVALID_NAME, ""},
      {"Data", "sub\\ \\x", ERROR_INVALID_NAME, ""},
      {"Data", std::string(256, 'n'), ERROR_FILENAME_EXCED_RANGE, ""},
      {"Nowhere", "", ERROR_BAD_NET_NAME, ""},
      {"IPC$", "", ERROR_BAD_NET_NAME, ""},
      {"Gone", "", ERROR_BAD_NET_NAME, ""},
      {"Q:", "", ERROR_PATH_NOT_FOUND, ""},
      {"E:", "", ERROR_NOT_READY, ""},
  };
  for (const Case& c : cases) {
    vn::ResolvedPath resolved;
    const LONG code = Resolve(c.root, c.path, &resolved);
    EXPECT_EQ(code, c.code) << c.root << " " << c.path;
    if (code == 0 && c.code == 0) {
      EXPECT_EQ(resolved.host, c.host.empty() ? d : d / c.host) << c.root << " " << c.path;
    }
  }
}

TEST_F(PathMapMachine, ForbiddenCharactersAreInvalidNamesExceptWildcardsOfAPattern) {
  for (const char* bad : {"a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b", "a\x1f" "b"}) {
    vn::ResolvedPath resolved;
    EXPECT_EQ(Resolve("Data", bad, &resolved), ERROR_INVALID_NAME) << bad;
    EXPECT_EQ(Resolve("Data", std::string(bad) + "\\x", &resolved, vn::PathKind::SearchPattern), ERROR_INVALID_NAME)
        << bad;
  }
  vn::ResolvedPath resolved;
  ASSERT_EQ(Resolve("Data", "sub\\*.t?t", &resolved, vn::PathKind::SearchPattern), 0);
  EXPECT_EQ(resolved.pattern, "*.t?t");
  EXPECT_EQ(resolved.host, d / "data" / "sub");
  EXPECT_EQ(Resolve("Data", "sub\\a<b", &resolved, vn::PathKind::SearchPattern), ERROR_INVALID_NAME);
}

TEST_F(PathMapMachine, NamesAreFoundWithoutCaseWhereWindowsWouldFindThem) {
  struct Case {
    std::string path;
    std::vector<std::string> components;
    std::size_t existing;
  };
  const Case cases[] = {
      {"DATA\\File.TXT", {"data", "file.txt"}, 2},
      {"data\\SUB\\INNER.txt", {"data", "sub", "inner.txt"}, 3},
      {"Data\\Readme", {"data", "Readme"}, 2},     // an exact match wins
      {"Data\\readme", {"data", "README"}, 2},     // else the first in byte order
      {"data\\NewFile.txt", {"data", "NewFile.txt"}, 1},
      {"Missing\\Deeper\\x", {"Missing", "Deeper", "x"}, 0},
  };
  for (const Case& c : cases) {
    vn::ResolvedPath resolved;
    ASSERT_EQ(Resolve("D:", c.path, &resolved), 0) << c.path;
    EXPECT_EQ(resolved.components, c.components) << c.path;
    EXPECT_EQ(resolved.existing, c.existing) << c.path;
    EXPECT_EQ(resolved.WindowsPath(), vn::JoinWindowsPath(c.components));
  }
}

TEST_F(PathMapMachine, DriveRootsAreOnlyForTheLocalMachinesOwnCallers) {
  vn::ResolvedPath resolved;
  EXPECT_EQ(Resolve("D:", "data", &resolved, vn::PathKind::Name, vn::RootAccess::SharesOnly), ERROR_BAD_NET_NAME);
  EXPECT_EQ(Resolve("Q:", "", &resolved, vn::PathKind::Name, vn::RootAccess::SharesOnly), ERROR_BAD_NET_NAME);
  EXPECT_EQ(Resolve("D$", "data\\file.txt", &resolved, vn::PathKind::Name, vn::RootAccess::SharesOnly), 0);
  EXPECT_EQ(resolved.host, d / "data" / "file.txt");
  EXPECT_EQ(Resolve("Data", "file.txt", &resolved, vn::PathKind::Name, vn::RootAccess::SharesOnly), 0);
}

TEST_F(PathMapMachine, RootsThatAreSlashHaveNothingToEscape) {
  // C: is "/" here: a link to anywhere is still on C:.
  fs::create_directory_symlink(home.path() / "outside", home.path() / "tolink");
  vn::ResolvedPath resolved;
  const std::string below = home.path().relative_path().string() + "/tolink";
  EXPECT_EQ(Resolve("C:", below, &resolved), 0);
  EXPECT_EQ(Resolve("C:", "..\\..\\" + below, &resolved), 0);
  EXPECT_EQ(resolved.host, home.path() / "tolink");
}

}  // namespace

namespace {

TEST_F(PathMapMachine, HostPathsBecomeThePathOfTheDeepestDriveHoldingThem) {
  fs::create_directories(home.path() / "d-other");
  fs::create_directory_symlink(d / "data", home.path() / "todata");
  struct Case {
    fs::path host;
    bool found;
    std::string drivePath;
  };
  const Case cases[] = {
      {d, true, "D:\\"},
      {d / "data" / "sub", true, "D:\\data\\sub"},
      {d / "data" / "not yet", true, "D:\\data\\not yet"},
      {home.path() / "todata" / "sub", true, "D:\\data\\sub"},    // through a link
      {d / "data" / ".." / "data", true, "D:\\data"},
      {home.path() / "d-other", true, ""},                         // not D: though it starts alike: C:
      {"relative/dir", false, ""},
      {d / "data" / "a:b", false, ""},                             // no Windows name for it
  };
  for (const Case& c : cases) {
    std::string drivePath;
    EXPECT_EQ(vn::DrivePathOfHostPath(config, c.host, &drivePath), c.found) << c.host;
    if (c.found && !c.drivePath.empty()) {
      EXPECT_EQ(drivePath, c.drivePath) << c.host;
    }
  }
  std::string onC;
  ASSERT_TRUE(vn::DrivePathOfHostPath(config, home.path() / "d-other", &onC));
  EXPECT_EQ(onC, "C:\\" + vn::JoinWindowsPath(vn::SplitWindowsPath((home.path() / "d-other").relative_path().string())));

  vn::MachineConfig noDrives = config;
  noDrives.drives.clear();
  std::string none;
  EXPECT_FALSE(vn::DrivePathOfHostPath(noDrives, d, &none));
}

}  // namespace
