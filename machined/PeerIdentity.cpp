#include "machined/PeerIdentity.h"

#include <grpcpp/security/auth_context.h>

#include "platform/machine/DomainIdentity.h"

namespace vn {

std::string_view CallerCertificate(const grpc::ServerContextBase& context) {
  const auto auth = context.auth_context();
  if (!auth) return {};
  // The context keeps its auth context (and so this text) for the whole call.
  const auto values = auth->FindPropertyValues("x509_pem_cert");
  if (values.empty()) return {};
  return std::string_view(values.front().data(), values.front().size());
}

std::optional<std::string> PeerMachine(const grpc::ServerContextBase& context, const MemberCheck& members) {
  const std::string_view certificate = CallerCertificate(context);
  if (certificate.empty()) return std::nullopt;
  return members.Verify(certificate);
}

std::string PeerIdentity(const grpc::ServerContextBase& context, const MemberCheck& members) {
  if (auto machine = PeerMachine(context, members)) return *machine;
  return context.peer();
}

}  // namespace vn
