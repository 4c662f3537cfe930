// The machine service under callers that hold streams and pipes open: idle
// ones must not take the service from everyone else, a caller over its limit
// is told so, and what stays idle too long is ended without leaving files.
// Spoken to with raw gRPC stubs, each on a channel of its own (one caller).
#include "machined/MachineServer.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <grpcpp/grpcpp.h>

#include <QTemporaryDir>

#include "machine.grpc.pb.h"
#include "platform/core/Handles.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/hive/RegistryHive.h"
#include "platform/ipc/Pipes.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/MachineSetup.h"
#include "proto/MachineProtocol.h"
#include "testing/TestPipes.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
namespace pb = vornal::machine;
using vn::testing::WaitUntil;

constexpr char kPipe[] = "HeldOpen";

using WriteStream = grpc::ClientReaderWriter<pb::WriteFileRequest, pb::WriteFileReply>;
using PipeStream = grpc::ClientReaderWriter<pb::PipeFrame, pb::PipeFrame>;

// One caller: its own channel and its own machine identity in the domain,
// like a console of its own.
class Caller {
 public:
  Caller(std::uint16_t port, const vn::DomainCredentials& identity) {
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = identity.authorityPem;
    tls.pem_private_key = identity.keyPem;
    tls.pem_cert_chain = identity.certificatePem;
    grpc::ChannelArguments args;
    args.SetSslTargetNameOverride("SRV9");
    // A fixed, small read-ahead, so that a caller that stops reading soon
    // holds the service's writes back.
    args.SetInt(GRPC_ARG_HTTP2_BDP_PROBE, 0);
    args.SetInt(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, 256 * 1024);
    // A connection of its own: channels of one process otherwise share one.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    m_stub = pb::Machine::NewStub(grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(port),
                                                            grpc::SslCredentials(tls), args));
  }

  // A context with a generous deadline only so that a fault ends the test
  // instead of hanging it.
  std::unique_ptr<grpc::ClientContext> Context(const char* /*method*/) {
    auto context = std::make_unique<grpc::ClientContext>();
    context->set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
    return context;
  }

  // An open write stream and the error of the service's first reply.
  struct OpenWrite {
    std::unique_ptr<grpc::ClientContext> context;
    std::unique_ptr<WriteStream> stream;
    LONG error = -1;
  };
  OpenWrite StartWrite(const std::string& name) {
    OpenWrite open;
    open.context = Context("WriteFile");
    open.stream = m_stub->WriteFile(open.context.get());
    pb::WriteFileRequest request;
    request.mutable_open()->mutable_path()->set_root("Data");
    request.mutable_open()->mutable_path()->set_path(name);
    open.stream->Write(request);
    pb::WriteFileReply reply;
    if (open.stream->Read(&reply)) open.error = static_cast<LONG>(reply.error());
    return open;
  }

  struct OpenRead {
    std::unique_ptr<grpc::ClientContext> context;
    std::unique_ptr<grpc::ClientReader<pb::ReadFileReply>> stream;
    LONG error = -1;
  };
  OpenRead StartRead(const std::string& name) {
    OpenRead open;
    open.context = Context("ReadFile");
    pb::ReadFileRequest request;
    request.mutable_path()->set_root("Data");
    request.mutable_path()->set_path(name);
    open.stream = m_stub->ReadFile(open.context.get(), request);
    pb::ReadFileReply first;
    if (open.stream->Read(&first)) open.error = static_cast<LONG>(first.error());
    return open;
  }

  struct OpenPipe {
    std::unique_ptr<grpc::ClientContext> context;
    std::unique_ptr<PipeStream> stream;
    LONG error = -1;
  };
  OpenPipe StartPipe() {
    OpenPipe open;
    open.context = Context("Pipe");
    open.stream = m_stub->Pipe(open.context.get());
    pb::PipeFrame frame;
    frame.mutable_open()->set_name(kPipe);
    frame.mutable_open()->set_desired_access(GENERIC_READ | GENERIC_WRITE);
    open.stream->Write(frame);
    pb::PipeFrame answer;
    if (open.stream->Read(&answer) && answer.has_opened()) open.error = static_cast<LONG>(answer.opened().error());
    return open;
  }

  // The first reply's error of a listing of the share, or -1 without one.
  LONG List() {
    auto context = Context("FindFiles");
    pb::PathRequest request;
    request.mutable_path()->set_root("Data");
    request.mutable_path()->set_path("*");
    auto stream = m_stub->FindFiles(context.get(), request);
    pb::FindFilesReply batch;
    LONG error = -1;
    if (stream->Read(&batch)) error = static_cast<LONG>(batch.error());
    while (stream->Read(&batch)) {
    }
    stream->Finish();
    return error;
  }

  // A whole copy into the share: open, one chunk, commit; the commit's error.
  LONG Copy(const std::string& name, const std::string& contents) {
    OpenWrite open = StartWrite(name);
    if (open.error != ERROR_SUCCESS) return open.error;
    pb::WriteFileRequest request;
    request.set_data(contents);
    open.stream->Write(request);
    request.mutable_commit()->set_last_write_time(0);
    open.stream->Write(request);
    open.stream->WritesDone();
    pb::WriteFileReply reply;
    LONG error = -1;
    while (open.stream->Read(&reply)) error = static_cast<LONG>(reply.error());
    open.stream->Finish();
    return error;
  }

  // Unary calls that must stay answered: no secret needed, and a signed one.
  bool Serves() {
    grpc::ClientContext info;
    pb::ServerInfoReply server;
    if (!m_stub->GetServerInfo(&info, pb::ServerInfoRequest(), &server).ok() || server.server().name() != "SRV9")
      return false;
    auto context = Context("OpenKey");
    pb::OpenKeyRequest request;
    request.set_parent(vn::kRootKey);
    request.set_path("");
    pb::OpenKeyReply key;
    return m_stub->OpenKey(context.get(), request, &key).ok() && key.error() == ERROR_SUCCESS;
  }

 private:
  std::unique_ptr<pb::Machine::Stub> m_stub;
};

