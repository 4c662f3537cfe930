#pragma once
// Pipe messages on the Pipe stream of machine.proto, shared by the relay's two
// ends (the client's RemotePipe.cpp and the service's PipeRelayImpl.cpp): a
// message travels as PipeData frames of at most kPipeFrameBytes, `more` set
// on all but the last.

#include <algorithm>
#include <string>
#include <string_view>

#include "machine.pb.h"
#include "proto/MachineProtocol.h"

namespace vn {

// Writes `message` to `stream` (a gRPC writer of PipeFrame); false when the
// stream broke.
template <typename Stream>
[[nodiscard]] bool WritePipeMessage(Stream& stream, std::string_view message) {
  vornal::machine::PipeFrame frame;
  vornal::machine::PipeData* data = frame.mutable_data();
  std::size_t offset = 0;
  do {
    const std::size_t n = std::min(message.size() - offset, kPipeFrameBytes);
    data->set_data(message.data() + offset, n);
    offset += n;
    data->set_more(offset < message.size());
    if (!stream.Write(frame)) return false;
  } while (offset < message.size());
  return true;
}

enum class PipeFrameResult { More, Complete, Invalid };

// Adds a received frame to `message`: Complete when the message is whole, More
// while it goes on, Invalid for a frame that is not data or that would take
// `message` past `limit` bytes.
inline PipeFrameResult AddPipeFrame(const vornal::machine::PipeFrame& frame, std::string* message,
                                    std::size_t limit) {
  if (!frame.has_data() || message->size() + frame.data().data().size() > limit) return PipeFrameResult::Invalid;
  *message += frame.data().data();
  return frame.data().more() ? PipeFrameResult::More : PipeFrameResult::Complete;
}

}  // namespace vn
