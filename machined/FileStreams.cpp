// The file streams of MachineServiceImpl: ReadFile, FindFiles and WriteFile
// as reactors of gRPC's callback API. Each stream has at most one thing in
// flight at a time — one gRPC read or write, or one job on the worker pool
// (opening, one chunk read or written, the commit, a listing) — so memory
// stays at one chunk per stream besides gRPC's read-ahead, and the stream
// ends (Finish) only when nothing of its own is in flight. A stream holds a
// place of StreamLimits from its start until it ends; a caller without a
// place gets ERROR_REQ_NOT_ACCEP in the stream's first reply. An idle stream is
// cancelled: its pending read or write fails, and it ends from there.
//
// A WriteFile stream may take the rest of its file on a data connection
// (machined/DataPort.h); the connection counts as the stream's progress.

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "machined/DataPort.h"
#include "machined/MachineServiceImpl.h"
#include "machined/PeerIdentity.h"
#include "machined/RequestChecks.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

// A call refused before it started (authentication): ends with `status`.
template <typename Reactor>
class RefusedCall final : public Reactor {
 public:
  explicit RefusedCall(const grpc::Status& status) { this->Finish(status); }
  void OnDone() override { delete this; }
};

// What every file stream uses.
struct StreamKit {
  MachineEndpoint& machine;
  WorkerPool& workers;
  StreamLimits& limits;
  std::string caller;  // whose allowance the stream counts against
  DataPort* data = nullptr;  // where data connections are taken, when they are
};

std::unique_ptr<StreamLimits::Place> TakePlace(StreamKit& kit, grpc::CallbackServerContext* context) {
  return kit.limits.Admit(StreamLimits::Kind::Stream, kit.caller, [context] { context->TryCancel(); });
}

// A stream from the service to its caller (ReadFile, FindFiles): it holds
// one of the caller's places for as long as it runs, and its first reply
// carries the error that ends it early.
template <typename Reply>
class PlacedWriteReactor : public grpc::ServerWriteReactor<Reply> {
 public:
  void OnDone() override { delete this; }

 protected:
  PlacedWriteReactor(StreamKit kit, grpc::CallbackServerContext* context)
      : m_kit(std::move(kit)), m_place(TakePlace(m_kit, context)) {}

  // `requested` when the caller has a place and the path is one; otherwise
  // the stream has ended with `first` carrying the error.
  std::optional<MachinePath> Begin(const pb::MachinePath& requested, Reply* first) {
    LONG error = ERROR_REQ_NOT_ACCEP;
    MachinePath path;
    if (m_place) error = CheckPath(requested, &path);
    if (error == ERROR_SUCCESS) return path;
    first->set_error(static_cast<std::uint32_t>(error));
    EndWith(first);
    return std::nullopt;
  }

  // The end of the stream, once, whoever gets there first (a data
  // connection's end and a cancellation may race). The place is given back
  // first, so that the caller's next stream finds it free.
  void End() {
    if (m_ended.exchange(true)) return;
    m_place.reset();
    this->Finish(grpc::Status::OK);
  }
  void EndWith(const Reply* last) {
    if (m_ended.exchange(true)) return;
    m_place.reset();
    this->StartWriteAndFinish(last, grpc::WriteOptions(), grpc::Status::OK);
  }
  // The end, from a thread of no call of this stream (a data connection's).
  // The place is given back when the reactor goes: giving it back here
  // would wait for its idle action, which may be cancelling this very
  // stream and waiting for that thread.
  void EndFromElsewhere() {
    if (m_ended.exchange(true)) return;
    this->Finish(grpc::Status::OK);
  }

  StreamKit m_kit;
  std::unique_ptr<StreamLimits::Place> m_place;

 private:
  std::atomic<bool> m_ended{false};
};

