#pragma once
// KSCli: the client of a machine's reporting server ("RODuduro", VNSrv).
//
// One object serves one exchange with one server on one thread: construct,
// Connect, use, destroy (or Disconnect and Connect again). Every call returns
// 0 for success or a Win32 code:
// - Connect: 2 (ERROR_FILE_NOT_FOUND) when the server is not running or not
//   installed on that machine; the machine's own codes (53 unknown machine,
//   1722 its machine service does not answer...) otherwise.
// - ProcessReport blocks while the server runs the report. 0: a result is
//   ready and `output` names it. 1223 (ERROR_CANCELLED): the user cancelled
//   through the progress pipe. Otherwise the output record's Message, when
//   not empty, is the text for the user.
// - ProcessFile delivers the result in transfer records of at most 1024
//   bytes: 0 while it delivered one, ERROR_HANDLE_EOF (38) when there is no
//   more. Behind it the object asks for 8 MiB windows, which the server
//   streams in pipe messages of 256 KiB (128 KiB from a server of protocol
//   version 1); one message is buffered here, and the
//   next window is asked for while the current one arrives (at most two
//   windows outstanding; the rest waits in the pipe).
// - DeleteServerFile removes the result from the server.
// A call on an object that is not connected gives ERROR_PIPE_NOT_CONNECTED;
// a server that breaks the protocol gives ERROR_INVALID_DATA and the
// connection is dropped.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

namespace vn {

class KSCli {
 public:
  KSCli() = default;
  ~KSCli();
  KSCli(const KSCli&) = delete;
  KSCli& operator=(const KSCli&) = delete;

  // `machine`: a computer name without leading backslashes (they are
  // tolerated). Waits while every instance of the server's pipe is busy
  // (up to 20 s).
  [[nodiscard]] DWORD Connect(const char* machine);
  DWORD Disconnect();

  // Nine caller-owned buffers of at least 8, 8, 20, 80, 80, 32, 260, 32 and
  // 32 bytes (docs/server.md says what each holds); each is NUL-terminated,
  // cut to its size.
  [[nodiscard]] DWORD GetProperties(char* version, char* build, char* platform, char* machine, char* domain,
                                    char* started, char* resultDirectory, char* runs, char* keepHours);

  // `objects`: paths on the server's machine separated by ";".
  [[nodiscard]] DWORD ProcessReport(KSServerCommunicationReportRec* record, KSServerCommunicationOutputRec* output,
                                    const char* objects);
  // `reserved` is not used.
  [[nodiscard]] DWORD ProcessFile(KSServerCommunicationOutputRec* output, KSServerCommunicationFileRec* file,
                                  int* reserved);
  DWORD DeleteServerFile(KSServerCommunicationOutputRec* output, KSServerCommunicationFileRec* file);

 private:
  // Sends one request and receives its reply's payload after the code.
  [[nodiscard]] DWORD Exchange(const std::vector<char>& request, std::uint32_t kind, std::vector<char>* payload);
  [[nodiscard]] DWORD Send(const std::vector<char>& request);
  [[nodiscard]] DWORD Receive(std::uint32_t kind, std::vector<char>* payload);
  // Receives one reply message into `buffer`; *rest is its payload after the
  // code, a view into `buffer`. The reply's code, or the failure (which drops
  // the connection).
  [[nodiscard]] DWORD ReceiveInto(std::uint32_t kind, std::vector<char>& buffer, std::span<const char>* rest);
  // Asks for the window at m_requested.
  [[nodiscard]] DWORD RequestWindow();
  // Reads and drops what is left of the outstanding read windows, before
  // any other request.
  void DrainWindow();
  void ResetTransfer();

  HANDLE m_pipe = nullptr;
  std::vector<char> m_reply;  // receive buffer for one reply
  // The result being fetched, and what of it is buffered.
  DWORD m_number = 0;
  DWORD m_tag = 0;
  std::uint64_t m_offset = 0;     // file offset of the end of m_block
  std::uint64_t m_requested = 0;  // file offset of the end of the last window asked for
  std::vector<char> m_blockMessage;  // the read reply that holds m_block
  std::span<const char> m_block;     // its file data
  std::size_t m_used = 0;         // bytes of m_block already delivered
  bool m_end = false;             // the server said m_block ends the file
  unsigned m_windows = 0;         // read requests whose run of replies has not ended
  std::uint32_t m_readBlock = 0;  // the most data a read reply of this server carries
  DWORD m_sequence = 0;
};

}  // namespace vn
