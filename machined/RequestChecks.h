#pragma once
// Checks and conversions shared by the machine service's handlers
// (MachineServiceImpl.cpp, FileStreams.cpp).

#include "machine.pb.h"
#include "platform/endpoints/MachineEndpoint.h"

namespace vn {

// A file path from the network: ERROR_SUCCESS with *out set, or
// ERROR_INVALID_PARAMETER / ERROR_BAD_NET_NAME.
[[nodiscard]] LONG CheckPath(const vornal::machine::MachinePath& path, MachinePath* out);

void ToProto(const FileEntry& entry, vornal::machine::FileEntry* out);

}  // namespace vn
