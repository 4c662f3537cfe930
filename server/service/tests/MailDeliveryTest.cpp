// Mail of a finished result against a real SMTP server on loopback (the
// sink): the address checks, the machine's settings from its registry, the
// message as it arrives (envelope, headers, attachments decoded), and every
// way it can fail with the result kept. The last tests run the whole server
// (VNSrv on a test machine) and mail through it.
#include "server/service/MailSender.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <sstream>

#include "platform/core/LastError.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"
#include "server/service/ResultDelivery.h"
#include "server/service/tests/ConsoleChannel.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/SmtpSink.h"
#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;
using vn::KSServerCommunicationReportRec;
using vn::testing::MailHeader;
using vn::testing::MailParts;
using vn::testing::ReadText;
using vn::testing::SinkMessage;
using vn::testing::SmtpSink;
using vn::testing::SmtpSinkOptions;
using vn::vnsrv::MailServerSettings;

const std::string kResult =
    "\"A1\",9,4\r\n"
    "\"B1\",\"All Files\"\r\n"
    "\"H1\",\"FileName\",\"Size\",\"Directory\"\r\n"
    "\"D1\",\"a.txt\",1234567,\"\\\\SRV1\\Data\"\r\n"
    "\"TF\",\"Files\",1,\"Size\",1234567\r\n";

// The mail values of a machine's registry, as its "Mail" page writes them.
void WriteMailSettings(HKEY root, const std::string& server, const std::string& sender, const std::string& user = {},
                       const std::string& password = {}) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, "Software\\Halvard\\Mail", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
  ASSERT_EQ(RegSetValueExA(key, "SMTP Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                           static_cast<DWORD>(server.size() + 1)),
            0);
  ASSERT_EQ(RegSetValueExA(key, "Sender", 0, REG_SZ, reinterpret_cast<const BYTE*>(sender.c_str()),
                           static_cast<DWORD>(sender.size() + 1)),
            0);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(root, "Software\\Halvard\\Vornal\\4.0", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            0);
  BYTE info[81] = {};
  std::memcpy(info, password.data(), std::min<std::size_t>(password.size(), 80));
  ASSERT_EQ(RegSetValueExA(key, "MailProfile", 0, REG_SZ, reinterpret_cast<const BYTE*>(user.c_str()),
                           static_cast<DWORD>(user.size() + 1)),
            0);
  ASSERT_EQ(RegSetValueExA(key, "MailInfo", 0, REG_BINARY, info, sizeof info), 0);
  RegCloseKey(key);
}

KSServerCommunicationReportRec MailRecord(DWORD options, const std::string& to, const std::string& cc,
                                          const std::string& subject) {
  KSServerCommunicationReportRec record;
  record.Report = vn::kReportAllFiles;
  record.Options = options;
  std::snprintf(record.Mail.MailTo, sizeof record.Mail.MailTo, "%s", to.c_str());
  std::snprintf(record.Mail.MailCC, sizeof record.Mail.MailCC, "%s", cc.c_str());
  std::snprintf(record.Mail.MailSubject, sizeof record.Mail.MailSubject, "%s", subject.c_str());
  return record;
}

// The attachment named `name` of a message, decoded; nullopt without one.
std::optional<std::string> Attachment(const SinkMessage& message, const std::string& name) {
  for (const auto& part : MailParts(message.data)) {
    if (part.fileName == name) return part.body;
  }
  return std::nullopt;
}

TEST(MailAddresses, OnlyPlainAddressesPass) {
  for (const char* good : {"ann@example.com", "a.b+c@x.test", "o'neil@sub.domain-1.example", "x@localhost",
                           "!#$%&'*+-/=?^_`{|}~@x.test"}) {
    EXPECT_TRUE(vn::vnsrv::IsMailAddress(good)) << good;
  }
  for (const char* bad : {"", "ann", "@x.test", "ann@", "ann@@x.test", "a@b@c", "ann smith@x.test", "<ann@x.test>",
                          "ann@x.test>", "ann@x..test", ".ann@x.test", "ann.@x.test", "a..b@x.test", "ann@-x.test",
                          "ann@x.test\r\nBcc: eve@x.test", "ann\t@x.test", "\"ann\"@x.test", "ann@x_y.test",
                          "ann,bob@x.test", "ann@x.test;"}) {
    EXPECT_FALSE(vn::vnsrv::IsMailAddress(bad)) << bad;
  }
  std::string tooLong(250, 'a');
  tooLong.append("@x.test");
  EXPECT_FALSE(vn::vnsrv::IsMailAddress(tooLong)) << "longer than 254";
  EXPECT_EQ(vn::vnsrv::SplitAddressList(" ann@x.test ;; bob@x.test,carl@x.test ; "),
            (std::vector<std::string>{"ann@x.test", "bob@x.test", "carl@x.test"}));
  EXPECT_TRUE(vn::vnsrv::SplitAddressList(" ; ").empty());
}

