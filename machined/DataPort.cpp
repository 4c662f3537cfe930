#include "machined/DataPort.h"

#include <openssl/rand.h>
#include <sys/socket.h>

#include <optional>
#include <system_error>
#include <vector>

namespace vn {

// ---------------------------------------------------------------- the transfer

bool DataTransfer::Begin(TlsStream& stream) {
  std::lock_guard lock(m_mutex);
  if (m_state != State::Waiting) return false;
  m_state = State::Running;
  m_stream = &stream;
  m_connection = std::this_thread::get_id();
  return true;
}

LONG DataTransfer::Write(std::span<const BYTE> data) {
  m_place.Touch();
  return m_writer->Write(data);
}

LONG DataTransfer::Read(std::span<BYTE> buffer, std::size_t* got) {
  m_place.Touch();
  return m_reader->Read(buffer, got);
}

void DataTransfer::End(LONG error, std::uint64_t bytes) {
  {
    std::lock_guard lock(m_mutex);
    m_stream = nullptr;
    m_outcome = {true, error, bytes};
  }
  // Still Running meanwhile: a stream that ends from here and closes the
  // transfer on another thread waits until this has returned.
  if (m_onEnd) m_onEnd();
  std::lock_guard lock(m_mutex);
  if (m_state == State::Running) m_state = State::Ended;
  m_changed.notify_all();
}

DataTransfer::Outcome DataTransfer::Close() {
  std::unique_lock lock(m_mutex);
  if (m_state == State::Running && m_connection != std::this_thread::get_id()) {
    if (m_stream) m_stream->Abort();
    m_changed.wait(lock, [this] { return m_state != State::Running; });
  }
  m_state = State::Closed;
  return m_outcome;
}

// ---------------------------------------------------------------- the port

// The socket is closed only by the connection's thread, under the port's
// mutex, so that the destructor never shuts down a descriptor reused since.
struct DataPort::Connection {
  std::string address;
  UniqueFd socket;
  bool done = false;
  std::thread thread;
};

std::unique_ptr<DataPort> DataPort::Create(const DomainCredentials& own, std::shared_ptr<const MemberCheck> members,
                                           Limits limits, std::string* error) {
  auto tls = TlsContext::Server(own, error);
  if (!tls) return nullptr;
  return std::unique_ptr<DataPort>(new DataPort(std::move(tls), std::move(members), limits));
}

DataPort::DataPort(std::unique_ptr<TlsContext> tls, std::shared_ptr<const MemberCheck> members, Limits limits)
    : m_tls(std::move(tls)), m_members(std::move(members)), m_limits(limits) {}

DataPort::~DataPort() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (auto& connection : m_connections)
      if (!connection.done) ::shutdown(connection.socket.Get(), SHUT_RDWR);
  }
  for (auto& connection : m_connections)
    if (connection.thread.joinable()) connection.thread.join();
}

DataPort::Ticket DataPort::Issue(const std::string& machine, const std::shared_ptr<DataTransfer>& transfer) {
  Ticket ticket{};
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(m_mutex);
  std::erase_if(m_tickets, [&](const auto& entry) { return entry.second.expires < now || entry.second.transfer.expired(); });
  do {
    RAND_bytes(ticket.data(), static_cast<int>(ticket.size()));
  } while (m_tickets.contains(ticket));
  m_tickets.emplace(ticket, Issued{machine, transfer, now + m_limits.ticketLifetime});
  return ticket;
}

std::shared_ptr<DataTransfer> DataPort::Claim(const Ticket& ticket, const std::string& machine) {
  std::lock_guard lock(m_mutex);
  const auto it = m_tickets.find(ticket);
  if (it == m_tickets.end()) return nullptr;
  const Issued issued = std::move(it->second);
  m_tickets.erase(it);
  if (issued.machine != machine || issued.expires < std::chrono::steady_clock::now()) return nullptr;
  return issued.transfer.lock();
}

void DataPort::Reap() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
      const auto next = std::next(it);
      if (it->done) finished.splice(finished.end(), m_connections, it);
      it = next;
    }
  }
  for (auto& connection : finished) connection.thread.join();
}

std::size_t DataPort::Serving() const {
  std::lock_guard lock(m_mutex);
  std::size_t serving = 0;
  for (const auto& connection : m_connections) serving += connection.done ? 0 : 1;
  return serving;
}

