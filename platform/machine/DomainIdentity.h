#pragma once
// Machine identities: how the machines of a domain prove to each other that
// they belong to it. Each domain has a certificate authority (an EC P-256 key
// and a self-signed certificate whose organisation is the domain's name); each
// member machine has a key and a certificate issued by it, naming the machine
// (common name and DNS name) and the domain (organisation). The machine
// service presents its certificate to every caller and asks each caller for
// one of its own domain's; a console that manages several domains holds one
// identity for each (docs/protocol.md).
//
// Files in the machine home (docs/machine-home.md), all private to the
// service's user (mode 0600, owned by it; anything else is refused unread):
//   identity/<DOMAIN>.pem   this machine's certificate in DOMAIN, the
//                           domain's certificate and this machine's key
//   authority/<DOMAIN>.pem  the domain's certificate and key: only on the
//                           machine that issues identities for the domain
// A bundle issued for a new machine has the identity file's format.
//
// Errors are messages naming the file and the problem; they never hold key
// material. Threads: the functions are safe from any thread; a MemberCheck may
// be shared between threads.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vn {

// A domain's certificate authority, in memory (PEM texts).
struct DomainAuthority {
  std::string domain;           // upper case
  std::string certificatePem;
  std::string keyPem;
};

// One machine's identity in one domain (PEM texts).
struct DomainCredentials {
  std::string domain;           // upper case
  std::string machine;          // the computer name the certificate names
  std::string authorityPem;     // the domain's certificate: whom to trust
  std::string certificatePem;   // this machine's certificate
  std::string keyPem;           // this machine's private key
};

// Creates a new authority for `domain`, in memory.
[[nodiscard]] bool CreateAuthority(std::string_view domain, DomainAuthority* authority, std::string* error);
// Issues a key and certificate for `machine` (a computer name) in the
// authority's domain, in memory.
[[nodiscard]] bool IssueCredentials(const DomainAuthority& authority, std::string_view machine,
                                    DomainCredentials* credentials, std::string* error);
// The text of an identity file or bundle.
std::string CredentialsText(const DomainCredentials& credentials);
// Reads an identity file's text and checks it: the certificate issued by the
// domain's certificate, the key belonging to it. `what` names the source in
// messages.
[[nodiscard]] bool ParseCredentials(std::string_view text, const std::string& what, DomainCredentials* credentials,
                                    std::string* error);

std::filesystem::path IdentityFile(const std::filesystem::path& home, std::string_view domain);
std::filesystem::path AuthorityFile(const std::filesystem::path& home, std::string_view domain);

// --- The administrator's steps (vnmachined options; docs/protocol.md) ---

// Creates the authority of `domain` in `home` and this machine's own identity
// in it (`machine` is this machine's computer name). Fails when the home
// already holds an authority for the domain.
[[nodiscard]] bool CreateDomainAuthority(const std::filesystem::path& home, std::string_view domain,
                                         std::string_view machine, std::string* error);
// On the machine holding the authority of `domain`: issues an identity for
// the machine `machine` into the new file `bundle` (mode 0600). The bundle
// holds a private key: move it to the new machine privately and delete it.
[[nodiscard]] bool IssueMachineBundle(const std::filesystem::path& home, std::string_view domain,
                                      std::string_view machine, const std::filesystem::path& bundle,
                                      std::string* error);
// On the new machine (computer name `machine`): checks the bundle (private,
// issued for this machine, certificate and key belonging together) and
// installs it as this machine's identity in the bundle's domain, replacing
// an older one. *domain is the bundle's domain.
[[nodiscard]] bool InstallMachineBundle(const std::filesystem::path& home, std::string_view machine,
                                        const std::filesystem::path& bundle, std::string* domain, std::string* error);

// --- Use ---

// Writes an identity file (beside and renamed into place, mode 0600).
[[nodiscard]] bool WriteCredentials(const std::filesystem::path& home, const DomainCredentials& credentials,
                                    std::string* error);
// Reads this machine's identity in `domain`. *missing (when given) tells a
// home without one from a broken or unsafe file.
[[nodiscard]] bool LoadCredentials(const std::filesystem::path& home, std::string_view domain,
                                   DomainCredentials* credentials, std::string* error, bool* missing = nullptr);
// Every identity of the home, by domain; files that cannot be used are left
// out and their problems added to *problems.
std::map<std::string, DomainCredentials> LoadAllCredentials(const std::filesystem::path& home,
                                                            std::vector<std::string>* problems);
// Gives a machine its identity in its own domain when it has none: issued by
// the domain's authority in the home, or, with no authority there, by a new
// one (a machine on its own is the authority of its domain). *note says what
// was created (empty when nothing was).
[[nodiscard]] bool EnsureMachineIdentity(const std::filesystem::path& home, std::string_view machine,
                                         std::string_view domain, std::string* note, std::string* error);

// Whether a peer's certificate was issued by one domain's authority, and the
// machine it names. Results are remembered (a few hundred certificates), so
// checking the certificate of each call of a connection costs a lookup.
class MemberCheck {
 public:
  // `authorityPem` is the domain's certificate; a check of a malformed one
  // refuses everything.
  MemberCheck(std::string domain, const std::string& authorityPem);
  ~MemberCheck();
  MemberCheck(const MemberCheck&) = delete;
  MemberCheck& operator=(const MemberCheck&) = delete;

  // The machine named by `certificatePem` when the domain's authority issued
  // it (and it is valid now), else nullopt.
  std::optional<std::string> Verify(std::string_view certificatePem) const;

 private:
  struct Store;
  std::string m_domain;
  std::unique_ptr<Store> m_store;
  mutable std::mutex m_mutex;
  mutable std::map<std::string, std::optional<std::string>, std::less<>> m_known;
};

}  // namespace vn
