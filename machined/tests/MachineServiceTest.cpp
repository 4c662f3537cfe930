// The machine service spoken to with a raw gRPC stub, so that requests a
// RemoteMachine never makes (without a certificate, with a foreign one,
// oversized, malformed) reach it.
#include "machined/MachineServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <csignal>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <grpcpp/grpcpp.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include "machine.grpc.pb.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/MachineSetup.h"
#include "platform/transport/DataConnection.h"
#include "proto/MachineProtocol.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
namespace pb = vornal::machine;

// A stub on its own TLS channel to the service: trusting `trusted` (a domain's
// certificate), presenting `identity` when given, expecting the machine `name`.
std::unique_ptr<pb::Machine::Stub> Connect(std::uint16_t port, const std::string& trusted,
                                           const vn::DomainCredentials* identity, const std::string& name = "SRV9") {
  grpc::SslCredentialsOptions tls;
  tls.pem_root_certs = trusted;
  if (identity) {
    tls.pem_private_key = identity->keyPem;
    tls.pem_cert_chain = identity->certificatePem;
  }
  grpc::ChannelArguments args;
  args.SetMaxSendMessageSize(64 * 1024 * 1024);
  args.SetSslTargetNameOverride(name);
  return pb::Machine::NewStub(
      grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(port), grpc::SslCredentials(tls), args));
}

// One machine (SRV9 of TESTDOM, share "Data") served in this process on a free
// loopback port, its own authority and identity made as a machine on its own
// makes them.
class MachineServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::path(m_dir.path().toStdString());
    const auto home = m_root / "home";
    for (const auto& dir : {home, m_root / "C", m_root / "D" / "Data"}) fs::create_directories(dir);
    std::ofstream(home / "machine.ini") << "[Machine]\nName=SRV9\nDomain=TESTDOM\nRole=server\n[Drives]\nC="
                                        << (m_root / "C").string() << ",fixed\nD=" << (m_root / "D").string()
                                        << ",fixed\n[Shares]\nData=D:\\Data\n";
    auto config = std::make_shared<vn::MachineConfig>();
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(home, config.get(), &error)) << error;
    config->port = 0;
    ASSERT_EQ(vn::InitialiseMachine(*config), ERROR_SUCCESS);
    std::string note;
    ASSERT_TRUE(vn::EnsureMachineIdentity(home, "SRV9", "TESTDOM", &note, &error)) << error;
    ASSERT_TRUE(vn::LoadCredentials(home, "TESTDOM", &m_identity, &error)) << error;
    m_config = config;
    StartServer();
  }

  void StartServer() {
    std::string error;
    m_server = std::make_unique<vn::MachineServer>(
        std::make_shared<vn::LocalMachine>(m_config, vn::RootAccess::SharesOnly), m_config);
    ASSERT_TRUE(m_server->Start(&error)) << error;
    m_stub = Connect(m_server->Port(), m_identity.authorityPem, &m_identity);
  }

  void TearDown() override {
    if (m_server) m_server->Shutdown();
  }

  fs::path Data() const { return m_root / "D" / "Data"; }

  // A unary call of a member of the domain.
  template <typename Request, typename Reply>
  grpc::Status Call(grpc::Status (pb::Machine::Stub::*fn)(grpc::ClientContext*, const Request&, Reply*),
                    const char* /*method*/, const Request& request, Reply* reply) {
    grpc::ClientContext context;
    return ((*m_stub).*fn)(&context, request, reply);
  }

  QTemporaryDir m_dir;
  fs::path m_root;
  std::shared_ptr<vn::MachineConfig> m_config;
  vn::DomainCredentials m_identity;
  std::unique_ptr<vn::MachineServer> m_server;
  std::unique_ptr<pb::Machine::Stub> m_stub;
};

