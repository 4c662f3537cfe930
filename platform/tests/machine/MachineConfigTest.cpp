#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include "platform/machine/Machine.h"
#include "platform/machine/MachineConfig.h"
#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;

using vn::testing::WriteText;

const vn::DriveMapping* FindDrive(const vn::MachineConfig& config, char letter) {
  const auto it = std::find_if(config.drives.begin(), config.drives.end(),
                               [&](const vn::DriveMapping& d) { return d.letter == letter; });
  return it == config.drives.end() ? nullptr : &*it;
}

const vn::ShareDefinition* FindShare(const vn::MachineConfig& config, const std::string& name) {
  const auto it = std::find_if(config.shares.begin(), config.shares.end(),
                               [&](const vn::ShareDefinition& s) { return s.name == name; });
  return it == config.shares.end() ? nullptr : &*it;
}

TEST(MachineConfigTest, AMinimalFileDescribesAWorkstationOfWorkgroupWithSystemDriveInTheHome) {
  vn::testing::TempMachineHome home;
  WriteText(home.path() / "machine.ini", "[Machine]\nName = testpc\n");
  vn::MachineConfig config;
  std::string error;
  ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
  EXPECT_EQ(config.name, "TESTPC");
  EXPECT_EQ(config.domain, "WORKGROUP");
  EXPECT_EQ(config.role, vn::MachineRole::Workstation);
  EXPECT_EQ(config.listenAddress, "127.0.0.1");
  EXPECT_EQ(config.port, vn::kMachineServicePort);
  EXPECT_EQ(config.hostsFile, home.path() / "hosts");
  EXPECT_TRUE(config.hostResolver);
  ASSERT_TRUE(FindDrive(config, 'C'));
  EXPECT_EQ(FindDrive(config, 'C')->root, "/");
  ASSERT_TRUE(FindDrive(config, 'S'));
  EXPECT_EQ(FindDrive(config, 'S')->root, home.path() / "system");
  EXPECT_EQ(config.windowsDirectory, "S:\\WINNT");
  EXPECT_TRUE(std::is_sorted(config.drives.begin(), config.drives.end(),
                             [](const auto& a, const auto& b) { return a.letter < b.letter; }));
  ASSERT_TRUE(FindShare(config, "ADMIN$"));
  EXPECT_EQ(FindShare(config, "ADMIN$")->root, home.path() / "system" / "WINNT");
  EXPECT_EQ(config.shares.back().name, "IPC$");
}

TEST(MachineConfigTest, EverySettingIsRead) {
  vn::testing::TempMachineHome home;
  const fs::path d = home.path() / "d";
  fs::create_directories(d / "Sub");
  WriteText(home.path() / "machine.ini",
            "; a comment\n"
            "[machine]\n"
            "Name = \"build-07.example.org\"\n"
            "DOMAIN=sales\n"
            "Role = PDC\n"
            "Comment = The sales PDC\n"
            "Listen = [::1]:7200\n"
            "HostsFile = net/hosts\n"
            "hostresolver = No\n"
            "\n"
            "[Drives]\n"
            "d: = " + d.string() + "/, remote, NTFS, Data Disk\n"
            "E = /media/cd, cdrom\n"
            "[Shares]\n"
            "Data = D:\\Sub\\.\\, Remark, with commas\n"
            "Abs = /srv/abs\n"
            "[Limits]\n"
            "streamsperclient = 3\n"
            "StreamsTotal = 40\n"
            "PipesPerClient = \"2\"\n"
            "PipesTotal = 20\n"
            "StreamIdleTimeout = 5\n"
            "PipeIdleTimeout = 86400\n"
            "[Unrelated]\n"
            "Anything = goes\n");
  vn::MachineConfig config;
  std::string error;
  ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
  EXPECT_EQ(config.name, "BUILD-07");
  EXPECT_EQ(config.domain, "SALES");
  EXPECT_EQ(config.role, vn::MachineRole::PrimaryDomainController);
  EXPECT_EQ(config.comment, "The sales PDC");
  EXPECT_EQ(config.listenAddress, "[::1]");
  EXPECT_EQ(config.port, 7200);
  EXPECT_EQ(config.hostsFile, home.path() / "net/hosts");
  EXPECT_FALSE(config.hostResolver);
  // [Drives] replaces the host's drives: C: is "/" unless given, S: is always there.
  ASSERT_EQ(config.drives.size(), 4u);
  EXPECT_EQ(config.drives[0].root, "/");
  EXPECT_EQ(config.drives[1].letter, 'D');
  EXPECT_EQ(config.drives[1].root, d);
  EXPECT_EQ(config.drives[1].type, DRIVE_REMOTE);
  EXPECT_EQ(config.drives[1].fileSystem, "NTFS");
  EXPECT_EQ(config.drives[1].label, "Data Disk");
  EXPECT_EQ(config.drives[2].type, DRIVE_CDROM);
  EXPECT_EQ(config.drives[3].letter, 'S');

  std::vector<std::string> names;
  for (const auto& share : config.shares) names.push_back(share.name);
  // D: is remote and E: a CD-ROM: only the fixed drives get administrative shares.
  EXPECT_EQ(names, (std::vector<std::string>{"Data", "Abs", "C$", "S$", "ADMIN$", "IPC$"}));
  EXPECT_EQ(FindShare(config, "Data")->root, d / "Sub");
  EXPECT_EQ(FindShare(config, "Data")->remark, "Remark, with commas");
  EXPECT_EQ(FindShare(config, "Data")->type, STYPE_DISKTREE);
  EXPECT_EQ(FindShare(config, "Abs")->root, "/srv/abs");
  const vn::ServiceLimits& limits = config.limits;
  EXPECT_EQ(std::tie(limits.streamsPerClient, limits.streamsTotal, limits.pipesPerClient, limits.pipesTotal,
                     limits.streamIdleSeconds, limits.pipeIdleSeconds),
            std::make_tuple(3u, 40u, 2u, 20u, 5u, 86400u));
}

