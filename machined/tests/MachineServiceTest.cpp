// The machine service spoken to with a raw gRPC stub, so that requests a
// RemoteMachine never makes (unsigned, replayed, oversized, malformed) reach it.
#include "machined/MachineServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <grpcpp/grpcpp.h>

#include <QTemporaryDir>

#include "machine.grpc.pb.h"
#include "platform/core/UniqueFd.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/MachineSetup.h"
#include "proto/MachineAuth.h"
#include "proto/MachineProtocol.h"

namespace {

namespace fs = std::filesystem;
namespace pb = vornal::machine;

constexpr char kSecret[] = "correct horse battery";

// The metadata of one call, as a client would add it; each field can be spoiled.
struct Proof {
  std::string method;
  std::string domain = "TESTDOM";
  std::string secret = kSecret;
  std::int64_t time = vn::UnixNow();
  std::string nonce;

  void Sign(grpc::ClientContext* context) const {
    static int counter = 0;
    std::string n = nonce;
    if (n.empty()) {
      char text[33];
      std::snprintf(text, sizeof text, "%032x", ++counter + static_cast<int>(::getpid()) * 4096);
      n = text;
    }
    const std::string t = std::to_string(time);
    context->AddMetadata("vn-domain", domain);
    context->AddMetadata("vn-time", t);
    context->AddMetadata("vn-nonce", n);
    context->AddMetadata("vn-proof", vn::MakeCallProof(secret, method, domain, t, n));
  }
};

// One machine (SRV9 of TESTDOM, share "Data") served in this process on a free
// loopback port.
class MachineServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::path(m_dir.path().toStdString());
    const auto home = m_root / "home";
    for (const auto& dir : {home, m_root / "C", m_root / "D" / "Data"}) fs::create_directories(dir);
    std::ofstream(home / "machine.ini") << "[Machine]\nName=SRV9\nDomain=TESTDOM\nRole=server\n[Drives]\nC="
                                        << (m_root / "C").string() << ",fixed\nD=" << (m_root / "D").string()
                                        << ",fixed\n[Shares]\nData=D:\\Data\n";
    const vn::UniqueFd fd(::open((home / "secrets.ini").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::string secrets = std::string("[Secrets]\nTESTDOM=") + kSecret + "\n";
    ASSERT_EQ(::write(fd.Get(), secrets.data(), secrets.size()), static_cast<ssize_t>(secrets.size()));
    auto config = std::make_shared<vn::MachineConfig>();
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(home, config.get(), &error)) << error;
    config->port = 0;
    ASSERT_EQ(vn::InitialiseMachine(*config), ERROR_SUCCESS);
    m_server = std::make_unique<vn::MachineServer>(
        std::make_shared<vn::LocalMachine>(config, vn::RootAccess::SharesOnly), config);
    ASSERT_TRUE(m_server->Start(&error)) << error;
    grpc::ChannelArguments args;
    args.SetMaxSendMessageSize(64 * 1024 * 1024);
    m_stub = pb::Machine::NewStub(grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(m_server->Port()),
                                                            grpc::InsecureChannelCredentials(), args));
  }

  void TearDown() override {
    if (m_server) m_server->Shutdown();
  }

  fs::path Data() const { return m_root / "D" / "Data"; }

  // A signed unary call.
  template <typename Request, typename Reply>
  grpc::Status Call(grpc::Status (pb::Machine::Stub::*fn)(grpc::ClientContext*, const Request&, Reply*),
                    const char* method, const Request& request, Reply* reply) {
    grpc::ClientContext context;
    Proof{method}.Sign(&context);
    return ((*m_stub).*fn)(&context, request, reply);
  }

  QTemporaryDir m_dir;
  fs::path m_root;
  std::unique_ptr<vn::MachineServer> m_server;
  std::unique_ptr<pb::Machine::Stub> m_stub;
};

TEST_F(MachineServiceTest, OnlyCallsProvingTheDomainSecretAreServed) {
  pb::SetValueRequest set;
  set.set_key(vn::kRootKey);
  set.set_name("Planted");
  set.set_type(REG_SZ);
  set.set_data("x");
  const std::string usedNonce(32, 'a');
  struct Case {
    const char* what;
    bool sign;
    Proof proof;
    grpc::StatusCode expected;
  } cases[] = {
      {"no proof", false, {"SetValue"}, grpc::StatusCode::UNAUTHENTICATED},
      {"wrong secret", true, {"SetValue", "TESTDOM", "guess"}, grpc::StatusCode::PERMISSION_DENIED},
      {"another domain", true, {"SetValue", "OTHERDOM"}, grpc::StatusCode::PERMISSION_DENIED},
      {"domain in other case", true, {"SetValue", "testdom"}, grpc::StatusCode::PERMISSION_DENIED},
      {"proof of another call", true, {"QueryInfo"}, grpc::StatusCode::PERMISSION_DENIED},
      {"too old", true, {"SetValue", "TESTDOM", kSecret, vn::UnixNow() - 2 * vn::kProofWindowSeconds},
       grpc::StatusCode::PERMISSION_DENIED},
      {"from the future", true, {"SetValue", "TESTDOM", kSecret, vn::UnixNow() + 2 * vn::kProofWindowSeconds},
       grpc::StatusCode::PERMISSION_DENIED},
      {"malformed nonce", true, {"SetValue", "TESTDOM", kSecret, vn::UnixNow(), "not-hex!"},
       grpc::StatusCode::PERMISSION_DENIED},
  };
  for (const auto& c : cases) {
    grpc::ClientContext context;
    if (c.sign) c.proof.Sign(&context);
    pb::ErrorReply reply;
    EXPECT_EQ(m_stub->SetValue(&context, set, &reply).error_code(), c.expected) << c.what;
  }
  // Nothing was written by the refused calls.
  pb::QueryValueRequest query;
  query.set_key(vn::kRootKey);
  query.set_name("Planted");
  pb::ValueReply value;
  ASSERT_TRUE(Call(&pb::Machine::Stub::QueryValue, "QueryValue", query, &value).ok());
  EXPECT_EQ(value.error(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));

  // A recorded call is accepted once.
  const Proof recorded{"SetValue", "TESTDOM", kSecret, vn::UnixNow(), usedNonce};
  for (const auto expected : {grpc::StatusCode::OK, grpc::StatusCode::PERMISSION_DENIED}) {
    grpc::ClientContext context;
    recorded.Sign(&context);
    pb::ErrorReply reply;
    EXPECT_EQ(m_stub->SetValue(&context, set, &reply).error_code(), expected);
  }

  // Server information needs no proof.
  grpc::ClientContext context;
  pb::ServerInfoReply info;
  ASSERT_TRUE(m_stub->GetServerInfo(&context, pb::ServerInfoRequest(), &info).ok());
  EXPECT_EQ(info.server().name(), "SRV9");
  EXPECT_EQ(info.server().domain(), "TESTDOM");
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
    Proof{"WriteFile"}.Sign(&context);
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
    Proof{"ReadFile"}.Sign(&context);
    auto stream = m_stub->ReadFile(&context, request);
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
    Proof{"FindFiles"}.Sign(&context);
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
  Proof{"FindFiles"}.Sign(&context);
  auto stream = m_stub->FindFiles(&context, request);
  pb::FindFilesReply batch;
  ASSERT_TRUE(stream->Read(&batch));
  EXPECT_EQ(static_cast<LONG>(batch.error()), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(stream->Read(&batch));
  EXPECT_TRUE(stream->Finish().ok());
}

}  // namespace