TEST_F(MachineServiceTest, OnlyMembersOfTheDomainAreServed) {
  pb::SetValueRequest set;
  set.set_key(vn::kRootKey);
  set.set_name("Planted");
  set.set_type(REG_SZ);
  set.set_data("x");
  // Identities that are not of TESTDOM: the same names from an impostor's
  // authority, and a machine of another domain.
  std::string error;
  vn::DomainAuthority impostor, other;
  vn::DomainCredentials forged, outsider;
  ASSERT_TRUE(vn::CreateAuthority("TESTDOM", &impostor, &error) &&
              vn::IssueCredentials(impostor, "SRV9", &forged, &error) &&
              vn::CreateAuthority("OTHERDOM", &other, &error) &&
              vn::IssueCredentials(other, "WKS1", &outsider, &error))
      << error;
  struct Case {
    const char* what;
    const vn::DomainCredentials* identity;
    grpc::StatusCode expected;
  } cases[] = {
      {"no certificate", nullptr, grpc::StatusCode::UNAUTHENTICATED},
      {"certificate of an impostor's authority", &forged, grpc::StatusCode::PERMISSION_DENIED},
      {"certificate of another domain", &outsider, grpc::StatusCode::PERMISSION_DENIED},
  };
  for (const auto& c : cases) {
    auto stub = Connect(m_server->Port(), m_identity.authorityPem, c.identity);
    grpc::ClientContext context;
    pb::ErrorReply reply;
    EXPECT_EQ(stub->SetValue(&context, set, &reply).error_code(), c.expected) << c.what;
    // Server information is open to anyone who can check the machine's certificate.
    grpc::ClientContext infoContext;
    pb::ServerInfoReply info;
    ASSERT_TRUE(stub->GetServerInfo(&infoContext, pb::ServerInfoRequest(), &info).ok()) << c.what;
    EXPECT_EQ(info.server().name(), "SRV9");
    EXPECT_EQ(info.server().domain(), "TESTDOM");
  }
  // Nothing was written by the refused calls.
  pb::QueryValueRequest query;
  query.set_key(vn::kRootKey);
  query.set_name("Planted");
  pb::ValueReply value;
  ASSERT_TRUE(Call(&pb::Machine::Stub::QueryValue, "QueryValue", query, &value).ok());
  EXPECT_EQ(value.error(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));

  // The client refuses a machine that is not the one it meant, or whose
  // certificate its domain did not issue; a caller without TLS gets nothing.
  struct Reach {
    const char* what;
    std::unique_ptr<pb::Machine::Stub> stub;
  } reaches[] = {
      {"another machine's name", Connect(m_server->Port(), m_identity.authorityPem, &m_identity, "SRV8")},
      {"an impostor's authority trusted", Connect(m_server->Port(), impostor.certificatePem, &forged)},
      {"no TLS", pb::Machine::NewStub(grpc::CreateChannel("127.0.0.1:" + std::to_string(m_server->Port()),
                                                          grpc::InsecureChannelCredentials()))},
  };
  for (auto& r : reaches) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(20));
    pb::ServerInfoReply info;
    const grpc::Status status = r.stub->GetServerInfo(&context, pb::ServerInfoRequest(), &info);
    EXPECT_EQ(status.error_code(), grpc::StatusCode::UNAVAILABLE) << r.what;
  }
}

