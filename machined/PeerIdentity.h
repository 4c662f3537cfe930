#pragma once
// Who is calling the machine service: the machine named by the certificate
// the caller presented on its TLS connection, when the machine's domain
// issued it. The connection's certificate comes from the transport (gRPC's
// auth context), so every call of a connection has the same caller.
//
// Threads: any. Costs a lookup per call once the certificate is known
// (MemberCheck remembers it).

#include <optional>
#include <string>
#include <string_view>

#include <grpcpp/server_context.h>

namespace vn {

class MemberCheck;

// The certificate the caller presented (PEM), empty without one. Not yet
// checked: only what MemberCheck confirms identifies anyone.
std::string_view CallerCertificate(const grpc::ServerContextBase& context);

// The caller's computer name when `members` confirms its certificate.
std::optional<std::string> PeerMachine(const grpc::ServerContextBase& context, const MemberCheck& members);

// The caller's computer name when confirmed, else the transport's peer
// address as gRPC names it: for logs, and to count a caller's calls or
// streams.
std::string PeerIdentity(const grpc::ServerContextBase& context, const MemberCheck& members);

}  // namespace vn
