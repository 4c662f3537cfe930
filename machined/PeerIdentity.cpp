#include "machined/PeerIdentity.h"

#include <grpcpp/server_context.h>

namespace vn {

std::string PeerIdentity(const grpc::ServerContextBase& context) { return context.peer(); }

}  // namespace vn
