// What the server property pages read and write, on a machine of the test
// harness with the server pushed there: the service row through the real
// service manager, the auditing switch, the mail settings.
#include <gtest/gtest.h>

#include "console/core/deploy/ServerDeploy.h"
#include "console/core/deploy/ServerService.h"
#include "console/core/serverprops/ServerProperties.h"
#include "console/core/tests/deploy/DeployTestNetwork.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"

namespace {

using namespace vn::console;

TEST(ServerPropertiesRules, StateAndAuditingTexts) {
  struct Case {
    DWORD state;
    const char* text;
    bool running;
  };
  const Case cases[] = {{SERVICE_STOPPED, "Stopped", false},      {SERVICE_START_PENDING, "Running", true},
                        {SERVICE_STOP_PENDING, "Stopped", false}, {SERVICE_RUNNING, "Running", true},
                        {SERVICE_CONTINUE_PENDING, "Pending", false}, {SERVICE_PAUSE_PENDING, "Paused", false},
                        {SERVICE_PAUSED, "Paused", false}};
  for (const auto& c : cases) {
    bool running = !c.running;
    EXPECT_EQ(ServiceStateText(c.state, &running), c.text) << c.state;
    EXPECT_EQ(running, c.running) << c.state;
  }
  EXPECT_TRUE(IsAuditingEnabled("Enabled"));
  EXPECT_TRUE(IsAuditingEnabled("Logging Enabled since May"));
  EXPECT_FALSE(IsAuditingEnabled("Disabled"));
  EXPECT_FALSE(IsAuditingEnabled("enabled"));
  EXPECT_FALSE(IsAuditingEnabled(""));
  EXPECT_EQ(FormatVersionText("4.0", "434", "Linux x86_64"), "Application Version 4.0 (Build 434) Linux x86_64");
}

class ServerPropertiesTest : public ::testing::Test {
 protected:
  ServerPropertiesTest() : m_net({"SRV1", "SRV2"}) {}
  void SetUp() override {
    PushInstall("SRV1", m_front);
    ASSERT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  }
  vn::testing::DeployTestNetwork m_net;
  vn::testing::RecordingFront m_front;
};

TEST_F(ServerPropertiesTest, ServiceRowFollowsTheRealServiceAndAuditing) {
  ASSERT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_RUNNING));
  ServerServiceRow row = ReadServerServiceRow("SRV1");
  EXPECT_TRUE(row.valid);
  EXPECT_TRUE(row.running);
  EXPECT_EQ(row.state, "Running");
  EXPECT_EQ(row.auditingText, "Disabled");
  EXPECT_EQ(row.status, "");

  ASSERT_EQ(StopServerService("SRV1"), 0u);
  ASSERT_TRUE(vn::testing::WaitForServiceState("SRV1", SERVICE_STOPPED));
  RefreshServiceState("SRV1", &row);
  EXPECT_FALSE(row.running);
  EXPECT_EQ(row.state, "Stopped");
  EXPECT_EQ(StopServerService("SRV1"), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

  ASSERT_EQ(WriteServerLogging("SRV1", true), ERROR_SUCCESS);
  EXPECT_EQ(vn::testing::RegText("SRV1", kProductKey, "ServerLogging"), "Enabled");
  ASSERT_EQ(StartServerService("SRV1"), 0u);
  row = ReadServerServiceRow("SRV1");
  EXPECT_TRUE(row.running);
  EXPECT_TRUE(row.auditing);
  EXPECT_EQ(row.auditingText, "Enabled");

  // A machine with the product key but no service, and one without either.
  ASSERT_EQ(vn::testing::RegPutText("SRV2", kProductKey, "ServerLogging", "Disabled"), ERROR_SUCCESS);
  row = ReadServerServiceRow("SRV2");
  EXPECT_TRUE(row.valid);
  EXPECT_EQ(row.state, "Stopped");
  EXPECT_EQ(row.status, "Not Installed");
  EXPECT_NE(StartServerService("SRV2"), 0u);
  EXPECT_FALSE(ReadServerServiceRow("NOSUCH").valid);
  EXPECT_NE(WriteServerLogging("NOSUCH", true), ERROR_SUCCESS);
}

TEST_F(ServerPropertiesTest, MailSettingsRoundTripWithTheZeroPaddedPassword) {
  ServerMailSettings settings;
  ASSERT_EQ(ReadServerMail("SRV1", &settings), ERROR_SUCCESS);
  EXPECT_EQ(settings.smtpServer, "mail.testdom") << "copied from the console by the install";
  EXPECT_EQ(settings.sender, "vornal@testdom");
  EXPECT_EQ(settings.profile, "Operators");
  EXPECT_EQ(settings.password, "");

  struct Case {
    std::string password;
    std::string stored;  // what the 81 bytes hold before the zero bytes
  };
  const Case cases[] = {{"pw", "pw"}, {std::string(80, 'p'), std::string(80, 'p')},
                        {std::string(90, 'q'), std::string(80, 'q')}, {"", ""}};
  for (const auto& c : cases) {
    settings = {"Night shift", c.password, "smtp.other", "ops@other"};
    ASSERT_EQ(WriteServerMail("SRV1", settings), ERROR_SUCCESS);
    HKEY root = nullptr, key = nullptr;
    ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(root, kProductKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE info[200] = {};
    DWORD type = 0, size = sizeof info;
    ASSERT_EQ(RegQueryValueExA(key, "MailInfo", nullptr, &type, info, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    RegCloseKey(root);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, 81u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info), c.stored.size()), c.stored);
    for (std::size_t i = c.stored.size(); i < 81; ++i) EXPECT_EQ(info[i], 0) << i;

    ServerMailSettings back;
    ASSERT_EQ(ReadServerMail("SRV1", &back), ERROR_SUCCESS);
    EXPECT_EQ(back.password, c.stored);
    EXPECT_EQ(back.profile, "Night shift");
    EXPECT_EQ(back.smtpServer, "smtp.other");
    EXPECT_EQ(back.sender, "ops@other");
  }
  EXPECT_NE(WriteServerMail("NOSUCH", settings), ERROR_SUCCESS);
  EXPECT_NE(ReadServerMail("NOSUCH", &settings), ERROR_SUCCESS);
}

}  // namespace