TEST(MailAddresses, SmtpServerIsAHostWithAnOptionalPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    std::uint16_t port;
  };
  for (const Case& c : std::vector<Case>{{"mail.example.com", true, "mail.example.com", 25},
                                         {" 127.0.0.1:2525 ", true, "127.0.0.1", 2525},
                                         {"[::1]:587", true, "::1", 587},
                                         {"[::1]", true, "::1", 25},
                                         {"", false, "", 0},
                                         {":25", false, "", 0},
                                         {"host:", false, "", 0},
                                         {"host:0", false, "", 0},
                                         {"host:65536", false, "", 0},
                                         {"host:25x", false, "", 0},
                                         {"smtp://host", false, "", 0},
                                         {"a host", false, "", 0},
                                         {"[::1", false, "", 0}}) {
    std::string host = "unchanged";
    std::uint16_t port = 1;
    EXPECT_EQ(vn::vnsrv::ParseSmtpServer(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    } else {
      EXPECT_EQ(host, "unchanged") << c.text;
    }
  }
}

class MailDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dir = m_dir.path().toStdString();
    m_result = dir / "R00000001-00000002.csv";
    vn::testing::WriteText(m_result, kResult);
  }

  MailServerSettings Settings(std::uint16_t port) const {
    return {"127.0.0.1", port, "vnsrv@srv1.test", {}, {}};
  }

  // Delivers `record` with `server` as the machine's settings.
  vn::vnsrv::DeliveryOutcome Deliver(const KSServerCommunicationReportRec& record, MailServerSettings server) {
    vn::vnsrv::DeliveryOptions options;
    options.mailServer = [server](std::string*) { return server; };
    m_told.clear();
    return vn::vnsrv::ResultDelivery(options).Deliver({&record, m_result, "SRV1", "All Files"},
                                                      [this](const std::string& text) { m_told.push_back(text); });
  }

  // The one problem of `outcome`, which must also have been told.
  std::string Problem(const vn::vnsrv::DeliveryOutcome& outcome) const {
    EXPECT_EQ(outcome.problems.size(), 1u);
    EXPECT_EQ(m_told, outcome.problems);
    return outcome.problems.empty() ? std::string() : outcome.problems.front();
  }

  QTemporaryDir m_dir;
  fs::path m_result;
  std::vector<std::string> m_told;
};