// Registry reads are answered on the thread that reads the connection; they
// must not wait behind a write that waits for the hive. Here another process
// (this test, as SQLite sees it) holds the hive's write lock: a write waits,
// and reads, and a listing, are answered meanwhile.
TEST_F(MachineServiceTest, RegistryReadsAreAnsweredWhileAWriteWaitsForTheHive) {
  pb::SetValueRequest set;
  set.set_key(vn::kRootKey);
  set.set_name("Before");
  set.set_type(REG_SZ);
  set.set_data("kept");
  pb::ErrorReply written;
  ASSERT_TRUE(Call(&pb::Machine::Stub::SetValue, "SetValue", set, &written).ok());
  ASSERT_EQ(written.error(), 0u);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((m_root / "home" / "registry.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  set.set_name("During");
  auto waiting = std::async(std::launch::async, [&] {
    pb::ErrorReply reply;
    grpc::ClientContext context;
    const grpc::Status status = m_stub->SetValue(&context, set, &reply);
    return status.ok() ? static_cast<int>(reply.error()) : -1;
  });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "the write did not wait";

  for (int i = 0; i < 20; ++i) {
    pb::QueryValueRequest query;
    query.set_key(vn::kRootKey);
    query.set_name("Before");
    pb::ValueReply value;
    ASSERT_TRUE(Call(&pb::Machine::Stub::QueryValue, "QueryValue", query, &value).ok());
    EXPECT_EQ(value.error(), 0u);
    EXPECT_EQ(value.data(), "kept");
    pb::EnumValueRequest listing;
    listing.set_key(vn::kRootKey);
    listing.set_index(0);
    ASSERT_TRUE(Call(&pb::Machine::Stub::EnumValue, "EnumValue", listing, &value).ok());
    EXPECT_EQ(value.name(), "Before");
  }
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the reads were answered only once the hive was free";

  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(waiting.get(), 0);
  pb::QueryValueRequest query;
  query.set_key(vn::kRootKey);
  query.set_name("During");
  pb::ValueReply value;
  ASSERT_TRUE(Call(&pb::Machine::Stub::QueryValue, "QueryValue", query, &value).ok());
  EXPECT_EQ(value.error(), 0u) << "a read after the write sees it";
}

TEST_F(MachineServiceTest, MalformedRequestsGetErrorRepliesAndTheServiceCarriesOn) {
  const std::string huge(vn::kMaxNameBytes + 1, 'n');
  const auto code = [](std::uint32_t error) { return static_cast<LONG>(error); };

  pb::OpenKeyRequest open;
  pb::OpenKeyReply opened;
  for (const auto& [parent, path, expected] : std::initializer_list<std::tuple<vn::KeyId, std::string, LONG>>{
           {vn::kRootKey, huge, ERROR_INVALID_PARAMETER},
           {vn::kRootKey, "\\SOFTWARE", ERROR_INVALID_PARAMETER},
           {vn::kRootKey, std::string("SOFT\0WARE", 9), ERROR_INVALID_PARAMETER},
           {0, "SOFTWARE", ERROR_KEY_DELETED},
           {-1, "", ERROR_KEY_DELETED},
           {1234567890123, "", ERROR_KEY_DELETED},
           {vn::kRootKey, "\xff\xfe not utf-8", ERROR_FILE_NOT_FOUND},
       }) {
    open.set_parent(parent);
    open.set_path(path);
    ASSERT_TRUE(Call(&pb::Machine::Stub::OpenKey, "OpenKey", open, &opened).ok());
    EXPECT_EQ(code(opened.error()), expected) << path.substr(0, 20) << " under " << parent;
  }

  pb::PathRequest request;
  pb::FileInfoReply info;
  for (const auto& [root, path, expected] : std::initializer_list<std::tuple<std::string, std::string, LONG>>{
           {"C:", "", ERROR_BAD_NET_NAME},
           {"d:", "Data", ERROR_BAD_NET_NAME},
           {"", "x", ERROR_BAD_NET_NAME},
           {"Data\\..", "x", ERROR_BAD_NET_NAME},
           {"/etc", "passwd", ERROR_BAD_NET_NAME},
           {"Data", huge, ERROR_INVALID_PARAMETER},
           {huge, "x", ERROR_INVALID_PARAMETER},
           {"Data", "missing.txt", ERROR_FILE_NOT_FOUND},
       }) {
    request.mutable_path()->set_root(root);
    request.mutable_path()->set_path(path);
    ASSERT_TRUE(Call(&pb::Machine::Stub::GetFileInfo, "GetFileInfo", request, &info).ok());
    EXPECT_EQ(code(info.error()), expected) << root.substr(0, 20) << " " << path.substr(0, 20);
  }

  // A message over the limit is refused by the transport, before any handler.
  pb::SetValueRequest set;
  set.set_key(vn::kRootKey);
  set.set_name("Big");
  set.set_data(std::string(vn::kMaxMessageBytes + 1, 'd'));
  pb::ErrorReply reply;
  EXPECT_EQ(Call(&pb::Machine::Stub::SetValue, "SetValue", set, &reply).error_code(),
            grpc::StatusCode::RESOURCE_EXHAUSTED);
  set.set_data(std::string(vn::kMaxValueBytes + 1, 'd'));
  ASSERT_TRUE(Call(&pb::Machine::Stub::SetValue, "SetValue", set, &reply).ok());
  EXPECT_EQ(code(reply.error()), ERROR_INVALID_PARAMETER);

  // Still serving.
  pb::QueryInfoRequest query;
  query.set_key(vn::kRootKey);
  pb::QueryInfoReply queried;
  ASSERT_TRUE(Call(&pb::Machine::Stub::QueryInfo, "QueryInfo", query, &queried).ok());
  EXPECT_EQ(queried.error(), 0u);
}

TEST_F(MachineServiceTest, WriteStreamsOutOfOrderLeaveNothingBehind) {
  using Stream = grpc::ClientReaderWriter<pb::WriteFileRequest, pb::WriteFileReply>;
  auto open = [](const char* name) {
    pb::WriteFileRequest request;
    request.mutable_open()->mutable_path()->set_root("Data");
    request.mutable_open()->mutable_path()->set_path(name);
    return request;
  };
  pb::WriteFileRequest data;
  data.set_data("some bytes");
  pb::WriteFileRequest oversized;
  oversized.set_data(std::string(vn::kFileChunkBytes + 1, 'x'));

  // Each exchange: what is sent, and the error of the service's last reply.
  struct Case {
    const char* what;
    std::vector<pb::WriteFileRequest> sent;
    LONG expected;
  } cases[] = {
      {"data before open", {data}, ERROR_INVALID_PARAMETER},
      {"open twice", {open("a.txt"), open("b.txt")}, ERROR_INVALID_PARAMETER},
      {"chunk over the limit", {open("c.txt"), oversized}, ERROR_INVALID_PARAMETER},
      {"drive root", {open("d.txt")}, ERROR_SUCCESS},
      {"ends without commit", {open("e.txt"), data}, ERROR_SUCCESS},
  };
  cases[3].sent[0].mutable_open()->mutable_path()->set_root("D:");
  cases[3].expected = ERROR_BAD_NET_NAME;
  for (const auto& c : cases) {
    grpc::ClientContext context;
    std::unique_ptr<Stream> stream = m_stub->WriteFile(&context);
    for (const auto& request : c.sent) stream->Write(request);
    stream->WritesDone();
    pb::WriteFileReply reply;
    LONG last = -1;
    while (stream->Read(&reply)) last = static_cast<LONG>(reply.error());
    EXPECT_TRUE(stream->Finish().ok()) << c.what;
    EXPECT_EQ(last, c.expected) << c.what;
  }
  EXPECT_TRUE(fs::is_empty(Data())) << "something was left in the share";
}

TEST_F(MachineServiceTest, ContentsAndListingsTravelInBoundedPieces) {
  constexpr std::size_t kFileSize = 3 * vn::kFileChunkBytes / 2 + 11;
  std::ofstream(Data() / "file.bin", std::ios::binary) << std::string(kFileSize, 'z');
  fs::create_directories(Data() / "Many");
  constexpr int kFiles = 2500;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "f";
    name += std::to_string(i) + ".txt";
    std::ofstream(Data() / "Many" / name);
  }

  pb::PathRequest request;
  request.mutable_path()->set_root("Data");
  request.mutable_path()->set_path("file.bin");
  {
    grpc::ClientContext context;
    pb::ReadFileRequest read;
    *read.mutable_path() = request.path();
    auto stream = m_stub->ReadFile(&context, read);
    pb::ReadFileReply reply;
    ASSERT_TRUE(stream->Read(&reply));
    EXPECT_EQ(reply.error(), 0u);
    EXPECT_EQ(reply.size(), kFileSize);
    EXPECT_TRUE(reply.data().empty());
    std::size_t total = 0;
    int chunks = 0;
    while (stream->Read(&reply)) {
      EXPECT_LE(reply.data().size(), vn::kFileChunkBytes);
      total += reply.data().size();
      ++chunks;
    }
    EXPECT_TRUE(stream->Finish().ok());
    EXPECT_EQ(total, kFileSize);
    EXPECT_GE(chunks, 2);
  }
  request.mutable_path()->set_path("Many\\*.*");
  {
    grpc::ClientContext context;
    auto stream = m_stub->FindFiles(&context, request);
    pb::FindFilesReply batch;
    std::size_t total = 0;
    int batches = 0;
    while (stream->Read(&batch)) {
      EXPECT_EQ(batch.error(), 0u);
      EXPECT_LE(static_cast<std::size_t>(batch.entries_size()), vn::kFindBatchEntries);
      total += static_cast<std::size_t>(batch.entries_size());
      ++batches;
    }
    EXPECT_TRUE(stream->Finish().ok());
    EXPECT_EQ(total, kFiles + 2u);  // with "." and ".."
    EXPECT_EQ(batches, 3);
  }
  // A missing directory: one reply with the error.
  request.mutable_path()->set_path("Nowhere\\*.*");
  grpc::ClientContext context;
  auto stream = m_stub->FindFiles(&context, request);
  pb::FindFilesReply batch;
  ASSERT_TRUE(stream->Read(&batch));
  EXPECT_EQ(static_cast<LONG>(batch.error()), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(stream->Read(&batch));
  EXPECT_TRUE(stream->Finish().ok());
}

// ---------------------------------------------------------------- data connections

using WriteStream = grpc::ClientReaderWriter<pb::WriteFileRequest, pb::WriteFileReply>;

// A WriteFile stream that asked for a data connection.
struct DirectWrite {
  grpc::ClientContext context;
  std::unique_ptr<WriteStream> stream;
  std::string ticket;
};

std::unique_ptr<DirectWrite> OpenDirect(pb::Machine::Stub& stub, const std::string& name) {
  auto write = std::make_unique<DirectWrite>();
  write->stream = stub.WriteFile(&write->context);
  pb::WriteFileRequest request;
  request.mutable_open()->mutable_path()->set_root("Data");
  request.mutable_open()->mutable_path()->set_path(name);
  pb::WriteFileReply reply;
  EXPECT_TRUE(write->stream->Write(request) && write->stream->Read(&reply) && reply.error() == 0);
  request.Clear();
  request.mutable_direct();
  EXPECT_TRUE(write->stream->Write(request) && write->stream->Read(&reply));
  EXPECT_EQ(reply.error(), 0u);
  write->ticket = reply.ticket();
  EXPECT_EQ(write->ticket.size(), vn::kTicketBytes);
  return write;
}

// The stream's commit after `directBytes` on its connection: the last reply's error.
LONG Commit(DirectWrite& write, std::uint64_t directBytes) {
  pb::WriteFileRequest request;
  request.mutable_commit()->set_direct_bytes(directBytes);
  write.stream->Write(request);
  write.stream->WritesDone();
  pb::WriteFileReply reply;
  LONG last = -1;
  while (write.stream->Read(&reply)) last = static_cast<LONG>(reply.error());
  write.stream->Finish();
  return last;
}

// A ReadFile stream of `name` that welcomes a data connection, and its first
// reply. With a `bound`, the stream ends with DEADLINE_EXCEEDED when the
// service has not ended it by then.
struct DirectRead {
  grpc::ClientContext context;
  std::unique_ptr<grpc::ClientReader<pb::ReadFileReply>> stream;
  pb::ReadFileReply first;
};

std::unique_ptr<DirectRead> OpenDirectRead(pb::Machine::Stub& stub, const std::string& name,
                                           std::optional<std::chrono::milliseconds> bound = std::nullopt) {
  auto read = std::make_unique<DirectRead>();
  if (bound) read->context.set_deadline(std::chrono::system_clock::now() + *bound);
  pb::ReadFileRequest request;
  request.mutable_path()->set_root("Data");
  request.mutable_path()->set_path(name);
  request.set_direct(true);
  read->stream = stub.ReadFile(&read->context, request);
  EXPECT_TRUE(read->stream->Read(&read->first));
  return read;
}

// The ports of the other ends of the connections the service has
// established on its `port`. The service runs in this process and its
// connections are on loopback, so /proc lists both of their ends; a
// connection the service has closed or shut down is no longer among them.
std::set<std::uint16_t> ServedPeerPorts(std::uint16_t port) {
  constexpr const char* kEstablished = "01";
  std::set<std::uint16_t> peers;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      // sl local_address rem_address st ...; addresses are hex, "ADDRESS:PORT"
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const auto portOf = [](const std::string& address) {
        return static_cast<std::uint16_t>(std::stoul(address.substr(address.rfind(':') + 1), nullptr, 16));
      };
      if (state == kEstablished && portOf(local) == port) peers.insert(portOf(remote));
    }
  }
  return peers;
}

