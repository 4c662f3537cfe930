#include "platform/machine/DomainIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/core/AsciiText.h"
#include "platform/core/UniqueFd.h"
#include "platform/machine/Pem.h"

namespace vn {
namespace {

namespace fs = std::filesystem;
using namespace pem;

// An identity file is a few kilobytes; anything this big is not one.
constexpr off_t kMaxFileBytes = 64 * 1024;
constexpr long kAuthorityDays = 20 * 365;
constexpr long kMachineDays = 10 * 365;
constexpr std::size_t kMaxRemembered = 512;

struct StoreFree { void operator()(X509_STORE* p) const { X509_STORE_free(p); } };
struct StoreCtxFree { void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); } };

// Names that go into certificates and file names: a computer or domain name
// (at most 15 characters, none of the characters Windows keeps out of names,
// and no dot, so that a name can never reach outside its folder).
bool ValidName(std::string_view name) {
  if (name.empty() || name.size() > 15) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c >= 0x7F) return false;
    if (std::string_view("\\/:*?\"<>|,;=+[].").find(static_cast<char>(c)) != std::string_view::npos) return false;
  }
  return true;
}

std::string KeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) return {};
  return BioText(bio.get());
}

std::string NameEntry(X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return {};
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                     static_cast<std::size_t>(ASN1_STRING_length(data)));
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) return false;
  const bool ok = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return ok;
}

// A certificate for `key` named `commonName` in `domain`, signed by
// `issuerKey` (the issuer's certificate, or null for a self-signed one).
Cert MakeCertificate(EVP_PKEY* key, const std::string& commonName, const std::string& domain, X509* issuer,
                     EVP_PKEY* issuerKey, long days, bool authority, const std::string& dnsName) {
  Cert cert(X509_new());
  if (!cert) return nullptr;
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7F;   // a positive number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
  BN_free(number);
  if (!serialSet || X509_set_version(cert.get(), 2) != 1) return nullptr;
  // A little slack backwards, for clocks that disagree by a few minutes.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600);
  X509_NAME* name = X509_get_subject_name(cert.get());
  const auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); };
  if (X509_NAME_add_entry_by_NID(name, NID_organizationName, MBSTRING_UTF8, text(domain), -1, -1, 0) != 1 ||
      X509_NAME_add_entry_by_NID(name, NID_commonName, MBSTRING_UTF8, text(commonName), -1, -1, 0) != 1)
    return nullptr;
  X509* signer = issuer ? issuer : cert.get();
  if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1 ||
      X509_set_pubkey(cert.get(), key) != 1)
    return nullptr;
  bool ok = AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
            AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  if (authority) {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
         AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyAgreement") &&
         AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth,clientAuth") &&
         AddExtension(cert.get(), signer, NID_subject_alt_name, ("DNS:" + dnsName).c_str());
  }
  if (!ok || X509_sign(cert.get(), issuerKey, EVP_sha256()) <= 0) return nullptr;
  return cert;
}

Key NewKey() { return Key(EVP_EC_gen("P-256")); }

// Whether `cert` was issued by `authority` and is valid now.
bool IssuedBy(X509* cert, X509* authority) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> context(X509_STORE_CTX_new());
  if (!store || !context || X509_STORE_add_cert(store.get(), authority) != 1) return false;
  if (X509_STORE_CTX_init(context.get(), store.get(), cert, nullptr) != 1) return false;
  return X509_verify_cert(context.get()) == 1;
}