void DataPort::Serve(UniqueFd socket, const std::string& address) {
  Reap();
  std::lock_guard lock(m_mutex);
  if (m_stopping || m_connections.size() >= m_limits.connections || m_perAddress[address] >= m_limits.perAddress)
    return;  // closed at once
  Connection& connection = m_connections.emplace_back();
  connection.address = address;
  connection.socket = std::move(socket);
  try {
    connection.thread = std::thread([this, &connection] { Run(connection); });
  } catch (const std::system_error&) {
    m_connections.pop_back();  // no thread to be had: closed like one over the bounds
    return;
  }
  ++m_perAddress[address];
}

namespace {

// The status that ends a transfer, sent with whatever was queued before it.
bool SendStatus(TlsStream& stream, LONG error, std::uint64_t bytes) {
  unsigned char status[kDataStatusBytes];
  PutU32(static_cast<std::uint32_t>(error), status);
  PutU64(bytes, status + 4);
  return stream.Write(status, sizeof status);
}

// The frames of an accepted connection into `transfer`, which is ended before
// the caller hears the status (so that its commit finds the transfer ended).
void Receive(TlsStream& stream, DataTransfer& transfer) {
  std::vector<BYTE> buffer(kDataFrameBytes);
  // The next frame's length into *length: false when the connection broke
  // or the frame is too long.
  const auto next = [&](std::uint32_t* length) {
    unsigned char header[4];
    if (!stream.Read(header, sizeof header)) return false;
    *length = GetU32(header);
    return *length <= kDataFrameBytes && (*length == 0 || stream.Read(buffer.data(), *length));
  };
  std::uint64_t bytes = 0;
  for (;;) {
    std::uint32_t length = 0;
    if (!next(&length)) return transfer.End(ERROR_NETNAME_DELETED, bytes);
    if (length == 0) break;
    if (const LONG error = transfer.Write({buffer.data(), length}); error != ERROR_SUCCESS) {
      // Said at once; the caller stops at its next frame. What it sent
      // meanwhile is read and dropped, so that it reads the status instead
      // of a reset connection.
      transfer.End(error, bytes);
      SendStatus(stream, error, bytes);
      while (next(&length) && length != 0) {
      }
      return;
    }
    bytes += length;
  }
  transfer.End(ERROR_SUCCESS, bytes);
  SendStatus(stream, ERROR_SUCCESS, bytes);
}

// The file of `transfer` in frames, then the end and the status; the
// transfer ends once the caller has it all (its stream then ends too).
void Send(TlsStream& stream, DataTransfer& transfer) {
  std::vector<BYTE> buffer(kDataFrameBytes);
  std::uint64_t bytes = 0;
  LONG error = ERROR_SUCCESS;
  for (;;) {
    std::size_t got = 0;
    error = transfer.Read(buffer, &got);
    if (error != ERROR_SUCCESS || got == 0) break;
    unsigned char header[4];
    PutU32(static_cast<std::uint32_t>(got), header);
    if (!stream.Queue(header, sizeof header) || !stream.Queue(buffer.data(), got))
      return transfer.End(ERROR_NETNAME_DELETED, bytes);
    bytes += got;
  }
  const unsigned char end[4] = {};
  const bool told = stream.Queue(end, sizeof end) && SendStatus(stream, error, bytes);
  transfer.End(told ? error : ERROR_NETNAME_DELETED, bytes);
}

}  // namespace

void DataPort::Run(Connection& connection) {
  std::unique_ptr<TlsStream> stream = TlsStream::Accept(connection.socket.Get(), *m_tls, m_limits.handshake);
  const auto answer = [&](LONG error) {
    unsigned char word[4];
    PutU32(static_cast<std::uint32_t>(error), word);
    return stream->Write(word, sizeof word);
  };

  std::optional<std::string> machine;
  Ticket ticket{};
  std::shared_ptr<DataTransfer> transfer;
  if (stream && (machine = m_members->Verify(stream->PeerCertificate())) && stream->Read(ticket.data(), ticket.size())) {
    transfer = Claim(ticket, *machine);
    if (!transfer || !transfer->Begin(*stream)) {
      transfer.reset();
      answer(ERROR_ACCESS_DENIED);
    } else if (!answer(ERROR_SUCCESS) || !stream->Seal()) {
      transfer->End(ERROR_NETNAME_DELETED, 0);
      transfer.reset();
    }
  }
  if (transfer) {
    // Accepted: the stream's file is this connection's until End.
    stream->SetTimeout(m_limits.idle);
    if (transfer->Fills())
      Receive(*stream, *transfer);
    else
      Send(*stream, *transfer);
  }

  stream.reset();
  std::lock_guard lock(m_mutex);
  connection.socket.Reset();
  connection.done = true;
  if (const auto count = m_perAddress.find(connection.address); count != m_perAddress.end() && --count->second == 0)
    m_perAddress.erase(count);
}

}  // namespace vn
