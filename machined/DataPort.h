#pragma once
// The machine service's side of data connections (platform/net/DataConnection.h):
// the tickets its WriteFile streams hand out, and the connections that
// present them, each served on a thread of its own while it lasts.
//
// A WriteFile stream that asks for a data connection makes a DataSink around
// its writer and gets a ticket for it, bound to the calling machine. The
// connection that presents the ticket (once, within kTicketLifetime, from a
// machine with a certificate of the domain naming that same machine) fills
// the writer and answers with its status; the stream then commits. The
// stream stays the owner of its writer throughout: when it ends, it Closes
// its sink first, which stops a connection still running and waits until it
// has let go of the writer.
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
#include "platform/net/DataConnection.h"

namespace vn {

// The writer of one WriteFile stream, as its data connection fills it.
class DataSink {
 public:
  DataSink(FileWriter& writer, StreamLimits::Place& place) : m_writer(writer), m_place(place) {}

  // --- The connection's side
  // Takes the sink for `stream`; false when the stream has closed it or
  // another connection took it.
  bool Begin(TlsStream& stream);
  // Writes a frame's bytes (only between Begin and End).
  LONG Write(std::span<const BYTE> data);
  // The connection is done with the writer: `error` and the bytes it wrote.
  void End(LONG error, std::uint64_t bytes);

  // --- The stream's side
  struct Outcome {
    bool ended = false;       // a connection ran and ended
    LONG error = ERROR_SUCCESS;
    std::uint64_t bytes = 0;
  };
  // No connection may use the writer after this returns: one still running is
  // stopped and waited for. Then, what it did.
  Outcome Close();

 private:
  enum class State { Waiting, Running, Ended, Closed };
  FileWriter& m_writer;
  StreamLimits::Place& m_place;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  State m_state = State::Waiting;
  TlsStream* m_stream = nullptr;
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

  // A ticket for `sink`, good for one connection of `machine`. The port
  // keeps only a weak reference: a sink its stream dropped takes nobody.
  Ticket Issue(const std::string& machine, const std::shared_ptr<DataSink>& sink);

  // A connection whose preamble has been read (from the front): served on
  // a thread of its own, or closed at once when over the bounds.
  void Serve(UniqueFd connection, const std::string& address);

  // Connections being served now.
  std::size_t Serving() const;

 private:
  struct Connection;
  DataPort(std::unique_ptr<TlsContext> tls, std::shared_ptr<const MemberCheck> members, Limits limits);
  void Run(Connection& connection);
  // The sink of `ticket` when `machine` may use it; the ticket is spent either way.
  std::shared_ptr<DataSink> Claim(const Ticket& ticket, const std::string& machine);
  void Reap();

  struct Issued {
    std::string machine;
    std::weak_ptr<DataSink> sink;
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