// ReadFile: the first reply carries the error and size, then the chunks. A
// caller that welcomes a data connection gets, for a large file, a ticket in
// the first reply instead of chunks; the connection sends the file, and its
// end ends the stream. The stream keeps its reader until the transfer is
// closed, whatever ends it.
class ReadFileReactor final : public PlacedWriteReactor<pb::ReadFileReply> {
 public:
  ReadFileReactor(StreamKit kit, grpc::CallbackServerContext* context, const pb::ReadFileRequest& request)
      : PlacedWriteReactor(std::move(kit), context), m_direct(request.direct()) {
    if (auto path = Begin(request.path(), &m_reply)) m_kit.workers.Post([this, path = std::move(*path)] { Open(path); });
  }

  ~ReadFileReactor() override { CloseTransfer(); }

  void OnWriteDone(bool ok) override {
    if (!ok) {  // the caller went away or the stream was cancelled
      CloseTransfer();
      End();
      return;
    }
    if (Transfer()) return;  // the connection sends the file, and ends the stream
    m_place->Touch();
    m_kit.workers.Post([this] { ReadChunk(); });
  }

  // A cancelled stream with no write pending (its file on a data connection).
  void OnCancel() override {
    if (!Transfer()) return;  // a pending write fails instead, and ends the stream
    CloseTransfer();
    End();
  }

 private:
  void Open(const MachinePath& path) {
    const LONG error = m_kit.machine.OpenRead(path, &m_reader);
    m_reply.set_error(static_cast<std::uint32_t>(error));
    if (error != ERROR_SUCCESS) {
      EndWith(&m_reply);
      return;
    }
    m_reply.set_size(m_reader->Size());
    if (m_direct && m_kit.data && m_reader->Size() > kDataConnectionAfterBytes) {
      auto transfer = std::make_shared<DataTransfer>(*m_reader, *m_place, [this] { EndFromElsewhere(); });
      const DataPort::Ticket ticket = m_kit.data->Issue(m_kit.caller, transfer);
      m_reply.set_ticket(ticket.data(), ticket.size());
      std::lock_guard lock(m_transferMutex);
      m_transfer = std::move(transfer);
    } else {
      m_buffer.resize(kFileChunkBytes);
    }
    StartWrite(&m_reply);
  }

  void ReadChunk() {
    std::size_t got = 0;
    m_reply.Clear();
    if (const LONG error = m_reader->Read(m_buffer, &got); error != ERROR_SUCCESS) {
      m_reply.set_error(static_cast<std::uint32_t>(error));
      EndWith(&m_reply);
      return;
    }
    if (got == 0) {
      End();
      return;
    }
    m_reply.set_data(reinterpret_cast<const char*>(m_buffer.data()), got);
    StartWrite(&m_reply);
  }

  std::shared_ptr<DataTransfer> Transfer() {
    std::lock_guard lock(m_transferMutex);
    return m_transfer;
  }
  // No data connection reads the file after this.
  void CloseTransfer() {
    if (const auto transfer = Transfer()) transfer->Close();
  }

  const bool m_direct;
  std::unique_ptr<FileReader> m_reader;
  std::vector<BYTE> m_buffer;
  pb::ReadFileReply m_reply;
  std::mutex m_transferMutex;  // Open sets the transfer on a worker; a cancellation may look meanwhile
  std::shared_ptr<DataTransfer> m_transfer;
};

// FindFiles: the directory is listed on the pool, then sent in batches.
class FindFilesReactor final : public PlacedWriteReactor<pb::FindFilesReply> {
 public:
  FindFilesReactor(StreamKit kit, grpc::CallbackServerContext* context, const pb::PathRequest& request)
      : PlacedWriteReactor(std::move(kit), context) {
    const auto path = Begin(request.path(), &m_batch);
    if (!path) return;
    m_kit.workers.Post([this, path = *path] {
      const LONG error = m_kit.machine.FindFiles(path, &m_entries);
      m_batch.set_error(static_cast<std::uint32_t>(error));
      if (error != ERROR_SUCCESS) m_entries.clear();
      SendBatch();
    });
  }

