#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/machine/HostsFile.h"
#include "testing/TempMachineHome.h"

namespace {

TEST(HostsFileTest, LinesGiveNameAddressPortDomainAndRole) {
  struct Case {
    std::string line;
    std::string name;
    std::string address;
    std::uint16_t port;
    std::string domain;
    vn::MachineRole role;
  };
  const Case cases[] = {
      {"127.0.0.1:7201  server1  #DOM:sales  #PDC", "SERVER1", "127.0.0.1", 7201, "SALES",
       vn::MachineRole::PrimaryDomainController},
      {"10.0.0.5 FILES #dom:LAB #bdc # the lab's spare", "FILES", "10.0.0.5", vn::kMachineServicePort, "LAB",
       vn::MachineRole::BackupDomainController},
      {"\t127.0.0.1:7202\tWKS1\t#DOM:SALES\r", "WKS1", "127.0.0.1", 7202, "SALES", vn::MachineRole::Workstation},
      {"[::1]:7300 V6HOST", "V6HOST", "[::1]", 7300, "", vn::MachineRole::Workstation},
      {"[fe80::1] V6NOPORT #PRE", "V6NOPORT", "[fe80::1]", vn::kMachineServicePort, "",
       vn::MachineRole::Workstation},
      {"files.example.org:8000 NAMED # comment #PDC", "NAMED", "files.example.org", 8000, "",
       vn::MachineRole::Workstation},
  };
  for (const Case& c : cases) {
    std::vector<std::string> warnings;
    const auto file = vn::HostsFile::Parse(c.line, &warnings);
    EXPECT_TRUE(warnings.empty()) << c.line << ": " << (warnings.empty() ? "" : warnings[0]);
    ASSERT_EQ(file.Entries().size(), 1u) << c.line;
    const auto& e = file.Entries()[0];
    EXPECT_EQ(e.name, c.name) << c.line;
    EXPECT_EQ(e.address, c.address) << c.line;
    EXPECT_EQ(e.port, c.port) << c.line;
    EXPECT_EQ(e.domain, c.domain) << c.line;
    EXPECT_EQ(e.role, c.role) << c.line;
  }
}

TEST(HostsFileTest, MalformedLinesAreSkippedWithAWarningNamingTheLine) {
  const std::vector<std::string> bad = {
      "127.0.0.1",                           // no name
      "127.0.0.1 # only a comment",          // no name either
      "300.0.0.1 BADADDR",                   // not an address
      "::1 NOBRACKETS",                      // IPv6 without brackets
      "127.0.0.1:70000 BADPORT",             // port out of range
      "127.0.0.1:x BADPORT2",                // port not a number
      "127.0.0.1 ABCDEFGHIJKLMNOP",          // 16 characters
      "127.0.0.1 has.dot",                   // dotted name
      "127.0.0.1 EXTRA word",                // a word that is no mark
      "127.0.0.1 BOTH #DOM:X #PDC #BDC",     // two roles
      "127.0.0.1 NODOM #PDC",                // controller without a domain
      "127.0.0.1 BADDOM #DOM:",              // empty domain
      "127.0.0.1 TWODOM #DOM:A #DOM:B",      // two domains
      std::string("127.0.0.1 NUL\0X", 15),   // control byte
      "127.0.0.1 good",                      // the first GOOD wins...
      "127.0.0.2 GOOD",                      // ...and this one is a duplicate
  };
  std::string text = "# header comment\n\n";
  for (const auto& line : bad) text += line + "\n";
  std::vector<std::string> warnings;
  const auto file = vn::HostsFile::Parse(text, &warnings);
  ASSERT_EQ(file.Entries().size(), 1u);
  EXPECT_EQ(file.Entries()[0].address, "127.0.0.1");
  ASSERT_EQ(warnings.size(), bad.size() - 1);
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    const std::size_t line = i + (i >= 14 ? 4 : 3);  // two header lines; the good line is not warned about
    EXPECT_EQ(warnings[i].rfind(std::to_string(line) + ":", 0), 0u) << warnings[i];
  }
}

TEST(HostsFileTest, WarningsNeverRepeatTheWordsOfALine) {
  const std::string lines[] = {
      "p4ssw0rd!",           "127.0.0.1 p4ss.w0rd",       "127.0.0.1 OK p4ssw0rd", "127.0.0.1 OK2 #DOM:p4ss.w0rd",
      "[p4ssw0rd] X",        "p4ssw0rd:99999 X",          "p4ssw0rd..x Y",
  };
  for (const auto& line : lines) {
    std::vector<std::string> warnings;
    vn::HostsFile::Parse(line, &warnings);
    ASSERT_EQ(warnings.size(), 1u) << line;
    EXPECT_EQ(warnings[0].find("p4ss"), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].rfind("1: ", 0), 0u) << warnings[0];
  }
}

TEST(HostsFileTest, NamesAreFoundWithoutCaseAndDomainsListedInOrder) {
  const auto file = vn::HostsFile::Parse(
      "127.0.0.1:1 B1 #DOM:beta\n127.0.0.1:2 A1 #DOM:ALPHA #PDC\n127.0.0.1:3 B2 #DOM:Beta\n127.0.0.1:4 LONE\n");
  ASSERT_TRUE(file.Find("a1"));
  EXPECT_EQ(file.Find("\\\\a1")->port, 2);
  EXPECT_FALSE(file.Find("A"));
  EXPECT_FALSE(file.Find(""));
  EXPECT_EQ(file.Domains(), (std::vector<std::string>{"BETA", "ALPHA"}));
}

TEST(HostsFileTest, AddressesAndPortsAreCheckedAsListenTakesThem) {
  struct Case {
    std::string text;
    bool ok;
    std::string address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"127.0.0.1", true, "127.0.0.1", vn::kMachineServicePort},
      {"0.0.0.0:1", true, "0.0.0.0", 1},
      {"[::]:65535", true, "[::]", 65535},
      {"localhost:80", true, "localhost", 80},
      {"", false, "", 0},
      {":80", false, "", 0},
      {"1.2.3:80", false, "", 0},
      {"1.2.3.4:65536", false, "", 0},
      {"1.2.3.4:+1", false, "", 0},
      {"[::1]x", false, "", 0},
      {"host..name", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string address = "unchanged";
    std::uint16_t port = 42;
    std::string problem;
    EXPECT_EQ(vn::ParseAddressAndPort(c.text, &address, &port, &problem), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address, c.address) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    } else {
      EXPECT_EQ(address, "unchanged") << c.text;
      EXPECT_FALSE(problem.empty()) << c.text;
    }
  }
}

TEST(HostsFileTest, LoadReadsAFileAndAMissingFileIsEmpty) {
  vn::testing::TempMachineHome home;
  std::ofstream(home.path() / "hosts") << "127.0.0.1:7201 SERVER1 #DOM:SALES\nbroken\n";
  std::vector<std::string> warnings;
  const auto file = vn::HostsFile::Load(home.path() / "hosts", &warnings);
  EXPECT_EQ(file.Entries().size(), 1u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("hosts:2:"), std::string::npos) << warnings[0];
  EXPECT_TRUE(vn::HostsFile::Load(home.path() / "nothing-here").Entries().empty());
}

}  // namespace
