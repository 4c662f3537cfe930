#pragma once
// The machine service's side of data connections (platform/transport/DataConnection.h):
// the tickets its WriteFile streams hand out, and the connections that
// present them, each served on a thread of its own while it lasts.
//
// A WriteFile stream that asks for a data connection makes a DataTransfer
// around its writer and gets a ticket for it, bound to the calling machine.
// The connection that presents the ticket (once, within the ticket's
// lifetime, from a machine with a certificate of the domain naming that same
// machine) fills the writer and answers with its status; the stream then
// commits. A ReadFile stream does the same around its reader; its connection
// sends the file and the status, and the stream ends once the connection is
// done. Each stream stays the owner of its file throughout: when it ends, it
// Closes its transfer first, which stops a connection still running and
// waits until it has let go of the file.
//
// Bounds: at most `connections` data connections at once and `perAddress`
// from one address (more are closed at once); the handshake and ticket must
// arrive within `handshake`; afterwards every read must progress within
// `idle`. Threads: Issue, Serve and Close from any thread; the destructor
// stops every connection and waits for their threads.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "machined/StreamLimits.h"
#include "platform/core/Win32Types.h"
#include "platform/endpoints/MachineEndpoint.h"
#include "platform/transport/DataConnection.h"

namespace vn {

// The file of one stream, as its data connection fills it (a WriteFile
// stream's writer) or drains it (a ReadFile stream's reader).
class DataTransfer {
 public:
  DataTransfer(FileWriter& writer, StreamLimits::Place& place) : m_writer(&writer), m_place(place) {}
  // `onEnd` runs on the connection's thread once it is done with the reader
  // (so that the stream can end); it must not wait for anything.
  DataTransfer(FileReader& reader, StreamLimits::Place& place, std::function<void()> onEnd)
      : m_reader(&reader), m_place(place), m_onEnd(std::move(onEnd)) {}

  bool Fills() const { return m_writer != nullptr; }

  // --- The connection's side
  // Takes the transfer for `stream`; false when the stream has closed it or
  // another connection took it.
  [[nodiscard]] bool Begin(TlsStream& stream);
  // The file's next bytes (only between Begin and End), counting as the
  // stream's progress.
  [[nodiscard]] LONG Write(std::span<const BYTE> data);
  [[nodiscard]] LONG Read(std::span<BYTE> buffer, std::size_t* got);
  // The connection is done with the file: `error` and the bytes it moved.
  // Runs `onEnd` first; the stream's Close waits until End has returned.
  void End(LONG error, std::uint64_t bytes);

  // --- The stream's side
  struct Outcome {
    bool ended = false;       // a connection ran and ended
    LONG error = ERROR_SUCCESS;
    std::uint64_t bytes = 0;
  };
  // No connection may use the file after this returns: one still running is
  // stopped and waited for (unless Close is called from the connection's
  // own `onEnd`, which is past using it). Then, what it did.
  Outcome Close();

 private:
  enum class State { Waiting, Running, Ended, Closed };
  FileWriter* m_writer = nullptr;
  FileReader* m_reader = nullptr;
  StreamLimits::Place& m_place;
  std::function<void()> m_onEnd;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  State m_state = State::Waiting;
  TlsStream* m_stream = nullptr;  // while Running and before End
  std::thread::id m_connection;   // the connection's thread, once Running
  Outcome m_outcome;
};

class DataPort {
 public:
  struct Limits {
    std::size_t connections = 64;
    std::size_t perAddress = 16;
    std::chrono::milliseconds handshake{10000};
    std::chrono::milliseconds idle{120000};
    std::chrono::milliseconds ticketLifetime{10000};
  };

  // Null with *error when `own` cannot serve TLS. `members` confirms the
  // connecting machines' certificates and names them.
  static std::unique_ptr<DataPort> Create(const DomainCredentials& own, std::shared_ptr<const MemberCheck> members,
                                          Limits limits, std::string* error);
  ~DataPort();
  DataPort(const DataPort&) = delete;
  DataPort& operator=(const DataPort&) = delete;

  using Ticket = std::array<unsigned char, kTicketBytes>;

  // A ticket for `transfer`, good for one connection of `machine`. The port
  // keeps only a weak reference: a transfer its stream dropped takes nobody.
  Ticket Issue(const std::string& machine, const std::shared_ptr<DataTransfer>& transfer);

  // A connection whose preamble has been read (from the front): served on
  // a thread of its own, or closed at once when over the bounds.
  void Serve(UniqueFd connection, const std::string& address);

  // Connections being served now.
  std::size_t Serving() const;

 private:
  struct Connection;
  DataPort(std::unique_ptr<TlsContext> tls, std::shared_ptr<const MemberCheck> members, Limits limits);
  void Run(Connection& connection);
  // The transfer of `ticket` when `machine` may use it; the ticket is spent either way.
  std::shared_ptr<DataTransfer> Claim(const Ticket& ticket, const std::string& machine);
  void Reap();

  struct Issued {
    std::string machine;
    std::weak_ptr<DataTransfer> transfer;
    std::chrono::steady_clock::time_point expires;
  };

  const std::unique_ptr<TlsContext> m_tls;
  const std::shared_ptr<const MemberCheck> m_members;
  const Limits m_limits;

  mutable std::mutex m_mutex;
  std::map<Ticket, Issued> m_tickets;
  std::list<Connection> m_connections;
  std::map<std::string, std::size_t> m_perAddress;
  bool m_stopping = false;
};

}  // namespace vn
