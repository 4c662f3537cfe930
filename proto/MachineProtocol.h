#pragma once
// The limits of the machine service protocol (machine.proto), shared by the
// service and its clients.

#include <cstddef>

namespace vn {

// No message of either side is larger than this.
inline constexpr std::size_t kMaxMessageBytes = 4 * 1024 * 1024;
// File contents travel in chunks of at most this size.
inline constexpr std::size_t kFileChunkBytes = 256 * 1024;
// Each side reads ahead at most this much of a stream before its reader
// takes it (the HTTP/2 flow-control window), so memory stays bounded.
inline constexpr std::size_t kStreamReadAheadBytes = 4 * 1024 * 1024;
// Directory listings travel in batches of at most this many entries.
inline constexpr std::size_t kFindBatchEntries = 1024;
// Names and paths (registry and files) longer than this are refused.
inline constexpr std::size_t kMaxNameBytes = 32767;
// Registry value data larger than this is refused, so a SetValue message fits.
inline constexpr std::size_t kMaxValueBytes = 3 * 1024 * 1024;

// A pipe message travels in frames of at most this many bytes (a message of
// the usual sizes is one frame; readers take frames of any size up to the
// message limit).
inline constexpr std::size_t kPipeFrameBytes = 1024 * 1024;
// One WaitPipe call waits at most this long on the serving machine.
inline constexpr unsigned kMaxPipeWaitMs = 20000;

}  // namespace vn
