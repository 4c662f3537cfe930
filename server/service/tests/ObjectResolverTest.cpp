// Object resolution on a machine whose drives and shares are temporary
// directories: what each object names, how results will show it, and what is
// refused.
#include "server/service/ObjectResolver.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "platform/machine/Machine.h"

namespace {

namespace fs = std::filesystem;
using vn::vnsrv::ConsoleIsLocal;
using vn::vnsrv::ResolveObjects;

class ObjectResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    const fs::path root = m_dir.path().toStdString();
    fs::create_directories(root / "C" / "dir" / "sub");
    fs::create_directories(root / "D" / "Data" / "reports");
    fs::create_directories(root / "E");
    fs::create_directories(root / "outside");
    std::ofstream(root / "C" / "file.txt") << "x";
    fs::create_directory_symlink(root / "outside", root / "C" / "escape");
    m_config.name = vn::LocalComputerName();
    m_config.drives = {{'C', root / "C", DRIVE_FIXED, "ext4", ""},
                       {'D', root / "D", DRIVE_FIXED, "ext4", ""},
                       {'E', root / "E", DRIVE_REMOTE, "nfs", ""}};
    m_config.shares = {{"Data", root / "D" / "Data", STYPE_DISKTREE, ""},
                       {"C$", root / "C", STYPE_SPECIAL | STYPE_DISKTREE, ""},
                       {"D$", root / "D", STYPE_SPECIAL | STYPE_DISKTREE, ""}};
    m_root = root;
  }

  QTemporaryDir m_dir;
  fs::path m_root;
  vn::MachineConfig m_config;
};

TEST_F(ObjectResolverTest, ObjectsAreShownAsTheConsoleReachesThem) {
  const std::string me = m_config.name;
  struct Case {
    std::string object;
    bool local;
    std::string shownRoot;  // empty: an error object
    fs::path root;
  };
  const Case cases[] = {
      {"C:\\dir", true, "C:\\dir", m_root / "C" / "dir"},
      {"c:\\DIR\\Sub\\", true, "C:\\dir\\sub", m_root / "C" / "dir" / "sub"},
      {"C:\\dir", false, "\\\\" + me + "\\C$\\dir", m_root / "C" / "dir"},
      {"C:\\", false, "\\\\" + me + "\\C$", m_root / "C"},
      {"C:", true, "C:", m_root / "C"},
      {"\\\\" + me + "\\data\\REPORTS", false, "\\\\" + me + "\\Data\\reports", m_root / "D" / "Data" / "reports"},
      {"\\\\" + me + "\\Data", true, "\\\\" + me + "\\Data", m_root / "D" / "Data"},
      {"C:\\..\\..\\dir", false, "\\\\" + me + "\\C$\\dir", m_root / "C" / "dir"},
      {"E:\\", false, "", {}},            // no administrative share to show it by
      {"E:\\", true, "E:", m_root / "E"},
      {"C:\\missing", true, "", {}},
      {"C:\\file.txt", true, "", {}},     // not a folder
      {"C:\\escape", true, "", {}},       // a link out of the drive
      {"\\\\OTHER\\Data", false, "", {}},
      {"\\\\" + me + "\\NoShare", false, "", {}},
      {"OTHER", false, "", {}},
      {"C:\\dir\\bad|name", false, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.object + (c.local ? " (local console)" : " (remote console)"));
    const auto objects = ResolveObjects(m_config, c.object, c.local);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].named, c.object);
    EXPECT_EQ(objects[0].machine, me);
    if (c.shownRoot.empty()) {
      EXPECT_FALSE(objects[0].error.empty());
      continue;
    }
    EXPECT_EQ(objects[0].error, "");
    EXPECT_EQ(objects[0].shownRoot, c.shownRoot);
    EXPECT_EQ(fs::canonical(objects[0].root), fs::canonical(c.root));
  }
}

TEST_F(ObjectResolverTest, ListsAndTheWholeMachine) {
  const std::string me = m_config.name;
  auto objects = ResolveObjects(m_config, " ;;" + me + "; C:\\dir ;", false);
  ASSERT_EQ(objects.size(), 3u) << "every fixed drive, then the folder";
  EXPECT_EQ(objects[0].shownRoot, "\\\\" + me + "\\C$");
  EXPECT_EQ(objects[0].drive, "\\\\" + me + "\\C$");
  EXPECT_EQ(objects[1].shownRoot, "\\\\" + me + "\\D$");
  EXPECT_EQ(objects[2].shownRoot, "\\\\" + me + "\\C$\\dir");
  objects = ResolveObjects(m_config, "\\\\" + me, true);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].shownRoot, "C:");
  EXPECT_EQ(objects[0].drive, "C:");
  EXPECT_TRUE(ResolveObjects(m_config, "", false).empty());
}

TEST(ConsoleIsLocal, ByTheProgressPipesMachine) {
  const std::string me = vn::LocalComputerName();
  EXPECT_TRUE(ConsoleIsLocal("\\\\.\\pipe\\123"));
  EXPECT_TRUE(ConsoleIsLocal("\\\\" + me + "\\pipe\\123"));
  EXPECT_FALSE(ConsoleIsLocal("\\\\OTHER\\pipe\\123"));
  EXPECT_FALSE(ConsoleIsLocal(""));
  EXPECT_FALSE(ConsoleIsLocal("\\\\"));
  EXPECT_FALSE(ConsoleIsLocal(me));
}

}  // namespace
