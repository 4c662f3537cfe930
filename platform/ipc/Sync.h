#pragma once
// Events and threads, as the console's report run uses them.
//
// Events: an auto-reset event releases exactly one wait per SetEvent (the wait
// that sees it signalled resets it; with no waiter it stays signalled until
// the next wait); a manual-reset event releases every wait until ResetEvent.
// Waits go through WaitForSingleObject (Handles.h), with a time-out in
// milliseconds, 0 to only look, or INFINITE.
//
// A named event is known by its name (compared with case, as Windows names
// kernel objects) within this process only: a second CreateEventA with the
// same name returns a new handle to the same event, ignores the reset and
// initial-state arguments and sets GetLastError to ERROR_ALREADY_EXISTS (183);
// OpenEventA finds it (ERROR_FILE_NOT_FOUND when no handle to it is open). The
// console's events all live in its own process; events are not shared with
// other processes. The name disappears when its last handle is closed.
//
// Threads: CreateThread runs the routine on a new thread at once (the thread
// is detached; its handle, not a join, tells when it has ended).
// WaitForSingleObject on the handle returns WAIT_OBJECT_0 once the routine has
// returned, and GetExitCodeThread gives its result (STILL_ACTIVE, 259, before).
// Closing the handle does not stop the thread. CREATE_SUSPENDED is not offered
// (ERROR_NOT_SUPPORTED). Security attributes and stack sizes are not used.
//
// Handles are closed with CloseHandle. Failures are FALSE or a null handle
// with the code in GetLastError: ERROR_INVALID_HANDLE (6) for a closed or
// unknown handle, ERROR_INVALID_PARAMETER (87) for a null routine. Everything
// here is safe from any thread.

#include <cstddef>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, std::size_t dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId);
[[nodiscard]] BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
// A number for the calling thread (threads of CreateThread: the id it gave); never
// reused within the process.
DWORD GetCurrentThreadId();
void Sleep(DWORD dwMilliseconds);