// Reads a file that must be private to this user: owned by it, no access for
// anyone else, a regular file of sensible size. Never follows a link.
bool ReadPrivateFile(const fs::path& path, std::string* text, std::string* error, bool* missing) {
  if (missing) *missing = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT && missing) *missing = true;
    *error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st{};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path.string() + ": not a regular file";
    return false;
  }
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *error = path.string() + ": holds a private key, so it must belong to this service's user (uid " +
             std::to_string(::geteuid()) + ") and be private to it (chmod 600); it was not read";
    return false;
  }
  if (st.st_size > kMaxFileBytes) {
    *error = path.string() + ": too large to be an identity";
    return false;
  }
  text->assign(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < text->size()) {
    const ssize_t n = ::read(fd.Get(), text->data() + done, text->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = path.string() + ": cannot be read";
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes `text` to `path` through a private file beside it renamed into place,
// so that a reader sees the old file or the whole new one. `replace` false:
// fails when `path` exists.
bool WritePrivateFile(const fs::path& path, const std::string& text, bool replace, std::string* error) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  ::chmod(path.parent_path().c_str(), 0700);
  if (!replace && fs::exists(path, ec)) {
    *error = path.string() + " exists already";
    return false;
  }
  const fs::path temp = path.string() + ".new";
  ::unlink(temp.c_str());
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  bool ok = static_cast<bool>(fd);
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd.Get()) == 0 && fd.Close() == 0;
  if (ok && !replace) {
    // link() fails rather than replace a file made meanwhile.
    ok = ::link(temp.c_str(), path.c_str()) == 0;
    ::unlink(temp.c_str());
  } else if (ok) {
    ok = ::rename(temp.c_str(), path.c_str()) == 0;
  }
  if (!ok) {
    *error = path.string() + ": cannot write: " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool ParseAuthority(std::string_view text, const std::string& what, DomainAuthority* authority, std::string* error) {
  Cert cert = ReadCert(text);
  Key key = ReadKey(text);
  if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1 || X509_check_ca(cert.get()) == 0) {
    *error = what + ": not a domain authority (its certificate and key)";
    return false;
  }
  authority->domain = NameEntry(X509_get_subject_name(cert.get()), NID_organizationName);
  authority->certificatePem = CertPem(cert.get());
  authority->keyPem = KeyPem(key.get());
  return true;
}

}  // namespace

bool CreateAuthority(std::string_view domain, DomainAuthority* authority, std::string* error) {
  const std::string name = ToUpperAscii(domain);
  if (!ValidName(name)) {
    *error = "\"" + std::string(domain) + "\" is not a domain name";
    return false;
  }
  Key key = NewKey();
  Cert cert = key ? MakeCertificate(key.get(), name + " domain authority", name, nullptr, key.get(),
                                    kAuthorityDays, true, {})
                  : nullptr;
  if (!cert) {
    *error = "cannot make the certificate authority of " + name;
    return false;
  }
  authority->domain = name;
  authority->certificatePem = CertPem(cert.get());
  authority->keyPem = KeyPem(key.get());
  return !authority->certificatePem.empty() && !authority->keyPem.empty();
}

bool IssueCredentials(const DomainAuthority& authority, std::string_view machine, DomainCredentials* credentials,
                      std::string* error) {
  const std::string name = ToUpperAscii(machine);
  if (!ValidName(name)) {
    *error = "\"" + std::string(machine) + "\" is not a computer name";
    return false;
  }
  Cert issuer = ReadCert(authority.certificatePem);
  Key issuerKey = ReadKey(authority.keyPem);
  Key key = NewKey();
  Cert cert = issuer && issuerKey && key ? MakeCertificate(key.get(), name, authority.domain, issuer.get(),
                                                           issuerKey.get(), kMachineDays, false, name)
                                         : nullptr;
  if (!cert) {
    *error = "cannot issue an identity for " + name + " in " + authority.domain;
    return false;
  }
  credentials->domain = authority.domain;
  credentials->machine = name;
  credentials->authorityPem = CertPem(issuer.get());
  credentials->certificatePem = CertPem(cert.get());
  credentials->keyPem = KeyPem(key.get());
  return true;
}

std::string CredentialsText(const DomainCredentials& credentials) {
  return "# Vornal identity of " + credentials.machine + " in domain " + credentials.domain +
         ": its certificate, the domain's certificate, its private key. Keep it private.\n" +
         credentials.certificatePem + credentials.authorityPem + credentials.keyPem;
}

