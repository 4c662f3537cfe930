#pragma once
// Who is calling the machine service, as far as the limits on streams and
// pipes are concerned (StreamLimits.h): callers with the same identity share
// one allowance.

#include <string>

namespace grpc {
class ServerContextBase;
}

namespace vn {

// The identity of the caller of `context`: its connection ("ipv4:ADDR:PORT"),
// so each channel of a client counts on its own; the total limit bounds what
// many connections together can hold. Safe from any thread.
std::string PeerIdentity(const grpc::ServerContextBase& context);

}  // namespace vn