// Frames from a data connection until the end: the bytes, and the status.
std::pair<std::string, LONG> ReceiveFrames(vn::TlsStream& connection) {
  std::string received;
  for (;;) {
    unsigned char header[4];
    if (!connection.Read(header, 4)) return {received, -1};
    const std::uint32_t length = vn::GetU32(header);
    if (length == 0) break;
    if (length > vn::kDataFrameBytes) return {received, -2};
    std::string frame(length, '\0');
    if (!connection.Read(frame.data(), length)) return {received, -1};
    received += frame;
  }
  unsigned char status[vn::kDataStatusBytes];
  if (!connection.Read(status, sizeof status)) return {received, -1};
  if (vn::GetU64(status + 4) != received.size()) return {received, -3};
  return {received, static_cast<LONG>(vn::GetU32(status))};
}

// A data connection to the service as `identity`'s machine, presenting
// `ticket`: the service's answer, -1 when none came. *connection is kept
// open when the answer is 0.
LONG Present(std::uint16_t port, const vn::DomainCredentials& identity, const std::string& ticket,
             std::unique_ptr<vn::TlsStream>* connection = nullptr) {
  std::string problem;
  const auto context = vn::TlsContext::Client(identity, &problem);
  EXPECT_TRUE(context) << problem;
  std::uint32_t error = 0;
  auto stream = context ? vn::TlsStream::Connect("127.0.0.1:" + std::to_string(port), *context, "SRV9",
                                                 std::chrono::seconds(5), &error)
                        : nullptr;
  unsigned char answer[4];
  if (!stream || !stream->Write(ticket.data(), ticket.size()) || !stream->Read(answer, sizeof answer)) return -1;
  const auto answered = static_cast<LONG>(vn::GetU32(answer));
  if (answered == ERROR_SUCCESS && !stream->Seal()) return -1;
  if (connection) *connection = std::move(stream);
  return answered;
}