TEST_F(MailDeliveryTest, TheResultArrivesWithItsRecipientsSubjectAndFormats) {
  SmtpSink sink;
  // A subject beyond ASCII goes in encoded words, each whole characters.
  const std::string subject = "Weekly space: " + std::string(20, 'x') + "Ümlaut ÄÖÜ€ and more";
  const auto record = MailRecord(vn::kOptionCommaDelimited | vn::kOptionHtml, "ann@x.test; bob@x.test",
                                 "carl@y.test", subject);
  const auto outcome = Deliver(record, Settings(sink.Port()));
  ASSERT_TRUE(outcome.problems.empty()) << outcome.problems.front();
  EXPECT_EQ(m_told, std::vector<std::string>{"All Files on SRV1: result mailed to 3 recipients"});
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const SinkMessage& mail = messages[0];
  EXPECT_EQ(mail.from, "vnsrv@srv1.test");
  EXPECT_EQ(mail.to, (std::vector<std::string>{"ann@x.test", "bob@x.test", "carl@y.test"}));
  EXPECT_EQ(mail.user, "") << "no login without a profile";
  EXPECT_EQ(MailHeader(mail.data, "From"), "vnsrv@srv1.test");
  EXPECT_EQ(MailHeader(mail.data, "To"), "ann@x.test, bob@x.test");
  EXPECT_EQ(MailHeader(mail.data, "Cc"), "carl@y.test");
  std::string decoded;
  std::istringstream words(MailHeader(mail.data, "Subject"));
  for (std::string word; words >> word;) {
    ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=") && word.size() <= 75) << word;
    const std::string piece = vn::testing::DecodeBase64(word.substr(10, word.size() - 12));
    EXPECT_NE(static_cast<unsigned char>(piece[0]) & 0xC0, 0x80) << "a word starts inside a character";
    decoded += piece;
  }
  EXPECT_EQ(decoded, subject);
  EXPECT_FALSE(MailHeader(mail.data, "Date").empty());
  EXPECT_EQ(Attachment(mail, "All Files on SRV1.csv"), kResult);
  ASSERT_EQ(outcome.files.size(), 1u);
  EXPECT_EQ(Attachment(mail, "All Files on SRV1.html"), ReadText(outcome.files[0]));
  EXPECT_NE(MailParts(mail.data).at(0).body.find("All Files on SRV1.html"), std::string::npos)
      << "the text lists the attachments";

  // No format chosen, Cc alone, no subject: the result itself, under the
  // report's name.
  const auto second = Deliver(MailRecord(0, "", "dora@x.test", "  "), Settings(sink.Port()));
  ASSERT_TRUE(second.problems.empty()) << second.problems.front();
  ASSERT_EQ(sink.Messages().size(), 2u);
  const SinkMessage copy = sink.Messages()[1];
  EXPECT_EQ(copy.to, std::vector<std::string>{"dora@x.test"});
  EXPECT_EQ(MailHeader(copy.data, "Subject"), "All Files on SRV1");
  EXPECT_EQ(MailHeader(copy.data, "To"), "");
  EXPECT_EQ(Attachment(copy, "All Files on SRV1.csv"), kResult);
  EXPECT_EQ(MailParts(copy.data).size(), 2u) << "the text and the result";

  // No recipient: no mail at all.
  EXPECT_TRUE(Deliver(MailRecord(0, " ; ", "", "x"), Settings(sink.Port())).problems.empty());
  EXPECT_TRUE(m_told.empty());
  EXPECT_EQ(sink.Connections(), 2);
}

