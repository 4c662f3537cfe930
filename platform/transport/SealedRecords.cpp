#include "platform/transport/SealedRecords.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <limits>

namespace vn {

namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct CipherFree {
  void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};

void PutLength(std::size_t length, unsigned char* out) {
  for (std::size_t i = 0; i < kRecordHeaderBytes; ++i) out[i] = static_cast<unsigned char>(length >> (8 * i));
}

}  // namespace

struct RecordCipher::Impl {
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx;
  std::array<unsigned char, kRecordNonceBytes> base{};
  std::uint64_t sequence = 0;
  bool broken = false;  // a record failed: so does every later one

  // The next record's nonce: the base with the sequence number in its last
  // eight bytes, big-endian. False once the numbers run out.
  bool NextNonce(unsigned char* nonce) {
    if (sequence == std::numeric_limits<std::uint64_t>::max()) return false;
    std::memcpy(nonce, base.data(), base.size());
    for (int i = 0; i < 8; ++i) nonce[kRecordNonceBytes - 1 - i] ^= static_cast<unsigned char>(sequence >> (8 * i));
    ++sequence;
    return true;
  }

  static std::unique_ptr<Impl> Make(std::span<const unsigned char> key, std::span<const unsigned char> nonce,
                                    bool seal) {
    if (key.size() != kRecordKeyBytes || nonce.size() != kRecordNonceBytes) return nullptr;
    auto impl = std::make_unique<Impl>();
    std::unique_ptr<EVP_CIPHER, CipherFree> cipher(EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr));
    impl->ctx.reset(EVP_CIPHER_CTX_new());
    if (!cipher || !impl->ctx ||
        EVP_CipherInit_ex(impl->ctx.get(), cipher.get(), nullptr, key.data(), nullptr, seal ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_get_iv_length(impl->ctx.get()) != static_cast<int>(kRecordNonceBytes)) {
      ERR_clear_error();
      return nullptr;
    }
    std::memcpy(impl->base.data(), nonce.data(), nonce.size());
    return impl;
  }
};

RecordCipher::RecordCipher(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
RecordCipher::~RecordCipher() = default;

std::unique_ptr<RecordCipher> RecordCipher::Sealer(std::span<const unsigned char> key,
                                                   std::span<const unsigned char> nonce) {
  auto impl = Impl::Make(key, nonce, true);
  return impl ? std::unique_ptr<RecordCipher>(new RecordCipher(std::move(impl))) : nullptr;
}

std::unique_ptr<RecordCipher> RecordCipher::Opener(std::span<const unsigned char> key,
                                                   std::span<const unsigned char> nonce) {
  auto impl = Impl::Make(key, nonce, false);
  return impl ? std::unique_ptr<RecordCipher>(new RecordCipher(std::move(impl))) : nullptr;
}

bool RecordCipher::Seal(std::span<const unsigned char> plain, unsigned char* out) {
  Impl& impl = *m_impl;
  unsigned char nonce[kRecordNonceBytes];
  if (impl.broken || plain.size() > kMaxRecordBytes || !impl.NextNonce(nonce)) return false;
  EVP_CIPHER_CTX* ctx = impl.ctx.get();
  PutLength(plain.size(), out);
  unsigned char* sealed = out + kRecordHeaderBytes;
  int length = 0, last = 0;
  if (EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce) != 1 ||
      EVP_EncryptUpdate(ctx, nullptr, &length, out, static_cast<int>(kRecordHeaderBytes)) != 1 ||
      EVP_EncryptUpdate(ctx, sealed, &length, plain.data(), static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx, sealed + length, &last) != 1 ||
      static_cast<std::size_t>(length + last) != plain.size() ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, static_cast<int>(kRecordTagBytes), sealed + plain.size()) != 1) {
    ERR_clear_error();
    impl.broken = true;
    return false;
  }
  return true;
}

bool RecordCipher::Open(std::span<unsigned char> data, const unsigned char* tag) {
  Impl& impl = *m_impl;
  unsigned char nonce[kRecordNonceBytes];
  if (impl.broken || data.size() > kMaxRecordBytes || !impl.NextNonce(nonce)) return false;
  EVP_CIPHER_CTX* ctx = impl.ctx.get();
  unsigned char header[kRecordHeaderBytes];
  PutLength(data.size(), header);
  unsigned char expected[kRecordTagBytes];
  std::memcpy(expected, tag, sizeof expected);
  int length = 0, last = 0;
  if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce) != 1 ||
      EVP_DecryptUpdate(ctx, nullptr, &length, header, static_cast<int>(sizeof header)) != 1 ||
      EVP_DecryptUpdate(ctx, data.data(), &length, data.data(), static_cast<int>(data.size())) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, static_cast<int>(sizeof expected), expected) != 1 ||
      EVP_DecryptFinal_ex(ctx, data.data() + length, &last) != 1) {
    ERR_clear_error();
    impl.broken = true;
    return false;
  }
  return true;
}

}  // namespace vn