// Frames of `data` (at most a frame each), then the end: the status the
// service answers, or {-1, 0}.
std::pair<LONG, std::uint64_t> SendFrames(vn::TlsStream& connection, const std::string& data, std::size_t frame) {
  for (std::size_t at = 0; at < data.size(); at += frame) {
    const std::size_t n = std::min(frame, data.size() - at);
    unsigned char header[4];
    vn::PutU32(static_cast<std::uint32_t>(n), header);
    if (!connection.Write(header, 4) || !connection.Write(data.data() + at, n)) return {-1, 0};
  }
  unsigned char end[4] = {};
  unsigned char status[vn::kDataStatusBytes];
  if (!connection.Write(end, 4) || !connection.Read(status, sizeof status)) return {-1, 0};
  return {static_cast<LONG>(vn::GetU32(status)), vn::GetU64(status + 4)};
}

// Another machine's identity in the test's domain, issued by its authority.
vn::DomainCredentials Member(const fs::path& home, const char* machine) {
  const fs::path bundle = home / (std::string(machine) + ".bundle");
  std::string error, text;
  vn::DomainCredentials credentials;
  EXPECT_TRUE(vn::IssueMachineBundle(home, "TESTDOM", machine, bundle, &error)) << error;
  std::ifstream in(bundle);
  text.assign(std::istreambuf_iterator<char>(in), {});
  EXPECT_TRUE(vn::ParseCredentials(text, bundle.string(), &credentials, &error)) << error;
  fs::remove(bundle);
  return credentials;
}

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(MachineServiceTest, ADataConnectionFillsOneStreamOnceAndOnlyForItsMachine) {
  const std::uint16_t port = m_server->Port();
  std::string contents;
  for (int i = 0; contents.size() < 700 * 1024; ++i) contents += "line " + std::to_string(i) + "\n";

  // A ticket is good for one connection, of the machine it was issued to:
  // an unknown one, or one presented by another member, is refused, and the
  // one presented is spent whoever presented it.
  const vn::DomainCredentials other = Member(m_root / "home", "SRV8");
  auto first = OpenDirect(*m_stub, "first.bin");
  EXPECT_EQ(Present(port, m_identity, std::string(vn::kTicketBytes, 'x')), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Present(port, other, first->ticket), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Present(port, m_identity, first->ticket), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Commit(*first, 0), ERROR_INVALID_PARAMETER) << "committed without its data";

  // The machine it was issued to fills the stream, which commits it.
  auto write = OpenDirect(*m_stub, "big.bin");
  std::unique_ptr<vn::TlsStream> connection;
  ASSERT_EQ(Present(port, m_identity, write->ticket, &connection), ERROR_SUCCESS);
  const auto [error, bytes] = SendFrames(*connection, contents, vn::kDataFrameBytes);
  EXPECT_EQ(error, ERROR_SUCCESS);
  EXPECT_EQ(bytes, contents.size());
  EXPECT_EQ(Present(port, m_identity, write->ticket), ERROR_ACCESS_DENIED) << "a ticket used twice";
  EXPECT_EQ(Commit(*write, contents.size()), ERROR_SUCCESS);
  EXPECT_EQ(Contents(Data() / "big.bin"), contents);

  // The commit must count every byte the connection wrote, no more.
  write = OpenDirect(*m_stub, "short.bin");
  ASSERT_EQ(Present(port, m_identity, write->ticket, &connection), ERROR_SUCCESS);
  EXPECT_EQ(SendFrames(*connection, contents, 100000).first, ERROR_SUCCESS);
  EXPECT_EQ(Commit(*write, contents.size() + 1), ERROR_INVALID_PARAMETER);

  // A caller that could not make the connection goes on with chunks on the
  // stream, which withdraws the offer; chunks while a connection holds it
  // are refused (the file would have two sources).
  pb::WriteFileRequest chunk;
  chunk.set_data("on the stream");
  write = OpenDirect(*m_stub, "fallback.bin");
  const std::string withdrawn = write->ticket;
  ASSERT_TRUE(write->stream->Write(chunk));
  EXPECT_EQ(Commit(*write, 0), ERROR_SUCCESS);
  EXPECT_EQ(Contents(Data() / "fallback.bin"), "on the stream");
  EXPECT_EQ(Present(port, m_identity, withdrawn), ERROR_ACCESS_DENIED);
  write = OpenDirect(*m_stub, "mixed.bin");
  ASSERT_EQ(Present(port, m_identity, write->ticket, &connection), ERROR_SUCCESS);
  write->stream->Write(chunk);
  EXPECT_EQ(Commit(*write, 0), ERROR_INVALID_PARAMETER);

  // A frame over the limit ends the connection with an error.
  write = OpenDirect(*m_stub, "oversized.bin");
  ASSERT_EQ(Present(port, m_identity, write->ticket, &connection), ERROR_SUCCESS);
  unsigned char header[4];
  vn::PutU32(static_cast<std::uint32_t>(vn::kDataFrameBytes + 1), header);
  unsigned char status[vn::kDataStatusBytes];
  ASSERT_TRUE(connection->Write(header, 4));
  EXPECT_TRUE(!connection->Read(status, sizeof status) || vn::GetU32(status) != ERROR_SUCCESS);
  EXPECT_NE(Commit(*write, 0), ERROR_SUCCESS);

  // A stream that ended takes no connection: its ticket is worthless.
  write = OpenDirect(*m_stub, "late.bin");
  const std::string late = write->ticket;
  write->context.TryCancel();
  write->stream->Finish();
  write.reset();
  EXPECT_EQ(Present(port, m_identity, late), ERROR_ACCESS_DENIED);

  // A machine of another domain cannot even hand a ticket over.
  vn::DomainAuthority foreign;
  vn::DomainCredentials stranger;
  std::string problem;
  ASSERT_TRUE(vn::CreateAuthority("OTHERDOM", &foreign, &problem)) << problem;
  ASSERT_TRUE(vn::IssueCredentials(foreign, "SRV9", &stranger, &problem)) << problem;
  stranger.authorityPem = m_identity.authorityPem;  // it does trust this domain
  write = OpenDirect(*m_stub, "stranger.bin");
  EXPECT_EQ(Present(port, stranger, write->ticket), -1);
  EXPECT_EQ(Commit(*write, 0), ERROR_INVALID_PARAMETER);

  // Only the committed file is left in the share.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Data())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"big.bin", "fallback.bin"}));
}

