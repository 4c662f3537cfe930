#pragma once
// A named pipe's client side as the pipe tests use it: open a pipe (waiting
// while its instances are busy), send one message, receive one message.
// Every call goes through the platform's Win32 calls, so local pipes and
// pipes of other machines are used alike. Threads: any.

#include <chrono>
#include <string>

#include "platform/core/Win32Types.h"
#include "testing/Wait.h"

namespace vn::testing {

// CreateFileA for reading and writing; INVALID_HANDLE_VALUE with the last error
// set when it fails.
HANDLE OpenPipe(const std::string& path);

// OpenPipe, waiting (WaitNamedPipeA) while every instance is busy, as a
// client does after the previous one let go; INVALID_HANDLE_VALUE when it
// fails otherwise, or is still busy after `ceiling`.
HANDLE OpenPipeWhenFree(const std::string& path, std::chrono::milliseconds ceiling = kWaitCeiling);

// Writes `text` as one message; true when all of it was written.
[[nodiscard]] bool Send(HANDLE pipe, const std::string& text);

// Reads one message into a buffer of `size` bytes: the message, or
// "<error N>" with the last error N when the read fails.
std::string Receive(HANDLE pipe, DWORD size = 4096);

}  // namespace vn::testing
