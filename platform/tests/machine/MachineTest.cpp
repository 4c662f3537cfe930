#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/machine/Machine.h"
#include "testing/TempMachineHome.h"

namespace {

TEST(MachineTest, ComputerNameComesFromConfigurationUpperCasedAndShortened) {
  struct Case {
    std::string configured;
    std::string expected;
  };
  const Case cases[] = {
      {"server1", "SERVER1"},
      {"  Mixed-Case  ", "MIXED-CASE"},
      {"averyveryverylongmachinename", "AVERYVERYVERYLO"},
      {"host.example.org", "HOST"},
  };
  for (const Case& c : cases) {
    vn::testing::TempMachineHome home(c.configured);
    EXPECT_EQ(vn::LocalComputerName(), c.expected) << c.configured;
  }
}

TEST(MachineTest, ComputerNameFallsBackToHostName) {
  vn::testing::TempMachineHome home("");
  const std::string name = vn::LocalComputerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  for (char c : name) EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
}

TEST(MachineTest, GetComputerNameReportsTheSizeItNeeds) {
  vn::testing::TempMachineHome home("server1");
  char buffer[16];
  DWORD size = 4;
  EXPECT_EQ(GetComputerNameA(buffer, &size), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, 8u);

  size = sizeof buffer;
  ASSERT_EQ(GetComputerNameA(buffer, &size), TRUE);
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(buffer, "SERVER1");

  size = 8;  // exactly the name and its terminator
  EXPECT_EQ(GetComputerNameA(buffer, &size), TRUE);
  EXPECT_EQ(GetComputerNameA(buffer, nullptr), FALSE);
}

TEST(MachineTest, LocalMachineNameMatchesWithOrWithoutBackslashesInAnyCase) {
  vn::testing::TempMachineHome home("server1");
  EXPECT_TRUE(vn::IsLocalMachineName("SERVER1"));
  EXPECT_TRUE(vn::IsLocalMachineName("server1"));
  EXPECT_TRUE(vn::IsLocalMachineName("\\\\Server1"));
  EXPECT_FALSE(vn::IsLocalMachineName("SERVER12"));
  EXPECT_FALSE(vn::IsLocalMachineName("\\SERVER1"));
  EXPECT_FALSE(vn::IsLocalMachineName(""));
  EXPECT_FALSE(vn::IsLocalMachineName("\\\\"));
}

TEST(MachineTest, HomeFollowsTheEnvironmentUntilSetExplicitly) {
  vn::testing::TempMachineHome home;
  EXPECT_EQ(vn::MachineHome(), home.path());
  {
    vn::testing::TempMachineHome inner("OTHER");
    EXPECT_EQ(vn::MachineHome(), inner.path());
    EXPECT_EQ(vn::LocalComputerName(), "OTHER");
  }
  EXPECT_EQ(vn::MachineHome(), home.path());
  EXPECT_EQ(std::string(std::getenv("VORNAL_HOME")), home.path().string());
}

}  // namespace
