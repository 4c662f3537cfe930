#pragma once
// The records of a pipe's local socket (AF_UNIX, SOCK_SEQPACKET), shared by
// the pipe calls (Pipes.cpp) and the relay to other machines (RemotePipe.cpp):
// after the opening exchange every record is one message, the tag byte
// kPipeDataTag followed by the message's bytes. Private to the platform library.

#include <sys/types.h>

#include <vector>

#include "platform/core/Win32Types.h"

namespace vn {

inline constexpr char kPipeDataTag = 'D';

// Raises the send buffer of `fd` so that a record of a `limit`-byte message
// fits, as far as the host allows.
void FitPipeRecordBuffer(int fd, DWORD limit);

// Takes the next record of `fd` whole into `record` (tag included), with the
// recv flags `flags` (MSG_DONTWAIT, or 0 to block). The record's length, 0 at
// the end of the socket, -1 with errno on failure.
[[nodiscard]] ssize_t ReceivePipeRecord(int fd, std::vector<char>* record, int flags);

// The socket of a client end of a local pipe (CreateFileA), for waiting on it
// (PipeWatcher); -1 for any other handle. It stays valid until the handle
// is closed.
int PipeClientSocket(HANDLE pipe);

}  // namespace vn