// One machine (SRV9 of TESTDOM, share "Data") served in this process, with
// the [Limits] a test gives.
class StreamLimitsTest : public ::testing::Test {
 protected:
  void Serve(const std::string& limits) {
    m_root = fs::path(m_dir.path().toStdString());
    const auto home = m_root / "home";
    for (const auto& dir : {home, m_root / "C", m_root / "D" / "Data"}) fs::create_directories(dir);
    std::ofstream(home / "machine.ini") << "[Machine]\nName=SRV9\nDomain=TESTDOM\nRole=server\n[Drives]\nC="
                                        << (m_root / "C").string() << ",fixed\nD=" << (m_root / "D").string()
                                        << ",fixed\n[Shares]\nData=D:\\Data\n[Limits]\n"
                                        << limits;
    std::string error;
    ASSERT_TRUE(vn::CreateAuthority("TESTDOM", &m_authority, &error)) << error;
    vn::DomainCredentials own;
    ASSERT_TRUE(vn::IssueCredentials(m_authority, "SRV9", &own, &error)) << error;
    ASSERT_TRUE(vn::WriteCredentials(home, own, &error)) << error;
    auto config = std::make_shared<vn::MachineConfig>();
    ASSERT_TRUE(vn::LoadMachineConfig(home, config.get(), &error)) << error;
    config->port = 0;
    ASSERT_EQ(vn::InitialiseMachine(*config), ERROR_SUCCESS);
    m_server = std::make_unique<vn::MachineServer>(
        std::make_shared<vn::LocalMachine>(config, vn::RootAccess::SharesOnly), config);
    ASSERT_TRUE(m_server->Start(&error)) << error;
  }

  void TearDown() override {
    for (HANDLE instance : m_instances) CloseHandle(instance);
    m_server.reset();
  }

