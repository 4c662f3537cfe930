#pragma once
// OpenSSL objects owned by unique_ptr, and PEM texts read into them and
// written from them: what the machine identities and the data connections
// both handle. Private to the platform library. Functions return null (or an
// empty text) on malformed input; they leave OpenSSL's error queue to the
// caller.

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

namespace vn::pem {

struct BioFree { void operator()(BIO* p) const { BIO_free(p); } };
struct KeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct CertFree { void operator()(X509* p) const { X509_free(p); } };
using Bio = std::unique_ptr<BIO, BioFree>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

inline Bio MemoryBio(std::string_view text) {
  return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

inline std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

inline std::string CertPem(X509* cert) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return {};
  return BioText(bio.get());
}

inline Cert ReadCert(std::string_view pem) {
  Bio bio = MemoryBio(pem);
  return Cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

inline Key ReadKey(std::string_view pem) {
  Bio bio = MemoryBio(pem);
  return Key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

}  // namespace vn::pem
