#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "platform/machine/Profile.h"
#include "testing/TempMachineHome.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void TearDown() override { vn::SetProfileApplication(QStringLiteral("VNMgr")); }
  vn::testing::TempMachineHome m_home;
};

TEST_F(ProfileTest, LivesUnderTheMachineHomeNamedAfterTheApplication) {
  EXPECT_EQ(vn::ProfilePath(), QString::fromStdString((m_home.path() / "profile/VNMgr.ini").string()));
  vn::SetProfileApplication(QStringLiteral("VN"));
  EXPECT_TRUE(vn::ProfilePath().endsWith(QStringLiteral("/profile/VN.ini")));
}

TEST_F(ProfileTest, MissingValuesGiveTheCallersDefault) {
  EXPECT_EQ(GetProfileInt("VNMgr", "ShowReportInfo", 1), 1u);
  EXPECT_EQ(GetProfileInt("VNMgr", "ShowReportInfo", 0), 0u);
  EXPECT_EQ(GetProfileString("KSMgrFrame", "Placement", QStringLiteral("none")), QStringLiteral("none"));
  EXPECT_FALSE(QFile::exists(vn::ProfilePath())) << "reading must not create the profile";
}

TEST_F(ProfileTest, WrittenValuesReachTheFileAtOnce) {
  ASSERT_EQ(WriteProfileInt("Management", "Confirm_Delete", 0), TRUE);
  ASSERT_EQ(WriteProfileString("VNMgr", "Preferred Machines", QStringLiteral("SERVER1;SERVER2")), TRUE);
  EXPECT_EQ(GetProfileInt("Management", "Confirm_Delete", 1), 0u);
  EXPECT_EQ(GetProfileString("VNMgr", "Preferred Machines"), QStringLiteral("SERVER1;SERVER2"));

  // Another process reading the file sees the values with their sections.
  QSettings file(vn::ProfilePath(), QSettings::IniFormat);
  EXPECT_EQ(file.value(QStringLiteral("Management/Confirm_Delete")).toInt(), 0);
  EXPECT_EQ(file.childGroups(), (QStringList{QStringLiteral("Management"), QStringLiteral("VNMgr")}));
}

TEST_F(ProfileTest, ValueThatIsNotANumberGivesTheDefault) {
  ASSERT_TRUE(WriteProfileString("VNMgr", "VNWIZARD_POPUP", QStringLiteral("yes")));
  EXPECT_EQ(GetProfileInt("VNMgr", "VNWIZARD_POPUP", 1), 1u);
  ASSERT_TRUE(WriteProfileInt("VNMgr", "VNWIZARD_POPUP", -1));
  EXPECT_EQ(static_cast<int>(GetProfileInt("VNMgr", "VNWIZARD_POPUP", 1)), -1);
}

}  // namespace