bool ParseCredentials(std::string_view text, const std::string& what, DomainCredentials* credentials,
                      std::string* error) {
  Bio bio = MemoryBio(text);
  Cert cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Cert authority(cert ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Key key = ReadKey(text);
  if (!cert || !authority || !key) {
    *error = what + ": not an identity (a certificate, the domain's certificate and a private key)";
    return false;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    *error = what + ": the key does not belong to the certificate";
    return false;
  }
  const std::string domain = NameEntry(X509_get_subject_name(authority.get()), NID_organizationName);
  if (X509_check_ca(authority.get()) == 0 || !ValidName(domain) || !IssuedBy(cert.get(), authority.get()) ||
      NameEntry(X509_get_subject_name(cert.get()), NID_organizationName) != domain) {
    *error = what + ": the certificate was not issued by its domain's authority, or is no longer valid";
    return false;
  }
  credentials->domain = domain;
  credentials->machine = NameEntry(X509_get_subject_name(cert.get()), NID_commonName);
  credentials->authorityPem = CertPem(authority.get());
  credentials->certificatePem = CertPem(cert.get());
  credentials->keyPem = KeyPem(key.get());
  return true;
}

fs::path IdentityFile(const fs::path& home, std::string_view domain) {
  return home / "identity" / (ToUpperAscii(domain) + ".pem");
}

fs::path AuthorityFile(const fs::path& home, std::string_view domain) {
  return home / "authority" / (ToUpperAscii(domain) + ".pem");
}

bool CreateDomainAuthority(const fs::path& home, std::string_view domain, std::string_view machine,
                           std::string* error) {
  DomainAuthority authority;
  DomainCredentials own;
  if (!CreateAuthority(domain, &authority, error) || !IssueCredentials(authority, machine, &own, error)) return false;
  return WritePrivateFile(AuthorityFile(home, authority.domain), authority.certificatePem + authority.keyPem, false,
                          error) &&
         WriteCredentials(home, own, error);
}

bool IssueMachineBundle(const fs::path& home, std::string_view domain, std::string_view machine,
                        const fs::path& bundle, std::string* error) {
  const fs::path file = AuthorityFile(home, domain);
  std::string text;
  DomainAuthority authority;
  DomainCredentials credentials;
  if (!ReadPrivateFile(file, &text, error, nullptr) || !ParseAuthority(text, file.string(), &authority, error) ||
      !IssueCredentials(authority, machine, &credentials, error))
    return false;
  return WritePrivateFile(bundle, CredentialsText(credentials), false, error);
}

bool InstallMachineBundle(const fs::path& home, std::string_view machine, const fs::path& bundle,
                          std::string* domain, std::string* error) {
  std::string text;
  DomainCredentials credentials;
  if (!ReadPrivateFile(bundle, &text, error, nullptr) ||
      !ParseCredentials(text, bundle.string(), &credentials, error))
    return false;
  if (!EqualsIgnoringCase(credentials.machine, machine)) {
    *error = bundle.string() + ": issued for " + credentials.machine + ", not for this machine (" +
             ToUpperAscii(machine) + ")";
    return false;
  }
  *domain = credentials.domain;
  return WriteCredentials(home, credentials, error);
}

bool WriteCredentials(const fs::path& home, const DomainCredentials& credentials, std::string* error) {
  return WritePrivateFile(IdentityFile(home, credentials.domain), CredentialsText(credentials), true, error);
}

bool LoadCredentials(const fs::path& home, std::string_view domain, DomainCredentials* credentials,
                     std::string* error, bool* missing) {
  const fs::path file = IdentityFile(home, domain);
  std::string text;
  if (!ReadPrivateFile(file, &text, error, missing) || !ParseCredentials(text, file.string(), credentials, error))
    return false;
  if (!EqualsIgnoringCase(credentials->domain, domain)) {
    *error = file.string() + ": an identity in " + credentials->domain + ", not in " + ToUpperAscii(domain);
    return false;
  }
  return true;
}

std::map<std::string, DomainCredentials> LoadAllCredentials(const fs::path& home, std::vector<std::string>* problems) {
  std::map<std::string, DomainCredentials> all;
  std::error_code ec;
  for (fs::directory_iterator it(home / "identity", ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string stem = path.stem().string();
    if (path.extension() != ".pem" || !ValidName(stem)) continue;
    DomainCredentials credentials;
    std::string error;
    if (LoadCredentials(home, stem, &credentials, &error))
      all.emplace(credentials.domain, std::move(credentials));
    else if (problems)
      problems->push_back(error);
  }
  return all;
}

bool EnsureMachineIdentity(const fs::path& home, std::string_view machine, std::string_view domain,
                           std::string* note, std::string* error) {
  note->clear();
  DomainCredentials own;
  bool missing = false;
  if (LoadCredentials(home, domain, &own, error, &missing)) {
    if (EqualsIgnoringCase(own.machine, machine)) return true;
    *error = IdentityFile(home, domain).string() + ": the identity of " + own.machine + ", not of " +
             ToUpperAscii(machine) + "; install this machine's own";
    return false;
  }
  if (!missing) return false;
  const fs::path authorityFile = AuthorityFile(home, domain);
  std::error_code ec;
  if (!fs::exists(authorityFile, ec)) {
    if (!CreateDomainAuthority(home, domain, machine, error)) return false;
    *note = "created the certificate authority of domain " + ToUpperAscii(domain) + " in " +
            authorityFile.string() + " and this machine's identity";
    return true;
  }
  std::string text;
  DomainAuthority authority;
  if (!ReadPrivateFile(authorityFile, &text, error, nullptr) ||
      !ParseAuthority(text, authorityFile.string(), &authority, error) ||
      !IssueCredentials(authority, machine, &own, error) || !WriteCredentials(home, own, error))
    return false;
  *note = "issued this machine's identity in " + authority.domain;
  return true;
}

struct MemberCheck::Store {
  std::unique_ptr<X509_STORE, StoreFree> store;
};

MemberCheck::MemberCheck(std::string domain, const std::string& authorityPem)
    : m_domain(std::move(domain)), m_store(std::make_unique<Store>()) {
  Cert authority = ReadCert(authorityPem);
  if (!authority) return;
  m_store->store.reset(X509_STORE_new());
  if (m_store->store && X509_STORE_add_cert(m_store->store.get(), authority.get()) != 1) m_store->store.reset();
}

MemberCheck::~MemberCheck() = default;

std::optional<std::string> MemberCheck::Verify(std::string_view certificatePem) const {
  if (!m_store->store || certificatePem.empty() || certificatePem.size() > kMaxFileBytes) return std::nullopt;
  std::lock_guard lock(m_mutex);
  if (const auto it = m_known.find(certificatePem); it != m_known.end()) return it->second;
  std::optional<std::string> machine;
  if (Cert cert = ReadCert(certificatePem)) {
    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> context(X509_STORE_CTX_new());
    if (context && X509_STORE_CTX_init(context.get(), m_store->store.get(), cert.get(), nullptr) == 1 &&
        X509_verify_cert(context.get()) == 1 &&
        NameEntry(X509_get_subject_name(cert.get()), NID_organizationName) == m_domain &&
        X509_check_purpose(cert.get(), X509_PURPOSE_SSL_CLIENT, 0) == 1) {
      const std::string name = NameEntry(X509_get_subject_name(cert.get()), NID_commonName);
      if (ValidName(name)) machine = name;
    }
  }
  // A certificate found invalid stays so; one that expires while remembered
  // is still refused by its connection's next handshake.
  if (m_known.size() >= kMaxRemembered) m_known.clear();
  m_known.emplace(std::string(certificatePem), machine);
  return machine;
}

}  // namespace vn
