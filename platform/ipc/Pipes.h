#pragma once
// Named pipes in message mode: a server creates instances of a pipe, clients
// open the pipe by name and exchange whole messages with one instance.
//
// Names: "\\.\pipe\NAME" or "\\MACHINE\pipe\NAME" ("/" may stand for "\",
// "pipe" and MACHINE in any case). NAME is 1 to 256 characters, compares
// without case and may hold any character but NUL. A pipe of this machine (".",
// or this machine's own name) is a local socket (AF_UNIX, SOCK_SEQPACKET, so
// message boundaries are kept) in <machine home>/pipes/, under NAME upper-cased
// with every byte outside [A-Z0-9._-] written as %XX (a hash of the name when
// that path would be too long for a socket). Every local user may open it; the
// security attributes are not used.
//
// Server: CreateNamedPipeA makes one instance handle. Instances of one name
// belong to one process and share one socket, where a thread of the pipe hands
// each arriving client to a free instance. An instance is free from its
// creation and from each ConnectNamedPipe until a client takes it; a client
// stays with it until DisconnectNamedPipe, even after the client has gone. The
// socket file is removed when the last instance is closed; a socket left by a
// process that died is replaced by the next server. A second process cannot
// serve a name that another live process serves (ERROR_ACCESS_DENIED).
// Only PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT is offered
// (ERROR_NOT_SUPPORTED otherwise); nMaxInstances is 1..255, where 255
// (PIPE_UNLIMITED_INSTANCES) sets no limit; one instance too many gives
// ERROR_PIPE_BUSY. The default time-out is what WaitNamedPipeA uses for
// NMPWAIT_USE_DEFAULT_WAIT (0 = 50 ms).
//
// Messages: WriteFile sends one message, ReadFile (Handles.h) receives one.
// - A message is at most the writer's limit: nOutBufferSize for the server,
//   the server's nInBufferSize for its clients (0 = 65536). A longer one is
//   refused before anything is sent: FALSE with ERROR_INVALID_PARAMETER, the
//   pipe unchanged.
// - A message longer than the reader's buffer fills the buffer and fails with
//   ERROR_MORE_DATA (the byte count is the buffer's size); the rest of that
//   message comes with the next ReadFile. Nothing is lost or cut off silently.
// - Reading when the other end has gone gives ERROR_BROKEN_PIPE (109),
//   writing gives ERROR_NO_DATA (232). On a free instance both give
//   ERROR_PIPE_LISTENING (536), after DisconnectNamedPipe
//   ERROR_PIPE_NOT_CONNECTED (233). Empty messages are messages.
// - The directions of PIPE_ACCESS_INBOUND/OUTBOUND and of GENERIC_READ/WRITE
//   are kept (ERROR_ACCESS_DENIED).
//
// ConnectNamedPipe (lpOverlapped null) blocks until a client takes the
// instance; when one already has, it returns FALSE with ERROR_PIPE_CONNECTED
// (535), which callers take as success. DisconnectNamedPipe drops the client
// (its reads then fail with ERROR_BROKEN_PIPE) and forgets unread messages.
//
// Client: CreateFileA opens a pipe name (dwCreationDisposition OPEN_EXISTING;
// sharing, flags and template are not used): ERROR_FILE_NOT_FOUND (2) for a
// pipe nobody serves, ERROR_PIPE_BUSY (231) when no instance is free.
// WaitNamedPipeA waits until an instance is free: TRUE, or FALSE with
// ERROR_SEM_TIMEOUT (121) or ERROR_FILE_NOT_FOUND. CreateFileA on anything
// that is not a pipe name fails with ERROR_NOT_SUPPORTED (files are not
// opened this way yet).
//
// Pipes of other machines are opened through the installed
// RemotePipeConnector: the machine directory installs one that reaches the
// pipe through that machine's service, which opens it there as a local client
// and forwards the messages both ways (MachineDirectory.h). Without a
// connector they give ERROR_BAD_NETPATH (53). Servers only create pipes of
// this machine (ERROR_INVALID_NAME otherwise).
//
// A message travels as one socket record, so besides the pipe's own limit it
// is bounded by what the host lets one record hold: a little less than the
// socket's send buffer, which the pipes raise to fit the writer's limit as far
// as the host allows a process without CAP_NET_ADMIN (twice
// net.core.wmem_max, about 416 KiB by default); a longer one is refused like
// any message over the limit. Most pipes of this system carry a few hundred
// bytes to a few KiB per message; the reporting server's read replies are
// 256 KiB.
//
// Threads: every call is safe from any thread. CloseHandle of a pipe handle
// from another thread wakes a ConnectNamedPipe or ReadFile blocked on it,
// which fails with ERROR_INVALID_HANDLE; this is how an owner ends a thread
// that serves a pipe. Failures are FALSE / INVALID_HANDLE_VALUE with the code
// in GetLastError.

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

