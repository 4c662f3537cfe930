#include "proto/MachineAuth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <charconv>
#include <random>

namespace vn {
namespace {

constexpr std::string_view kDomainKey = "vn-domain";
constexpr std::string_view kTimeKey = "vn-time";
constexpr std::string_view kNonceKey = "vn-nonce";
constexpr std::string_view kProofKey = "vn-proof";
constexpr std::size_t kNonceHexLength = 32;
constexpr std::size_t kProofHexLength = 64;

std::string Hex(const unsigned char* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[data[i] >> 4];
    text[2 * i + 1] = kDigits[data[i] & 0xF];
  }
  return text;
}

std::string NewNonce() {
  std::array<unsigned char, kNonceHexLength / 2> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    // The nonce only needs to be unique, not secret: fall back on the OS generator.
    std::random_device random;
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
  }
  return Hex(bytes.data(), bytes.size());
}

bool IsHex(std::string_view text) {
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// One metadata value, or empty when absent.
std::string_view Metadata(const grpc::ServerContextBase& context, std::string_view key) {
  const auto& metadata = context.client_metadata();
  const auto it = metadata.find(grpc::string_ref(key.data(), key.size()));
  if (it == metadata.end()) return {};
  return std::string_view(it->second.data(), it->second.size());
}

}  // namespace

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string MakeCallProof(std::string_view secret, std::string_view method, std::string_view domain,
                          std::string_view time, std::string_view nonce) {
  std::string message;
  message.reserve(method.size() + domain.size() + time.size() + nonce.size() + 3);
  message.append(method).append("\n").append(domain).append("\n").append(time).append("\n").append(nonce);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
            reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length))
    return {};
  return Hex(digest, length);
}

void SignCall(grpc::ClientContext* context, std::string_view method, std::string_view domain,
              std::string_view secret) {
  const std::string time = std::to_string(UnixNow());
  const std::string nonce = NewNonce();
  context->AddMetadata(std::string(kDomainKey), std::string(domain));
  context->AddMetadata(std::string(kTimeKey), time);
  context->AddMetadata(std::string(kNonceKey), nonce);
  context->AddMetadata(std::string(kProofKey), MakeCallProof(secret, method, domain, time, nonce));
}

bool ReplayGuard::Accept(const std::string& nonce, std::int64_t now) {
  std::lock_guard lock(m_mutex);
  // Forget what is older than twice the window: such a call is refused by its
  // time already.
  while (!m_byTime.empty() && m_byTime.begin()->first < now - 2 * kProofWindowSeconds) {
    m_seen.erase(m_byTime.begin()->second);
    m_byTime.erase(m_byTime.begin());
  }
  if (m_seen.size() >= kMaxEntries) return false;
  if (!m_seen.emplace(nonce, now).second) return false;
  m_byTime.emplace(now, nonce);
  return true;
}

grpc::Status CheckCallProof(const grpc::ServerContextBase& context, std::string_view method, std::string_view domain,
                            std::string_view secret, ReplayGuard* guard, std::int64_t now) {
  const std::string_view callDomain = Metadata(context, kDomainKey);
  const std::string_view time = Metadata(context, kTimeKey);
  const std::string_view nonce = Metadata(context, kNonceKey);
  const std::string_view proof = Metadata(context, kProofKey);
  if (callDomain.empty() || time.empty() || nonce.empty() || proof.empty())
    return {grpc::StatusCode::UNAUTHENTICATED, "this call needs proof of the domain secret"};
  if (callDomain != domain) return {grpc::StatusCode::PERMISSION_DENIED, "not a member of that domain"};
  if (secret.empty()) return {grpc::StatusCode::PERMISSION_DENIED, "this machine knows no secret for its domain"};
  std::int64_t sent = 0;
  const auto [end, ec] = std::from_chars(time.data(), time.data() + time.size(), sent);
  if (ec != std::errc() || end != time.data() + time.size() || sent < now - kProofWindowSeconds ||
      sent > now + kProofWindowSeconds)
    return {grpc::StatusCode::PERMISSION_DENIED, "the call's time is outside the accepted window"};
  if (nonce.size() != kNonceHexLength || !IsHex(nonce) || proof.size() != kProofHexLength)
    return {grpc::StatusCode::PERMISSION_DENIED, "malformed proof"};
  const std::string expected = MakeCallProof(secret, method, domain, time, nonce);
  if (expected.size() != proof.size() || CRYPTO_memcmp(expected.data(), proof.data(), proof.size()) != 0)
    return {grpc::StatusCode::PERMISSION_DENIED, "wrong proof of the domain secret"};
  if (guard && !guard->Accept(std::string(nonce), now))
    return {grpc::StatusCode::PERMISSION_DENIED, "call replayed"};
  return grpc::Status::OK;
}

}  // namespace vn