  void OnWriteDone(bool ok) override {
    if (!ok) {
      End();
      return;
    }
    m_place->Touch();
    m_batch.Clear();
    SendBatch();
  }

 private:
  // The next batch; the first one is sent even when empty, as it carries the error.
  void SendBatch() {
    const std::size_t end = std::min(m_entries.size(), m_next + kFindBatchEntries);
    for (; m_next < end; ++m_next) ToProto(m_entries[m_next], m_batch.add_entries());
    if (m_next == m_entries.size()) {
      if (m_first || m_batch.entries_size() > 0)
        EndWith(&m_batch);
      else
        End();
      return;
    }
    m_first = false;
    StartWrite(&m_batch);
  }

  std::vector<FileEntry> m_entries;
  std::size_t m_next = 0;
  bool m_first = true;
  pb::FindFilesReply m_batch;
};

// WriteFile: open, chunks, perhaps a data connection, commit (the exchange in
// machine.proto). Until the commit the writer holds the data out of sight; a
// stream that ends any other way destroys the writer, which discards it. A
// data connection fills the writer only while the stream's transfer is open;
// the transfer is closed before the writer goes, whatever ends the stream.
class WriteFileReactor final : public grpc::ServerBidiReactor<pb::WriteFileRequest, pb::WriteFileReply> {
 public:
  ~WriteFileReactor() override { CloseTransfer(); }

  WriteFileReactor(StreamKit kit, grpc::CallbackServerContext* context) : m_kit(kit) {
    m_place = TakePlace(m_kit, context);
    if (!m_place) {
      // Answered without waiting for the open, so a refused caller holds nothing.
      Answer(ERROR_REQ_NOT_ACCEP);
      return;
    }
    StartRead(&m_request);
  }

  void OnReadDone(bool ok) override {
    if (!ok) {  // the caller ended or broke the stream without a commit, or it was cancelled
      CloseTransfer();
      m_writer.reset();  // before the caller hears the end, nothing is left
      End();
      return;
    }
    m_place->Touch();
    if (!m_writer) {
      MachinePath path;
      if (!m_request.has_open()) return Answer(ERROR_INVALID_PARAMETER);
      if (const LONG error = CheckPath(m_request.open().path(), &path); error != ERROR_SUCCESS) return Answer(error);
      m_kit.workers.Post([this, path = std::move(path), failIfExists = m_request.open().fail_if_exists()] {
        if (const LONG error = m_kit.machine.OpenWrite(path, failIfExists, &m_writer); error != ERROR_SUCCESS)
          return Answer(error);
        m_reply.set_error(ERROR_SUCCESS);
        StartWrite(&m_reply);
      });
      return;
    }
    if (m_request.has_commit()) {
      m_kit.workers.Post([this] {
        if (m_transfer) {
          // Everything the data connection sent, and nothing it did not.
          const DataTransfer::Outcome outcome = m_transfer->Close();
          if (outcome.ended && outcome.error != ERROR_SUCCESS) return Answer(outcome.error);
          if (!outcome.ended || outcome.bytes != m_request.commit().direct_bytes())
            return Answer(ERROR_INVALID_PARAMETER);
        } else if (m_request.commit().direct_bytes() != 0) {
          return Answer(ERROR_INVALID_PARAMETER);
        }
        Answer(m_writer->Commit(m_request.commit().last_write_time()));
      });
      return;
    }
    if (m_request.has_direct()) return OfferDataConnection();
    if (m_request.part_case() != pb::WriteFileRequest::kData || m_request.data().size() > kFileChunkBytes)
      return Answer(ERROR_INVALID_PARAMETER);
    m_kit.workers.Post([this] {
      // Chunks after an offer: the caller could not make the connection (its
      // machine turned it away, say) and goes on here, so the offer is
      // withdrawn. Had a connection taken it, the file would have two sources.
      if (m_transfer) {
        if (m_transfer->Close().ended) return Answer(ERROR_INVALID_PARAMETER);
        m_transfer.reset();
      }
      const std::string& data = m_request.data();
      if (const LONG error = m_writer->Write({reinterpret_cast<const BYTE*>(data.data()), data.size()});
          error != ERROR_SUCCESS)
        return Answer(error);
      StartRead(&m_request);
    });
  }