TEST(MachineConfigTest, SpecialSharesAreTheOnesTheConsoleFilterKeepsOrDrops) {
  vn::testing::TempMachineHome home;
  WriteText(home.path() / "machine.ini", "[Drives]\nD = /tmp\n");
  vn::MachineConfig config;
  std::string error;
  ASSERT_TRUE(vn::LoadMachineConfig(home.path(), &config, &error)) << error;
  for (const char* name : {"C$", "D$", "S$", "ADMIN$"}) {
    const auto* share = FindShare(config, name);
    ASSERT_TRUE(share) << name;
    EXPECT_EQ(share->type, 0x80000000u) << name;
  }
  EXPECT_EQ(FindShare(config, "C$")->remark, "Default share");
  EXPECT_EQ(FindShare(config, "ADMIN$")->remark, "Remote Admin");
  const auto* ipc = FindShare(config, "IPC$");
  ASSERT_TRUE(ipc);
  EXPECT_EQ(ipc->type & ~STYPE_SPECIAL, STYPE_IPC);
  EXPECT_NE(ipc->type, 0u);
  EXPECT_NE(ipc->type, 0x80000000u);
  EXPECT_EQ(ipc->remark, "Remote IPC");
}

TEST(MachineConfigTest, MalformedFilesAreRefusedNamingTheLineAndNothingIsFilledIn) {
  struct Case {
    std::string text;
    int line;
    std::string words;  // a part of the message
  };
  const Case cases[] = {
      {"Name=X\n", 1, "outside of a section"},
      {"[Machine\nName=X\n", 1, "']'"},
      {"[Machine]\njustaword\n", 2, "name = value"},
      {"[Machine]\n= value\n", 2, "without a name"},
      {"[Machine]\nName=a\nname=b\n", 3, "twice"},
      {"[Machine]\nColour=blue\n", 2, "Colour"},
      {"[Machine]\nName=bad\x01name\n", 2, "control character"},
      {"[Machine]\nName=a*b\n", 2, "computer name"},
      {"[Machine]\nName=.\n", 2, "computer name"},
      {"[Machine]\nDomain=has.dot\n", 2, "Domain"},
      {"[Machine]\nDomain=ABCDEFGHIJKLMNOP\n", 2, "Domain"},
      {"[Machine]\nRole=king\n", 2, "Role"},
      {"[Machine]\nListen=127.0.0.1:99999\n", 2, "port"},
      {"[Machine]\nListen=127.0.0.1:0\n", 2, "port"},
      {"[Machine]\nListen=127.0.0.1:\n", 2, "port"},
      {"[Machine]\nListen=::1\n", 2, "brackets"},
      {"[Machine]\nListen=[::1\n", 2, "']'"},
      {"[Machine]\nListen=[nonsense]:1\n", 2, "IPv6"},
      {"[Machine]\nListen=300.1.1.1\n", 2, "IPv4"},
      {"[Machine]\nListen=bad host\n", 2, "host name"},
      {"[Machine]\nHostsFile=\n", 2, "HostsFile"},
      {"[Machine]\nHostResolver=maybe\n", 2, "HostResolver \"maybe\" is not yes or no"},
      {"[Machine]\nSystemDrive=C\n", 2, "SystemDrive"},
      {"[Limits]\nStreamsPerClient=0\n", 2, "StreamsPerClient \"0\" is not a number from 1 to 100000"},
      {"[Limits]\nStreamsTotal=-5\n", 2, "StreamsTotal"},
      {"[Limits]\nPipesTotal=100001\n", 2, "PipesTotal"},
      {"[Limits]\nStreamIdleTimeout=2m\n", 2, "StreamIdleTimeout"},
      {"[Limits]\nPipeIdleTimeout=99999999999\n", 2, "PipeIdleTimeout"},
      {"[Limits]\nThreads=4\n", 2, "unknown setting \"Threads\" in [Limits]"},
      {"[Drives]\n1 = /tmp\n", 2, "drive letter"},
      {"[Drives]\nDD = /tmp\n", 2, "drive letter"},
      {"[Drives]\nD = relative/dir\n", 2, "absolute"},
      {"[Drives]\nD =\n", 2, "absolute"},
      {"[Drives]\nD = /tmp, floppy\n", 2, "type"},
      {"[Drives]\nD = /a, fixed, ntfs, label, extra\n", 2, "fields"},
      {"[Drives]\nD = /a\nd: = /b\n", 3, "twice"},
      {"[Drives]\nS = /tmp\n", 2, "system drive"},
      {"[Shares]\nData = Q:\\Data\n", 2, "names no drive"},
      {"[Shares]\nData = relative\n", 2, "absolute"},
      {"[Shares]\nData = C:\\a\\..\\..\\etc\n", 2, ".."},
      {"[Shares]\nData = \"/unterminated\n", 2, "quote"},
      {"[Shares]\nC$ = /tmp\n", 2, "administrative"},
      {"[Shares]\nipc$ = /tmp\n", 2, "administrative"},
      {"[Shares]\nData = /a\nDATA = /b\n", 3, "twice"},
      {"[Shares]\nBad/Name = /a\n", 2, "share name"},
      {"[Shares]\n" + std::string(81, 'x') + " = /a\n", 2, "share name"},
  };
  for (const Case& c : cases) {
    vn::testing::TempMachineHome home;
    WriteText(home.path() / "machine.ini", c.text);
    vn::MachineConfig config;
    config.name = "UNTOUCHED";
    std::string error;
    EXPECT_FALSE(vn::LoadMachineConfig(home.path(), &config, &error)) << c.text;
    EXPECT_NE(error.find("machine.ini:" + std::to_string(c.line) + ":"), std::string::npos) << c.text << error;
    EXPECT_NE(error.find(c.words), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(config.name, "UNTOUCHED") << c.text;
    EXPECT_TRUE(config.drives.empty()) << c.text;
  }
}

TEST(MachineConfigTest, DefaultDrivesComeFromTheMountTable) {
  vn::testing::TempMachineHome home;
  const auto fileMount = home.path() / "a-file";
  WriteText(fileMount, "");
  const auto mountinfo = home.path() / "mountinfo";
  WriteText(mountinfo,
            "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
            "22 26 0:21 / /sys rw,relatime - sysfs sysfs rw\n"
            "26 1 0:52 / / rw,relatime master:1 - overlay overlay rw,lowerdir=/x\n"
            "23 26 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n"
            "24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
            "30 22 0:27 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
            "40 26 8:1 / /data rw,relatime shared:5 - ext4 /dev/sda1 rw\n"
            "41 26 0:60 / /mnt/nfs rw - nfs4 server:/export rw\n"
            "42 26 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
            "43 26 0:61 / /mnt/dev - debugfs debugfs rw\n"
            "this line is not a mount\n"
            "44 26 8:2 / /mnt/with\\040space rw - xfs /dev/sda2 rw\n"
            "45 26 8:1 /hosts " + fileMount.string() + " rw - ext4 /dev/sda1 rw\n"
            "46 26 0:62 / /mnt/ssh rw - fuse.sshfs user@host: rw\n"
            "47 26 8:3 / /data rw - btrfs /dev/sda3 rw\n");
  const auto drives = vn::DefaultDrives(mountinfo);
  struct Expected {
    char letter;
    fs::path root;
    UINT type;
    std::string fileSystem;
  };
  const Expected expected[] = {
      {'C', "/", DRIVE_FIXED, "overlay"},
      {'D', "/data", DRIVE_FIXED, "btrfs"},  // mounted over: the later mount is what is seen
      {'E', "/mnt/nfs", DRIVE_REMOTE, "nfs4"},
      {'F', "/media/cd", DRIVE_CDROM, "CDFS"},
      {'G', "/mnt/with space", DRIVE_FIXED, "xfs"},
      {'H', "/mnt/ssh", DRIVE_REMOTE, "fuse.sshfs"},
  };
  ASSERT_EQ(drives.size(), std::size(expected));
  for (std::size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i].letter, expected[i].letter) << i;
    EXPECT_EQ(drives[i].root, expected[i].root) << i;
    EXPECT_EQ(drives[i].type, expected[i].type) << i;
    EXPECT_EQ(drives[i].fileSystem, expected[i].fileSystem) << i;
  }
  // The system drive's letter is never given to a host file system.
  const auto skipping = vn::DefaultDrives(mountinfo, 'E');
  ASSERT_GE(skipping.size(), 3u);
  EXPECT_EQ(skipping[1].letter, 'D');
  EXPECT_EQ(skipping[2].letter, 'F');
  // No mount table at all still gives C:.
  const auto none = vn::DefaultDrives(home.path() / "missing");
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].root, "/");
}