TEST_F(MachineServiceTest, AFileTheDiskRefusesMidConnectionFailsWithTheDisksErrorAndLeavesNothing) {
  // The service runs in this process: a file-size limit on it makes the disk
  // refuse the file past 1 MiB (EFBIG, with SIGXFSZ ignored), for this test.
  struct FileSizeLimit {
    rlimit old{};
    sighandler_t handler;
    FileSizeLimit() : handler(::signal(SIGXFSZ, SIG_IGN)) {
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit limited = old;
      limited.rlim_cur = 1024 * 1024;
      ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
      ::setrlimit(RLIMIT_FSIZE, &old);
      ::signal(SIGXFSZ, handler);
    }
  } limit;
  const std::string contents(48 * 1024 * 1024, 'f');  // more than the sockets hold
  auto write = OpenDirect(*m_stub, "full.bin");
  std::unique_ptr<vn::TlsStream> connection;
  ASSERT_EQ(Present(m_server->Port(), m_identity, write->ticket, &connection), ERROR_SUCCESS);
  // The service says so at once and reads on until the end, so the status
  // arrives instead of a reset connection.
  const auto [error, bytes] = SendFrames(*connection, contents, vn::kDataFrameBytes);
  EXPECT_NE(error, ERROR_SUCCESS);
  EXPECT_NE(error, -1) << "the connection broke instead of answering";
  EXPECT_LE(bytes, 1024u * 1024u);
  EXPECT_EQ(Commit(*write, bytes), error);
  EXPECT_TRUE(fs::is_empty(Data())) << "something was left in the share";
}