  // Only the replies to the open and to `direct` are written with StartWrite.
  void OnWriteDone(bool ok) override {
    if (!ok) {
      CloseTransfer();
      m_writer.reset();
      End();
      return;
    }
    StartRead(&m_request);
  }

  void OnDone() override { delete this; }

 private:
  // A ticket for a data connection to fill the writer; the stream waits for
  // the commit meanwhile. Without data connections the chunks go on here.
  void OfferDataConnection() {
    if (m_offered) return Answer(ERROR_INVALID_PARAMETER);  // one per stream
    m_offered = true;
    m_reply.Clear();
    if (!m_kit.data) {
      m_reply.set_error(ERROR_NOT_SUPPORTED);
    } else {
      m_transfer = std::make_shared<DataTransfer>(*m_writer, *m_place);
      const DataPort::Ticket ticket = m_kit.data->Issue(m_kit.caller, m_transfer);
      m_reply.set_ticket(ticket.data(), ticket.size());
    }
    StartWrite(&m_reply);
  }

  // No data connection touches the writer after this.
  void CloseTransfer() {
    if (m_transfer) m_transfer->Close();
  }

  // The last reply: its error, then the end of the stream.
  void Answer(LONG error) {
    CloseTransfer();
    m_writer.reset();  // committed, or its data discarded, before the caller hears the end
    m_reply.Clear();
    m_reply.set_error(static_cast<std::uint32_t>(error));
    EndWith(&m_reply);
  }

  // The end of the stream. The place is given back first, so that the
  // caller's next stream finds it free.
  void End() {
    m_place.reset();
    Finish(grpc::Status::OK);
  }
  template <typename Reply>
  void EndWith(const Reply* last) {
    m_place.reset();
    StartWriteAndFinish(last, grpc::WriteOptions(), grpc::Status::OK);
  }

  StreamKit m_kit;
  std::unique_ptr<StreamLimits::Place> m_place;
  std::unique_ptr<FileWriter> m_writer;
  bool m_offered = false;
  std::shared_ptr<DataTransfer> m_transfer;
  pb::WriteFileRequest m_request;
  pb::WriteFileReply m_reply;
};

}  // namespace

grpc::ServerWriteReactor<pb::ReadFileReply>* MachineServiceImpl::ReadFile(CallbackContext* context,
                                                                          const pb::ReadFileRequest* request) {
  if (auto status = Authorise(*context, "ReadFile"); !status.ok())
    return new RefusedCall<grpc::ServerWriteReactor<pb::ReadFileReply>>(status);
  return new ReadFileReactor({*m_machine, m_workers, m_limits, PeerIdentity(*context), m_dataPort}, context,
                             *request);
}

grpc::ServerWriteReactor<pb::FindFilesReply>* MachineServiceImpl::FindFiles(CallbackContext* context,
                                                                            const pb::PathRequest* request) {
  if (auto status = Authorise(*context, "FindFiles"); !status.ok())
    return new RefusedCall<grpc::ServerWriteReactor<pb::FindFilesReply>>(status);
  return new FindFilesReactor({*m_machine, m_workers, m_limits, PeerIdentity(*context)}, context, *request);
}

grpc::ServerBidiReactor<pb::WriteFileRequest, pb::WriteFileReply>* MachineServiceImpl::WriteFile(
    CallbackContext* context) {
  if (auto status = Authorise(*context, "WriteFile"); !status.ok())
    return new RefusedCall<grpc::ServerBidiReactor<pb::WriteFileRequest, pb::WriteFileReply>>(status);
  return new WriteFileReactor({*m_machine, m_workers, m_limits, PeerIdentity(*context), m_dataPort}, context);
}

}  // namespace vn