  // Instances of the local pipe kPipe for callers to open through the service.
  void ServePipe(int instances) {
    for (int i = 0; i < instances; ++i) {
      HANDLE pipe = CreateNamedPipeA((std::string("\\\\.\\pipe\\") + kPipe).c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
      ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
      m_instances.push_back(pipe);
    }
  }

  // A machine of the domain: callers with different names count separately.
  vn::DomainCredentials Identity(const std::string& machine) {
    vn::DomainCredentials identity;
    std::string error;
    EXPECT_TRUE(vn::IssueCredentials(m_authority, machine, &identity, &error)) << error;
    return identity;
  }

  fs::path Data() const { return m_root / "D" / "Data"; }
  std::vector<std::string> DataFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Data())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  QTemporaryDir m_dir;
  fs::path m_root;
  vn::DomainAuthority m_authority;
  std::unique_ptr<vn::MachineServer> m_server;
  std::vector<HANDLE> m_instances;
};

TEST_F(StreamLimitsTest, IdleStreamsAndPipesOfOneCallerLeaveTheServiceToOthers) {
  Serve("StreamsPerClient=250\nStreamsTotal=260\nPipesPerClient=100\nPipesTotal=100\n");
  ServePipe(100);
  std::ofstream(Data() / "big.bin", std::ios::binary) << std::string(4 << 20, 'b');

  // Far more than the server has threads: each of them idle once opened.
  Caller hog(m_server->Port(), Identity("HOG"));
  std::vector<Caller::OpenWrite> writes;
  std::vector<Caller::OpenRead> reads;
  std::vector<Caller::OpenPipe> pipes;
  for (int i = 0; i < 100; ++i) {
    writes.push_back(hog.StartWrite("held" + std::to_string(i) + ".bin"));
    ASSERT_EQ(writes.back().error, ERROR_SUCCESS) << "write stream " << i;
    reads.push_back(hog.StartRead("big.bin"));
    ASSERT_EQ(reads.back().error, ERROR_SUCCESS) << "read stream " << i;
    pipes.push_back(hog.StartPipe());
    ASSERT_EQ(pipes.back().error, ERROR_SUCCESS) << "pipe " << i;
  }

  Caller other(m_server->Port(), Identity("OTHER"));
  EXPECT_TRUE(other.Serves());
  EXPECT_EQ(other.Copy("other.txt", "from the other caller"), ERROR_SUCCESS);
  EXPECT_EQ(other.List(), ERROR_SUCCESS);
  EXPECT_TRUE(hog.Serves()) << "the holder's own unary calls are answered too";

  // Abandoned without a commit: nothing of the held writes stays.
  for (auto& open : writes) open.context->TryCancel();
  for (auto& open : reads) open.context->TryCancel();
  for (auto& open : pipes) open.context->TryCancel();
  for (auto& open : writes) open.stream->Finish();
  for (auto& open : reads) open.stream->Finish();
  for (auto& open : pipes) open.stream->Finish();
  EXPECT_TRUE(WaitUntil([&] { return DataFiles() == std::vector<std::string>{"big.bin", "other.txt"}; }));
}

