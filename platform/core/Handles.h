#pragma once
// The calls that take any kernel handle this process hands out: CloseHandle,
// WaitForSingleObject, ReadFile and WriteFile.
//
// Each kind of kernel object (events, threads, pipe ends...) keeps its own
// HandleTable and registers a HandleKind here once, at start-up. A generic call
// asks every kind in turn; the kind that owns the handle answers. Handle
// numbers are never handed out twice in a process, so a closed handle, or one
// no kind owns, fails with ERROR_INVALID_HANDLE (FALSE / WAIT_FAILED with the
// code in GetLastError) instead of reaching another object.
//
// Closing a pipe handle from one thread wakes a ReadFile, WriteFile or
// ConnectNamedPipe blocked on it in another, which then fails with
// ERROR_INVALID_HANDLE. A wait on an event or thread whose handle is closed
// meanwhile goes on until the object is signalled or its time-out passes (the
// object itself lives while anyone waits on it). Everything here is safe from
// any thread.

#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

namespace vn {

// What a kind of handle can do. Each function answers false when the handle
// is not of this kind (and then does nothing); otherwise it performs the call
// and stores its Win32 result through the last argument. `wait`, `read` and
// `write` may be null for kinds that cannot do them.
struct HandleKind {
  bool (*close)(HANDLE handle, BOOL* result);
  bool (*wait)(HANDLE handle, DWORD milliseconds, DWORD* result);
  bool (*read)(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, BOOL* result);
  bool (*write)(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, BOOL* result);
};

// Adds a kind; `kind` must live as long as the process (a static). Returns true
// so that a kind can register itself from a namespace-scope initialiser.
bool RegisterHandleKind(const HandleKind* kind);

}  // namespace vn

BOOL CloseHandle(HANDLE hObject);

// WAIT_OBJECT_0 when the object is signalled (an auto-reset event is reset by
// the wait that sees it), WAIT_TIMEOUT after dwMilliseconds (0 = only look;
// INFINITE = no limit), WAIT_FAILED with GetLastError for a handle that cannot
// be waited on (ERROR_INVALID_HANDLE).
[[nodiscard]] DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Reads and writes of the handles that have them (pipe ends, Pipes.h; files
// may join later). lpOverlapped must be null (ERROR_INVALID_PARAMETER
// otherwise): every call blocks until it completes.
[[nodiscard]] BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                            LPVOID lpOverlapped);
[[nodiscard]] BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped);