HANDLE CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances,
                        DWORD nOutBufferSize, DWORD nInBufferSize, DWORD nDefaultTimeOut,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes);
[[nodiscard]] BOOL ConnectNamedPipe(HANDLE hNamedPipe, LPVOID lpOverlapped);
BOOL DisconnectNamedPipe(HANDLE hNamedPipe);

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// nTimeOut in milliseconds, NMPWAIT_USE_DEFAULT_WAIT or NMPWAIT_WAIT_FOREVER.
[[nodiscard]] BOOL WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut);

// Sets the mode of a pipe handle: PIPE_READMODE_MESSAGE with PIPE_WAIT (the
// default) or PIPE_NOWAIT. Without waiting, ReadFile with no message there
// fails with ERROR_NO_DATA, and WriteFile of a message the pipe has no room
// for now returns TRUE with 0 bytes written (nothing sent); PipeWatcher.h
// tells when to try again. The other two parameters must be null.
[[nodiscard]] BOOL SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode, LPDWORD lpMaxCollectionCount,
                                           LPDWORD lpCollectDataTimeout);

// lpFlags: PIPE_SERVER_END for an instance, PIPE_CLIENT_END for a client
// handle, with PIPE_TYPE_MESSAGE. The buffer sizes and instance count are the
// server's (0 buffer sizes already replaced by the default). Any pointer may be
// null.
[[nodiscard]] BOOL GetNamedPipeInfo(HANDLE hNamedPipe, LPDWORD lpFlags, LPDWORD lpOutBufferSize, LPDWORD lpInBufferSize,
                                    LPDWORD lpMaxInstances);

// The client of a connected server instance: the computer it runs on (this
// machine's name for a client of this machine) and its process. For a pipe
// the machine service opened for a caller on another machine
// (vn::OpenPipeForClient) they are that caller's machine, as the service
// knows it, and the process the caller said it is. ERROR_PIPE_NOT_CONNECTED
// while the instance has no client, ERROR_INVALID_FUNCTION for a client end,
// ERROR_INSUFFICIENT_BUFFER for a name that does not fit with its NUL.
[[nodiscard]] BOOL GetNamedPipeClientComputerNameA(HANDLE Pipe, LPSTR ClientComputerName,
                                                   ULONG ClientComputerNameLength);
[[nodiscard]] BOOL GetNamedPipeClientProcessId(HANDLE Pipe, PULONG ClientProcessId);

namespace vn {

// A client of a pipe that is not the process opening it: a caller on another
// machine for whom the machine service opens a pipe of this machine.
struct PipeClient {
  std::string computer;  // 1 to 255 printable ASCII characters
  DWORD processId = 0;
};
// CreateFileA of a pipe of this machine on behalf of `client`, whom the
// pipe's server then sees as its client (ERROR_INVALID_PARAMETER for a
// computer name that is not one). Any local process may say so: the names
// are for sharing out instances fairly, not for deciding who may connect.
HANDLE OpenPipeForClient(LPCSTR lpFileName, DWORD dwDesiredAccess, const PipeClient& client);

// What the server of a pipe chose, as GetNamedPipeInfo reports it.
struct PipeInfo {
  DWORD openMode = PIPE_ACCESS_DUPLEX;  // the server's PIPE_ACCESS_* bits
  DWORD outBufferSize = 0;              // longest message the server writes
  DWORD inBufferSize = 0;               // longest message the server reads
  DWORD maxInstances = 0;
};

// Reaches pipes of other machines; called from any thread.
//
// Open connects to pipe `pipe` (NAME only) on `machine` for `desiredAccess`
// (GENERIC_READ / GENERIC_WRITE, as CreateFileA got it) and hands back a
// connected local SOCK_SEQPACKET socket, owned by the caller from then on,
// that behaves like a client socket of a local pipe: every record is one
// message, a first byte 'D' followed by the message's bytes, in both
// directions; the end of the socket is the end of the pipe. `info` receives
// the server's choices. Errors are the codes CreateFileA gives.
// Wait is WaitNamedPipeA for a pipe of `machine`.
class RemotePipeConnector {
 public:
  virtual ~RemotePipeConnector() = default;
  [[nodiscard]] virtual LONG Open(std::string_view machine, std::string_view pipe, DWORD desiredAccess, int* socket,
                                  PipeInfo* info) = 0;
  [[nodiscard]] virtual LONG Wait(std::string_view machine, std::string_view pipe, DWORD timeout) = 0;
};

// Replaces the connector (null: other machines give ERROR_BAD_NETPATH) and
// returns the one it replaced.
std::shared_ptr<RemotePipeConnector> SetRemotePipeConnector(std::shared_ptr<RemotePipeConnector> connector);

}  // namespace vn