TEST_F(MachineServiceTest, ALargeFileIsReadOnADataConnectionOnlyByItsReader) {
  const std::uint16_t port = m_server->Port();
  std::string contents;
  for (int i = 0; contents.size() < 900 * 1024; ++i) contents += "row " + std::to_string(i) + "\n";
  std::ofstream(Data() / "large.txt", std::ios::binary) << contents;
  std::ofstream(Data() / "small.txt", std::ios::binary) << "small";

  // A small file comes on the stream, as to a caller that asks for no connection.
  auto read = OpenDirectRead(*m_stub, "small.txt");
  EXPECT_EQ(read->first.error(), 0u);
  EXPECT_TRUE(read->first.ticket().empty());
  pb::ReadFileReply chunk;
  ASSERT_TRUE(read->stream->Read(&chunk));
  EXPECT_EQ(chunk.data(), "small");
  EXPECT_FALSE(read->stream->Read(&chunk));
  EXPECT_TRUE(read->stream->Finish().ok());

  // A large one: a ticket, no chunks; only the reader's machine may use it.
  read = OpenDirectRead(*m_stub, "large.txt");
  EXPECT_EQ(read->first.size(), contents.size());
  ASSERT_EQ(read->first.ticket().size(), vn::kTicketBytes);
  EXPECT_EQ(Present(port, Member(m_root / "home", "SRV7"), read->first.ticket()), ERROR_ACCESS_DENIED);
  read = OpenDirectRead(*m_stub, "large.txt");
  std::unique_ptr<vn::TlsStream> connection;
  ASSERT_EQ(Present(port, m_identity, read->first.ticket(), &connection), ERROR_SUCCESS);
  const auto [received, status] = ReceiveFrames(*connection);
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_TRUE(received == contents) << received.size() << " bytes received";
  // Its end ends the stream, with nothing on it.
  EXPECT_FALSE(read->stream->Read(&chunk));
  EXPECT_TRUE(read->stream->Finish().ok());

  // A stream cancelled while its connection sends stops the connection.
  std::string big(8 * 1024 * 1024, 'b');
  std::ofstream(Data() / "big.bin", std::ios::binary) << big;
  read = OpenDirectRead(*m_stub, "big.bin");
  ASSERT_EQ(Present(port, m_identity, read->first.ticket(), &connection), ERROR_SUCCESS);
  unsigned char header[4];
  ASSERT_TRUE(connection->Read(header, 4));
  read->context.TryCancel();
  read->stream->Finish();
  EXPECT_NE(ReceiveFrames(*connection).second, ERROR_SUCCESS) << "the whole file came after the cancel";
}

