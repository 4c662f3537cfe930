#include "platform/machine/DomainIdentity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ReadText;
using vn::testing::TempMachineHome;
using vn::testing::WriteText;

// Whether `text` shows any of the base64 lines of the private key in `keyPem`.
bool ShowsKey(const std::string& text, const std::string& keyPem) {
  std::size_t start = keyPem.find('\n');
  while (start != std::string::npos && start + 1 < keyPem.size()) {
    const std::size_t end = keyPem.find('\n', start + 1);
    const std::string line = keyPem.substr(start + 1, end - start - 1);
    if (line.size() >= 16 && !line.starts_with("-----") && text.find(line.substr(0, 16)) != std::string::npos)
      return true;
    start = end;
  }
  return text.find("PRIVATE KEY") != std::string::npos;
}

TEST(DomainIdentityTest, AnAuthorityIssuesABundleThatJoinsOnlyTheMachineItNames) {
  TempMachineHome authorityHome("SRV1");
  TempMachineHome newHome("SRV2");
  TempMachineHome otherHome("SRV3");
  std::string error;
  ASSERT_TRUE(vn::CreateDomainAuthority(authorityHome.path(), "sales", "SRV1", &error)) << error;
  // One authority per domain and home: a second one would split the domain.
  EXPECT_FALSE(vn::CreateDomainAuthority(authorityHome.path(), "SALES", "SRV1", &error));
  EXPECT_NE(error.find("exists"), std::string::npos) << error;

  const fs::path bundle = authorityHome.path() / "srv2.pem";
  ASSERT_TRUE(vn::IssueMachineBundle(authorityHome.path(), "SALES", "srv2", bundle, &error)) << error;
  struct stat st{};
  ASSERT_EQ(::stat(bundle.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A bundle is never written over.
  EXPECT_FALSE(vn::IssueMachineBundle(authorityHome.path(), "SALES", "SRV2", bundle, &error));
  // Nor issued for a name no machine can have, nor from an authority the home does not hold.
  EXPECT_FALSE(vn::IssueMachineBundle(authorityHome.path(), "SALES", "../x", authorityHome.path() / "b1", &error));
  EXPECT_FALSE(vn::IssueMachineBundle(authorityHome.path(), "LAB", "SRV2", authorityHome.path() / "b2", &error));
  EXPECT_FALSE(fs::exists(authorityHome.path() / "b1") || fs::exists(authorityHome.path() / "b2"));

  // Another machine cannot take it; the machine it names can.
  std::string domain;
  EXPECT_FALSE(vn::InstallMachineBundle(otherHome.path(), "SRV3", bundle, &domain, &error));
  EXPECT_NE(error.find("issued for SRV2"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(vn::IdentityFile(otherHome.path(), "SALES")));
  ASSERT_TRUE(vn::InstallMachineBundle(newHome.path(), "SRV2", bundle, &domain, &error)) << error;
  EXPECT_EQ(domain, "SALES");

  vn::DomainCredentials joined, own;
  ASSERT_TRUE(vn::LoadCredentials(newHome.path(), "SALES", &joined, &error)) << error;
  ASSERT_TRUE(vn::LoadCredentials(authorityHome.path(), "SALES", &own, &error)) << error;
  EXPECT_EQ(joined.machine, "SRV2");
  EXPECT_EQ(own.machine, "SRV1");
  EXPECT_EQ(joined.authorityPem, own.authorityPem);
  EXPECT_EQ(vn::LoadAllCredentials(newHome.path(), nullptr).count("SALES"), 1u);

  // Each member checks the other's certificate against the domain's.
  const vn::MemberCheck members("SALES", own.authorityPem);
  EXPECT_EQ(members.Verify(joined.certificatePem), "SRV2");
  EXPECT_EQ(members.Verify(own.certificatePem), "SRV1");
  EXPECT_EQ(members.Verify(joined.certificatePem), "SRV2");   // remembered, same answer

  // The same names from another authority, a member of another domain, and
  // things that are no certificate at all are nobody.
  vn::DomainAuthority impostor, lab;
  vn::DomainCredentials forged, labMember;
  ASSERT_TRUE(vn::CreateAuthority("SALES", &impostor, &error) && vn::IssueCredentials(impostor, "SRV2", &forged, &error));
  ASSERT_TRUE(vn::CreateAuthority("LAB", &lab, &error) && vn::IssueCredentials(lab, "SRV2", &labMember, &error));
  EXPECT_EQ(members.Verify(forged.certificatePem), std::nullopt);
  EXPECT_EQ(members.Verify(labMember.certificatePem), std::nullopt);
  EXPECT_EQ(members.Verify(own.authorityPem), std::nullopt);   // the authority itself is no machine
  EXPECT_EQ(members.Verify("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"), std::nullopt);
  EXPECT_EQ(members.Verify(""), std::nullopt);
  // A member of LAB is one there: the check is per domain.
  EXPECT_EQ(vn::MemberCheck("LAB", lab.certificatePem).Verify(labMember.certificatePem), "SRV2");
  EXPECT_EQ(vn::MemberCheck("LAB", "not a certificate").Verify(labMember.certificatePem), std::nullopt);
}

TEST(DomainIdentityTest, UnsafeOrBrokenIdentitiesAreRefusedWithoutShowingTheirKeys) {
  std::string error;
  vn::DomainAuthority sales, impostor;
  vn::DomainCredentials good, forged;
  ASSERT_TRUE(vn::CreateAuthority("SALES", &sales, &error) && vn::IssueCredentials(sales, "SRV2", &good, &error));
  ASSERT_TRUE(vn::CreateAuthority("SALES", &impostor, &error) &&
              vn::IssueCredentials(impostor, "SRV2", &forged, &error));
  const std::string text = vn::CredentialsText(good);
  vn::DomainCredentials swappedKey = good;
  swappedKey.keyPem = forged.keyPem;
  vn::DomainCredentials wrongAuthority = forged;
  wrongAuthority.authorityPem = good.authorityPem;

  struct Case {
    const char* what;
    std::string content;
    mode_t mode;
    uid_t owner;
    bool link;
    const char* words;   // in the error
  } cases[] = {
      {"readable by others", text, 0644, 0, false, "chmod 600"},
      {"readable by the group", text, 0640, 0, false, "chmod 600"},
      {"owned by another user", text, 0600, 65534, false, "belong to this service's user"},
      {"a link to a good file", text, 0600, 0, true, "/SALES.pem"},
      {"not PEM", "SALES=correct horse battery\n", 0600, 0, false, "not an identity"},
      {"truncated", text.substr(0, text.size() / 2), 0600, 0, false, "not an identity"},
      {"a key of another certificate", vn::CredentialsText(swappedKey), 0600, 0, false, "does not belong"},
      {"a certificate the domain did not issue", vn::CredentialsText(wrongAuthority), 0600, 0, false,
       "not issued by its domain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachineHome home("SRV2");
    const fs::path file = vn::IdentityFile(home.path(), "SALES");
    fs::create_directories(file.parent_path());
    if (c.link) {
      const fs::path real = home.path() / "real.pem";
      ASSERT_TRUE(vn::WriteCredentials(home.path(), good, &error)) << error;
      fs::rename(file, real);
      fs::create_symlink(real, file);
    } else {
      WriteText(file, c.content);
      ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
      if (c.owner != 0) {
        ASSERT_EQ(::chown(file.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
      }
    }
    vn::DomainCredentials loaded;
    bool missing = true;
    EXPECT_FALSE(vn::LoadCredentials(home.path(), "SALES", &loaded, &error, &missing));
    EXPECT_FALSE(missing);
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
    EXPECT_FALSE(ShowsKey(error, good.keyPem) || ShowsKey(error, forged.keyPem)) << error;
    EXPECT_EQ(error.find("correct horse"), std::string::npos) << error;
    // The same file offered as a bundle installs nothing; the service does
    // not start on it either (EnsureMachineIdentity refuses to replace it).
    std::string domain;
    TempMachineHome other("SRV2");
    EXPECT_FALSE(vn::InstallMachineBundle(other.path(), "SRV2", file, &domain, &error));
    EXPECT_FALSE(fs::exists(vn::IdentityFile(other.path(), "SALES")));
    std::string note;
    EXPECT_FALSE(vn::EnsureMachineIdentity(home.path(), "SRV2", "SALES", &note, &error));
    EXPECT_FALSE(fs::exists(vn::AuthorityFile(home.path(), "SALES")));
  }
}

TEST(DomainIdentityTest, AMachineOnItsOwnBecomesItsDomainsAuthorityOnce) {
  TempMachineHome home("SRV1");
  std::string note, error;
  ASSERT_TRUE(vn::EnsureMachineIdentity(home.path(), "SRV1", "SALES", &note, &error)) << error;
  EXPECT_NE(note.find("created the certificate authority of domain SALES"), std::string::npos) << note;
  const std::string first = ReadText(vn::IdentityFile(home.path(), "SALES"));
  ASSERT_TRUE(vn::EnsureMachineIdentity(home.path(), "SRV1", "SALES", &note, &error)) << error;
  EXPECT_TRUE(note.empty()) << note;
  EXPECT_EQ(ReadText(vn::IdentityFile(home.path(), "SALES")), first);
  // Its identity lost, the authority issues a new one rather than a new authority.
  const std::string authority = ReadText(vn::AuthorityFile(home.path(), "SALES"));
  fs::remove(vn::IdentityFile(home.path(), "SALES"));
  ASSERT_TRUE(vn::EnsureMachineIdentity(home.path(), "SRV1", "SALES", &note, &error)) << error;
  EXPECT_NE(note.find("issued"), std::string::npos) << note;
  EXPECT_EQ(ReadText(vn::AuthorityFile(home.path(), "SALES")), authority);
  // Renamed, the machine no longer matches its identity: said, not papered over.
  EXPECT_FALSE(vn::EnsureMachineIdentity(home.path(), "SRV9", "SALES", &note, &error));
  EXPECT_NE(error.find("the identity of SRV1, not of SRV9"), std::string::npos) << error;
}

}  // namespace