TEST_F(StreamLimitsTest, CallerOverItsLimitIsToldWhileOthersAreServed) {
  Serve("StreamsPerClient=3\nStreamsTotal=5\nPipesPerClient=1\nPipesTotal=2\n");
  ServePipe(4);
  std::ofstream(Data() / "small.txt") << "small";

  Caller first(m_server->Port(), Identity("FIRST"));
  std::vector<Caller::OpenWrite> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(first.StartWrite("held" + std::to_string(i) + ".txt"));
    ASSERT_EQ(held.back().error, ERROR_SUCCESS);
  }
  // Every kind of stream is refused beyond the caller's three, with the code
  // a console shows as "no more connections".
  EXPECT_EQ(first.StartWrite("fourth.txt").error, ERROR_REQ_NOT_ACCEP);
  EXPECT_EQ(first.StartRead("small.txt").error, ERROR_REQ_NOT_ACCEP);
  EXPECT_EQ(first.List(), ERROR_REQ_NOT_ACCEP);
  Caller::OpenPipe pipe = first.StartPipe();
  EXPECT_EQ(pipe.error, ERROR_SUCCESS) << "pipes are counted apart from streams";
  EXPECT_EQ(first.StartPipe().error, ERROR_REQ_NOT_ACCEP);
  EXPECT_TRUE(first.Serves());

  // Another caller has places of its own, up to the total.
  Caller second(m_server->Port(), Identity("SECOND"));
  EXPECT_EQ(second.Copy("second.txt", "copied"), ERROR_SUCCESS);
  Caller::OpenWrite secondHeld = second.StartWrite("second-held.txt");
  ASSERT_EQ(secondHeld.error, ERROR_SUCCESS);
  Caller::OpenWrite secondHeld2 = second.StartWrite("second-held2.txt");
  ASSERT_EQ(secondHeld2.error, ERROR_SUCCESS);
  Caller third(m_server->Port(), Identity("THIRD"));
  EXPECT_EQ(third.List(), ERROR_REQ_NOT_ACCEP) << "five streams are held in all";
  Caller::OpenPipe thirdPipe = third.StartPipe();
  EXPECT_EQ(thirdPipe.error, ERROR_SUCCESS);
  EXPECT_EQ(second.StartPipe().error, ERROR_REQ_NOT_ACCEP) << "two pipes are held in all";

  // A stream that ends gives its place back.
  held[0].context->TryCancel();
  held[0].stream->Finish();
  EXPECT_TRUE(WaitUntil([&] { return third.List() == ERROR_SUCCESS; }));
  for (std::size_t i = 1; i < held.size(); ++i) held[i].context->TryCancel();
  for (std::size_t i = 1; i < held.size(); ++i) held[i].stream->Finish();
  for (Caller::OpenWrite* open : {&secondHeld, &secondHeld2}) {
    open->context->TryCancel();
    open->stream->Finish();
  }
  EXPECT_TRUE(WaitUntil([&] { return DataFiles() == std::vector<std::string>{"second.txt", "small.txt"}; }));
}

TEST_F(StreamLimitsTest, IdleStreamsAndPipesAreEnded) {
  Serve("StreamsPerClient=1\nStreamIdleTimeout=1\nPipeIdleTimeout=1\n");
  ServePipe(1);
  std::ofstream(Data() / "big.bin", std::ios::binary) << std::string(16 << 20, 'b');
  Caller caller(m_server->Port(), Identity("CALLER"));

  // A write stream that stops sending: ended, and its data discarded.
  Caller::OpenWrite write = caller.StartWrite("idle.bin");
  ASSERT_EQ(write.error, ERROR_SUCCESS);
  pb::WriteFileRequest chunk;
  chunk.set_data(std::string(64 * 1024, 'w'));
  ASSERT_TRUE(write.stream->Write(chunk));
  pb::WriteFileReply reply;
  EXPECT_FALSE(write.stream->Read(&reply)) << "the service ends the stream";
  EXPECT_EQ(write.stream->Finish().error_code(), grpc::StatusCode::CANCELLED);
  EXPECT_TRUE(WaitUntil([&] { return DataFiles() == std::vector<std::string>{"big.bin"}; }));

  // A read stream whose caller stops reading: ended, which gives its place back.
  // (The caller's one place comes back once the service has seen the end.)
  Caller::OpenRead read;
  ASSERT_TRUE(WaitUntil([&] {
    read = caller.StartRead("big.bin");
    return read.error == ERROR_SUCCESS;
  }));
  EXPECT_TRUE(WaitUntil([&] { return caller.List() == ERROR_SUCCESS; }));
  std::size_t received = 0;
  pb::ReadFileReply data;
  while (read.stream->Read(&data)) received += data.data().size();
  EXPECT_FALSE(read.stream->Finish().ok());
  EXPECT_LT(received, std::size_t{16 << 20});

  // A relayed pipe with no message either way: ended, and its server sees the
  // client go.
  Caller::OpenPipe pipe = caller.StartPipe();
  ASSERT_EQ(pipe.error, ERROR_SUCCESS);
  pb::PipeFrame frame;
  frame.mutable_data()->set_data("one message");
  ASSERT_TRUE(pipe.stream->Write(frame));
  EXPECT_EQ(vn::testing::Receive(m_instances[0]), "one message");
  EXPECT_FALSE(pipe.stream->Read(&frame));
  pipe.stream->Finish();
  EXPECT_EQ(vn::testing::Receive(m_instances[0]).rfind("<error 109", 0), 0u);
}

}  // namespace