TEST_F(MailDeliveryTest, SettingsAndLoginComeFromTheMachinesRegistry) {
  const vn::testing::TempMachineHome home("SRV1");
  SmtpSinkOptions options;
  options.user = "reports";
  options.password = std::string(80, 'p');  // fills MailInfo but its last zero
  SmtpSink sink(options);
  WriteMailSettings(HKEY_LOCAL_MACHINE, " 127.0.0.1:" + std::to_string(sink.Port()), "vnsrv@srv1.test", "reports",
                    options.password);
  std::string problem;
  const MailServerSettings read = vn::vnsrv::ReadMailServerSettings(&problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(read.host, "127.0.0.1");
  EXPECT_EQ(read.port, sink.Port());
  EXPECT_EQ(read.sender, "vnsrv@srv1.test");
  EXPECT_EQ(read.user, "reports");
  EXPECT_EQ(read.password, options.password);

  // The delivery's own default reads them at each mail.
  const auto record = MailRecord(vn::kOptionCommaDelimited, "ann@x.test", "", "s");
  vn::vnsrv::DeliveryOutcome outcome =
      vn::vnsrv::ResultDelivery().Deliver({&record, m_result, "SRV1", "All Files"}, [](const std::string&) {});
  ASSERT_TRUE(outcome.problems.empty()) << outcome.problems.front();
  ASSERT_EQ(sink.Messages().size(), 1u);
  EXPECT_EQ(sink.Messages()[0].user, "reports");
  EXPECT_EQ(sink.Messages()[0].password, options.password);

  // A wrong password: the server refuses the login, nothing is sent.
  WriteMailSettings(HKEY_LOCAL_MACHINE, "127.0.0.1:" + std::to_string(sink.Port()), "vnsrv@srv1.test", "reports",
                    "wrong");
  outcome = vn::vnsrv::ResultDelivery().Deliver({&record, m_result, "SRV1", "All Files"}, [](const std::string&) {});
  ASSERT_EQ(outcome.problems.size(), 1u);
  EXPECT_NE(outcome.problems[0].find("refused the login of reports"), std::string::npos) << outcome.problems[0];
  EXPECT_EQ(sink.Messages().size(), 1u);

  // A server value that is not a host: said so, nothing tried.
  WriteMailSettings(HKEY_LOCAL_MACHINE, "mail host:25", "vnsrv@srv1.test");
  outcome = vn::vnsrv::ResultDelivery().Deliver({&record, m_result, "SRV1", "All Files"}, [](const std::string&) {});
  ASSERT_EQ(outcome.problems.size(), 1u);
  EXPECT_EQ(outcome.problems[0],
            "The mail of All Files on SRV1 was not sent: the SMTP server \"mail host:25\" is not a host or host:port.");
}

TEST_F(MailDeliveryTest, ABadAddressIsRefusedBeforeAnythingIsSent) {
  SmtpSink sink;
  struct Case {
    const char* to;
    const char* cc;
    const char* sender;
    const char* said;
  };
  for (const Case& c : std::vector<Case>{
           {"ann@x.test; bob", "", "vnsrv@srv1.test", "\"bob\" is not a mail address"},
           {"ann@x.test", "Carl <carl@x.test>", "vnsrv@srv1.test", "\"Carl <carl@x.test>\" is not a mail address"},
           {"ann@x.test\x01", "", "vnsrv@srv1.test", "\"ann@x.test \" is not a mail address"},
           {"ann@x.test", "", "VNSrv on SRV1", "the sender \"VNSrv on SRV1\" is not a mail address"},
           {"ann@x.test", "", "", "no sender is set (\"Sender\" under Software\\Halvard\\Mail)"}}) {
    MailServerSettings settings = Settings(sink.Port());
    settings.sender = c.sender;
    const std::string problem = Problem(Deliver(MailRecord(vn::kOptionHtml, c.to, c.cc, "s"), settings));
    EXPECT_EQ(problem, "The mail of All Files on SRV1 was not sent: " + std::string(c.said) + ".") << c.to;
  }
  MailServerSettings none = Settings(sink.Port());
  none.host.clear();
  EXPECT_EQ(Problem(Deliver(MailRecord(0, "ann@x.test", "", "s"), none)),
            "The mail of All Files on SRV1 was not sent: no SMTP server is set (\"SMTP Server\" under "
            "Software\\Halvard\\Mail).");
  EXPECT_EQ(sink.Connections(), 0) << "the sink was reached";
  EXPECT_EQ(ReadText(m_result), kResult);
}

TEST_F(MailDeliveryTest, AServerThatRefusesOrIsDownIsReportedAndTheResultKept) {
  SmtpSinkOptions refusing;
  refusing.refusedRecipients = {"bob@x.test"};
  SmtpSink picky(refusing);
  std::string problem =
      Problem(Deliver(MailRecord(vn::kOptionHtml, "ann@x.test;bob@x.test", "", "s"), Settings(picky.Port())));
  EXPECT_EQ(problem,
            "The mail of All Files on SRV1 was not sent: the mail server refused a recipient: 550 5.1.1 <bob@x.test> "
            "no such user here.");
  EXPECT_TRUE(picky.Messages().empty()) << "nobody gets it";

  SmtpSinkOptions closed;
  closed.refuseMessages = true;
  SmtpSink full(closed);
  problem = Problem(Deliver(MailRecord(0, "ann@x.test", "", "s"), Settings(full.Port())));
  EXPECT_EQ(problem,
            "The mail of All Files on SRV1 was not sent: the mail server refused the message: 554 5.6.0 Message "
            "refused by the sink.");

  // A port nobody listens on any more.
  std::uint16_t port = 0;
  {
    SmtpSink gone;
    port = gone.Port();
  }
  problem = Problem(Deliver(MailRecord(0, "ann@x.test", "", "s"), Settings(port)));
  EXPECT_EQ(problem, "The mail of All Files on SRV1 was not sent: the SMTP server (127.0.0.1:" + std::to_string(port) +
                         ") cannot be reached.");
  EXPECT_EQ(ReadText(m_result), kResult);
}

// The whole server: VNSrv on SRV1 mails through the sink with SRV1's
// settings; this process is the console.
class ServerMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_srv1 = &m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(m_net.StartAll());
    ASSERT_TRUE(m_net.Start("CONSOLE"));
    m_service = vn::testing::InstallReportServer(*m_srv1, VN_VNSRV);
    ASSERT_NE(m_service, nullptr) << GetLastError();
    ASSERT_TRUE(vn::testing::StartReportServer(m_service, "SRV1")) << GetLastError();
    const fs::path tree = m_srv1->ShareDir("Data") / "tree";
    fs::create_directories(tree);
    vn::testing::WriteText(tree / "a.txt", "12345");
  }

  void TearDown() override {
    if (!m_service) return;
    EXPECT_TRUE(vn::testing::StopReportServer(m_service));
    CloseServiceHandle(m_service);
  }

  void WriteSrv1Settings(const std::string& server) {
    HKEY remote = nullptr;
    ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), 0);
    WriteMailSettings(remote, server, "vnsrv@srv1.test");
    RegCloseKey(remote);
  }

  // Runs the record on SRV1's tree; the reply's message, and the result
  // fetched and deleted into *result.
  std::string Run(KSServerCommunicationReportRec record, vn::testing::ConsoleChannel& console, std::string* result) {
    std::snprintf(record.PipeName, sizeof record.PipeName, "%s", console.RemoteName().c_str());
    vn::KSCli client;
    EXPECT_EQ(client.Connect("SRV1"), 0u);
    vn::KSServerCommunicationOutputRec output{};
    EXPECT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
    vn::KSServerCommunicationFileRec file{};
    int unused = 0;
    while (client.ProcessFile(&output, &file, &unused) == 0) result->append(file.Data, file.Count);
    client.DeleteServerFile(&output, &file);
    return output.Message;
  }

  vn::testing::MachineNetwork m_net;
  const vn::testing::TestMachine* m_srv1 = nullptr;
  SC_HANDLE m_service = nullptr;
};