TEST_F(MachineServiceTest, DataConnectionsThatStallOrCrowdAreDroppedWhileOthersAreServed) {
  // Connections from one address that send the preamble and nothing more:
  // those past the per-address bound are closed at once.
  std::vector<vn::UniqueFd> crowd;
  for (int i = 0; i < 24; ++i) {
    vn::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.7", &from.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(m_server->Port());
    ASSERT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ::send(fd.Get(), vn::kDataPreamble.data(), vn::kDataPreamble.size(), MSG_NOSIGNAL);
    crowd.push_back(std::move(fd));
  }
  const auto closed = [&] {
    std::size_t count = 0;
    for (const auto& fd : crowd) {
      pollfd p{fd.Get(), POLLIN, 0};
      char byte;
      if (::poll(&p, 1, 0) > 0 && ::recv(fd.Get(), &byte, 1, MSG_DONTWAIT) <= 0) ++count;
    }
    return count;
  };
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return closed() >= crowd.size() - 16; }));
  EXPECT_EQ(closed(), crowd.size() - 16);

  // Meanwhile a member's copy goes through.
  auto write = OpenDirect(*m_stub, "through.bin");
  std::unique_ptr<vn::TlsStream> connection;
  ASSERT_EQ(Present(m_server->Port(), m_identity, write->ticket, &connection), ERROR_SUCCESS);
  EXPECT_EQ(SendFrames(*connection, "through", 4).first, ERROR_SUCCESS);
  EXPECT_EQ(Commit(*write, 7), ERROR_SUCCESS);
  crowd.clear();

  // A connection that stops sending mid-file is dropped after the streams'
  // idle time-out, and its stream commits nothing.
  m_server->Shutdown();
  m_server.reset();
  m_config->limits.streamIdleSeconds = 1;
  StartServer();
  write = OpenDirect(*m_stub, "stalled.bin");
  ASSERT_EQ(Present(m_server->Port(), m_identity, write->ticket, &connection), ERROR_SUCCESS);
  unsigned char header[4];
  vn::PutU32(100, header);
  ASSERT_TRUE(connection->Write(header, 4) && connection->Write("partial", 7));
  unsigned char status[vn::kDataStatusBytes];
  EXPECT_FALSE(connection->Read(status, sizeof status)) << "the service waited for the rest";
  EXPECT_NE(Commit(*write, 7), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(Data() / "stalled.bin"));

  // A reader that stops taking the file is dropped too. The drop cannot be
  // seen from this end without reading (the end of the connection comes after
  // the bytes it holds), so the test watches the service's own end of it:
  // once that is no longer established, reading gets what was on its way and
  // then the end, never the whole file. (The stream's deadline, well past the
  // wait's ceiling, only keeps a stream that never ends from hanging the test.)
  std::ofstream(Data() / "unread.bin", std::ios::binary) << std::string(32 * 1024 * 1024, 'u');
  auto read = OpenDirectRead(*m_stub, "unread.bin", 3 * vn::testing::kWaitCeiling);
  const std::set<std::uint16_t> before = ServedPeerPorts(m_server->Port());
  ASSERT_EQ(Present(m_server->Port(), m_identity, read->first.ticket(), &connection), ERROR_SUCCESS);
  std::vector<std::uint16_t> reader;
  std::ranges::set_difference(ServedPeerPorts(m_server->Port()), before, std::back_inserter(reader));
  ASSERT_EQ(reader.size(), 1u) << "the reader's connection is not told from the others";
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return !ServedPeerPorts(m_server->Port()).contains(reader[0]); }))
      << "the service waited for the reader";
  EXPECT_NE(ReceiveFrames(*connection).second, ERROR_SUCCESS) << "the whole file came to a reader that stalled";
  pb::ReadFileReply chunk;
  EXPECT_FALSE(read->stream->Read(&chunk));
  EXPECT_NE(read->stream->Finish().error_code(), grpc::StatusCode::DEADLINE_EXCEEDED) << "the stream did not end";
}

}  // namespace
