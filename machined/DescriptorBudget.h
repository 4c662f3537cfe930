#pragma once
// How the machine service shares out its descriptors, so that no mix of
// callers can take the last one. The last one matters: the RPC library's
// own accept, on the local socket behind the front, gives up for good the
// first time it finds none, and the service would never take a connection
// again. So everything callers can make the service hold is bounded by the
// descriptor limit, not only by the configured limits:
//
//   kept for the rest (unary calls' files, the hive, logs, the library) 128
//   connections, three descriptors each (the caller's socket, and both ends
//   of the local socket to the RPC server)         half of what is left
//   file streams, one each (the file)              an eighth
//   data connections, one each (the socket)        an eighth
//   relayed pipes, one each (the pipe's socket)    a quarter
//
// With the usual limits (the hard limit, raised to at start) the configured
// limits are the smaller ones; a service given few descriptors
// (`vnmachined --max-files N`) takes fewer connections, streams and pipes.

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>

#include "platform/machine/MachineConfig.h"

namespace vn {

struct DescriptorBudget {
  static constexpr rlim_t kKept = 128;

  rlim_t connections = 0;  // descriptors for connections
  std::size_t dataConnections = 0;
  std::size_t streams = 0;
  std::size_t pipes = 0;

  static DescriptorBudget For(rlim_t limit) {
    const rlim_t usable = limit > kKept ? limit - kKept : 0;
    DescriptorBudget budget;
    budget.connections = usable / 2;
    budget.dataConnections = std::max<std::size_t>(1, static_cast<std::size_t>(usable / 8));
    budget.streams = std::max<std::size_t>(1, static_cast<std::size_t>(usable / 8));
    budget.pipes = std::max<std::size_t>(1, static_cast<std::size_t>(usable / 4));
    return budget;
  }

  // `limits` with the totals no larger than this budget allows.
  ServiceLimits Fit(ServiceLimits limits) const {
    limits.streamsTotal = static_cast<unsigned>(std::min<std::size_t>(limits.streamsTotal, streams));
    limits.pipesTotal = static_cast<unsigned>(std::min<std::size_t>(limits.pipesTotal, pipes));
    return limits;
  }
};

}  // namespace vn