TEST_F(ServerMailTest, TheServerMailsItsResultAndReportsWhatFailed) {
  SmtpSink sink;
  WriteSrv1Settings("127.0.0.1:" + std::to_string(sink.Port()));
  vn::testing::ConsoleChannel console;
  std::string result;
  const auto record = MailRecord(vn::kOptionCommaDelimited | vn::kOptionAscii, "ann@x.test", "bob@x.test", "");
  EXPECT_EQ(Run(record, console, &result), "");
  ASSERT_EQ(sink.Messages().size(), 1u);
  const SinkMessage mail = sink.Messages()[0];
  EXPECT_EQ(mail.to, (std::vector<std::string>{"ann@x.test", "bob@x.test"}));
  EXPECT_EQ(MailHeader(mail.data, "Subject"), "All Files on SRV1");
  EXPECT_EQ(Attachment(mail, "All Files on SRV1.csv"), result) << "the result the console fetched";
  EXPECT_NE(Attachment(mail, "All Files on SRV1.txt").value_or("").find("a.txt"), std::string::npos);
  EXPECT_TRUE(vn::testing::WaitUntil([&] {
    const auto texts = console.Texts();
    return std::find(texts.begin(), texts.end(), "All Files on SRV1: result mailed to 2 recipients") != texts.end();
  }));

  // Refused: said in the reply and on the progress channel; the result is
  // fetched all the same.
  sink.Stop();
  SmtpSinkOptions refusing;
  refusing.refuseMessages = true;
  SmtpSink picky(refusing);
  WriteSrv1Settings("127.0.0.1:" + std::to_string(picky.Port()));
  result.clear();
  const std::string said =
      "The mail of All Files on SRV1 was not sent: the mail server refused the message: 554 5.6.0 Message refused by "
      "the sink.";
  EXPECT_EQ(Run(record, console, &result), said);
  EXPECT_NE(result.find("a.txt"), std::string::npos) << result;
  EXPECT_TRUE(vn::testing::WaitUntil([&] {
    const auto texts = console.Texts();
    return std::find(texts.begin(), texts.end(), said) != texts.end();
  }));
}

}  // namespace