TEST(MachineConfigTest, TheComputerNameIsReadTheSameWayEverywhere) {
  struct Case {
    std::string ini;
    std::string expected;  // empty = the host name
  };
  const Case cases[] = {
      {"[Machine]\nName = \"quoted\"\n", "QUOTED"},
      {"[MACHINE]\nNAME=upper\n", "UPPER"},
      // A file the service refuses still names the machine for GetComputerNameA.
      {"[Machine]\nName=srv\nRole=king\n", "SRV"},
      {"[Other]\nName=notthis\n", ""},
      {"[Machine\nName=broken\n", ""},
  };
  for (const Case& c : cases) {
    vn::testing::TempMachineHome home;
    WriteText(home.path() / "machine.ini", c.ini);
    if (c.expected.empty()) {
      EXPECT_NE(vn::LocalComputerName(), "NOTTHIS") << c.ini;
      EXPECT_NE(vn::LocalComputerName(), "BROKEN") << c.ini;
      continue;
    }
    EXPECT_EQ(vn::LocalComputerName(), c.expected) << c.ini;
    EXPECT_EQ(vn::ConfiguredComputerName(home.path()), c.expected) << c.ini;
    vn::MachineConfig config;
    std::string error;
    if (vn::LoadMachineConfig(home.path(), &config, &error)) {
      EXPECT_EQ(config.name, c.expected) << c.ini;
    }
  }
}

// Whatever the bytes, loading ends with a configuration or a message.
TEST(MachineConfigTest, ArbitraryTextNeverCrashesTheLoader) {
  const char* pieces[] = {"[Machine]", "[Drives]", "[Shares]", "Name", "Listen", "Role", "=", ",", "\"", "\n",
                          "D:",        "/tmp",     "\\",       "..",   "[",      "]",    ":", "\x01", "\xff", " "};
  std::mt19937 random(7139);
  vn::testing::TempMachineHome home;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    WriteText(home.path() / "machine.ini", text);
    vn::MachineConfig config;
    std::string error;
    if (!vn::LoadMachineConfig(home.path(), &config, &error)) {
      EXPECT_FALSE(error.empty()) << text;
    }
  }
}

}  // namespace
