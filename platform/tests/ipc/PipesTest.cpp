#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/core/UniqueFd.h"
#include "platform/ipc/PipeWatcher.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "testing/TempMachineHome.h"
#include "testing/TestPipes.h"
#include "testing/Wait.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using vn::testing::OpenPipe;
using vn::testing::OpenPipeWhenFree;
using vn::testing::Receive;
using vn::testing::Send;
using vn::testing::WaitUntil;

constexpr DWORD kMessageMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

std::string Local(const std::string& name) { return "\\\\.\\pipe\\" + name; }

HANDLE Serve(const std::string& name, DWORD instances, DWORD size = 260) {
  return CreateNamedPipeA(Local(name).c_str(), PIPE_ACCESS_DUPLEX, kMessageMode, instances, size, size, 0, nullptr);
}

DWORD ConnectResult(HANDLE pipe) { return ConnectNamedPipe(pipe, nullptr) ? 0 : GetLastError(); }

// A server that answers each client's messages with "echo:" + message until
// the client goes, then takes the next.
DWORD EchoServer(HANDLE pipe, int clients) {
  for (int i = 0; i < clients; ++i) {
    const DWORD connected = ConnectResult(pipe);
    if (connected != 0 && connected != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) return connected;
    for (;;) {
      const std::string message = Receive(pipe);
      if (message.starts_with("<error")) break;
      if (!Send(pipe, "echo:" + message)) break;
    }
    DisconnectNamedPipe(pipe);
  }
  return 0;
}

TEST(PipeTest, ServerTakesClientsInTurn) {
  vn::testing::TempMachineHome home("TESTPC");
  HANDLE pipe = Serve("Echo", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  auto server = std::async(std::launch::async, EchoServer, pipe, 3);

  // The same pipe under each of its spellings.
  const std::string names[] = {Local("Echo"), "\\\\TESTPC\\pipe\\ECHO", "//testpc/PIPE/echo"};
  for (const std::string& name : names) {
    HANDLE client = OpenPipeWhenFree(name);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
    EXPECT_TRUE(Send(client, "hello " + name));
    EXPECT_EQ(Receive(client), "echo:hello " + name);
    EXPECT_TRUE(Send(client, ""));
    EXPECT_EQ(Receive(client), "echo:") << "an empty message is a message";
    EXPECT_TRUE(CloseHandle(client));
  }
  EXPECT_EQ(server.get(), 0u);
  EXPECT_TRUE(fs::exists(home.path() / "pipes" / "ECHO"));
  EXPECT_TRUE(CloseHandle(pipe));
  EXPECT_FALSE(fs::exists(home.path() / "pipes" / "ECHO")) << "the last instance removes the socket";
  EXPECT_EQ(OpenPipe(Local("Echo")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The server learns who its client is: this machine and the client's
// process, or the caller the machine service opened the pipe for.
TEST(PipeTest, TheServerKnowsItsClientsComputerAndProcess) {
  vn::testing::TempMachineHome home("TESTPC");
  HANDLE pipe = Serve("Who", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  char computer[64] = {};
  ULONG process = 0;
  EXPECT_FALSE(GetNamedPipeClientProcessId(pipe, &process));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));

  const struct {
    bool forClient;
    std::string expectedComputer;
    ULONG expectedProcess;
  } clients[] = {
      {false, "TESTPC", static_cast<ULONG>(::getpid())},
      {true, "SRV9", 4242},
  };
  for (const auto& c : clients) {
    auto connected = std::async(std::launch::async, ConnectResult, pipe);
    // Should a check below fail, closing the instance wakes the connect
    // (before the future waits for it).
    struct CloseOnFailure {
      HANDLE& pipe;
      ~CloseOnFailure() {
        if (::testing::Test::HasFatalFailure() && pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
      }
    } guard{pipe};
    ASSERT_TRUE(WaitNamedPipeA(Local("Who").c_str(), 5000)) << GetLastError();
    HANDLE client = c.forClient ? vn::OpenPipeForClient(Local("Who").c_str(), GENERIC_READ | GENERIC_WRITE,
                                                        {c.expectedComputer, c.expectedProcess})
                                : OpenPipe(Local("Who"));
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    const DWORD result = connected.get();
    ASSERT_TRUE(result == 0 || result == static_cast<DWORD>(ERROR_PIPE_CONNECTED)) << result;
    ASSERT_TRUE(GetNamedPipeClientComputerNameA(pipe, computer, sizeof computer)) << GetLastError();
    EXPECT_EQ(computer, c.expectedComputer);
    ASSERT_TRUE(GetNamedPipeClientProcessId(pipe, &process));
    EXPECT_EQ(process, c.expectedProcess);
    // Asked of a client end, or into too little room.
    EXPECT_FALSE(GetNamedPipeClientProcessId(client, &process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_FALSE(GetNamedPipeClientComputerNameA(pipe, computer, static_cast<ULONG>(c.expectedComputer.size())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(DisconnectNamedPipe(pipe));
  }
  // Names that are no computer names are refused before the pipe is asked.
  for (const std::string& bad : {std::string(), std::string(256, 'A'), std::string("A\nB"), std::string("\x7f")}) {
    EXPECT_EQ(vn::OpenPipeForClient(Local("Who").c_str(), GENERIC_READ, {bad, 1}), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_TRUE(CloseHandle(pipe));
}

TEST(PipeTest, ClientBreakingOffLeavesTheInstanceForTheNext) {
  vn::testing::TempMachineHome home;
  HANDLE pipe = Serve("Channel", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Receive(pipe), "<error 536>") << "no client yet";

  HANDLE first = OpenPipe(Local("Channel"));
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ConnectResult(pipe), static_cast<DWORD>(ERROR_PIPE_CONNECTED)) << "the client came first";
  ASSERT_TRUE(Send(first, "half of a conversation"));
  EXPECT_TRUE(CloseHandle(first));

  EXPECT_EQ(Receive(pipe), "half of a conversation") << "what was sent before leaving still arrives";
  EXPECT_EQ(Receive(pipe), "<error 109>");
  EXPECT_FALSE(Send(pipe, "anyone?"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
  ASSERT_TRUE(DisconnectNamedPipe(pipe));
  EXPECT_EQ(Receive(pipe), "<error 233>");

  auto connected = std::async(std::launch::async, ConnectResult, pipe);
  HANDLE second = OpenPipeWhenFree(Local("Channel"));
  ASSERT_NE(second, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(connected.get(), 0u);
  ASSERT_TRUE(Send(second, "from the second"));
  EXPECT_EQ(Receive(pipe), "from the second");
  ASSERT_TRUE(Send(pipe, "reply"));
  EXPECT_EQ(Receive(second), "reply");

  // The server dropping its client: the client learns the pipe is broken.
  ASSERT_TRUE(DisconnectNamedPipe(pipe));
  EXPECT_EQ(Receive(second), "<error 109>");
  EXPECT_FALSE(Send(second, "too late"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(pipe));
}

TEST(PipeTest, BusyUntilAnInstanceIsFree) {
  vn::testing::TempMachineHome home;
  HANDLE pipe = Serve("Busy", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Serve("busy", 1), INVALID_HANDLE_VALUE) << "one instance too many";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));

  EXPECT_TRUE(WaitNamedPipeA(Local("Busy").c_str(), 0)) << "a new instance is free";
  HANDLE first = OpenPipe(Local("Busy"));
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPipe(Local("Busy")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  EXPECT_FALSE(WaitNamedPipeA(Local("Busy").c_str(), 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_FALSE(WaitNamedPipeA(Local("Busy").c_str(), NMPWAIT_USE_DEFAULT_WAIT)) << "50 ms by default";

  auto waited = std::async(std::launch::async, [] { return WaitNamedPipeA(Local("Busy").c_str(), 10000); });
  EXPECT_EQ(waited.wait_for(100ms), std::future_status::timeout);
  // The server lets the first client go and waits for the next: the waiter
  // is told at once.
  ASSERT_EQ(ConnectResult(pipe), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
  ASSERT_TRUE(DisconnectNamedPipe(pipe));
  auto connected = std::async(std::launch::async, ConnectResult, pipe);
  ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(waited.get());
  HANDLE second = OpenPipe(Local("Busy"));
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(connected.get(), 0u);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));

  // Two instances take two clients; the third is busy.
  HANDLE more = Serve("Two", 2);
  HANDLE other = Serve("two", 2);
  ASSERT_NE(more, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  HANDLE a = OpenPipe(Local("Two"));
  HANDLE b = OpenPipe(Local("Two"));
  EXPECT_NE(a, INVALID_HANDLE_VALUE);
  EXPECT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPipe(Local("Two")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  for (HANDLE h : {a, b, more, other, pipe}) EXPECT_TRUE(CloseHandle(h));
}

TEST(PipeTest, NamesThatLeadNowhere) {
  vn::testing::TempMachineHome home("TESTPC");
  struct Case {
    std::string name;
    LONG open;  // CreateFileA
    LONG wait;  // WaitNamedPipeA
  };
  const Case cases[] = {
      {Local("Nobody"), ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"\\\\OTHERPC\\pipe\\Channel", ERROR_BAD_NETPATH, ERROR_BAD_NETPATH},
      {"C:\\Temp\\file.txt", ERROR_NOT_SUPPORTED, ERROR_INVALID_NAME},
      {"\\\\.\\pipe\\", ERROR_INVALID_NAME, ERROR_INVALID_NAME},
      {"\\\\.\\pipes\\x", ERROR_NOT_SUPPORTED, ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenPipe(c.name), INVALID_HANDLE_VALUE) << c.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.open)) << c.name;
    EXPECT_FALSE(WaitNamedPipeA(c.name.c_str(), 10)) << c.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.wait)) << c.name;
  }
  // A server makes pipes of this machine only, in message mode.
  EXPECT_EQ(CreateNamedPipeA("\\\\OTHERPC\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessageMode, 1, 0, 0, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(CreateNamedPipeA(Local("x").c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(Serve("x", 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Names with characters a file name cannot hold, and a very long one.
  for (const std::string& name : {std::string("a\\b/c:d*?<>|\"%"), std::string(256, 'n')}) {
    HANDLE pipe = Serve(name, 1);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << name;
    HANDLE client = OpenPipe(Local(name));
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << name;
    EXPECT_TRUE(Send(client, "x"));
    EXPECT_EQ(Receive(pipe), "x");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(pipe));
  }
}

TEST(PipeTest, SocketLeftByAKilledServerDoesNotBlockTheNext) {
  vn::testing::TempMachineHome home;
  // What a killed server leaves: a socket file nobody listens on.
  fs::create_directories(home.path() / "pipes");
  const fs::path stale = home.path() / "pipes" / "STALE";
  {
    const vn::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ASSERT_TRUE(fs::exists(stale));

  EXPECT_EQ(OpenPipe(Local("stale")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE pipe = Serve("stale", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  HANDLE client = OpenPipe(Local("stale"));
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(client));
  EXPECT_TRUE(CloseHandle(pipe));
}

TEST(PipeTest, MessagesLongerThanTheBufferAreRefusedCleanly) {
  vn::testing::TempMachineHome home;
  HANDLE pipe = Serve("Small", 1, 16);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  HANDLE client = OpenPipe(Local("Small"));
  ASSERT_NE(client, INVALID_HANDLE_VALUE);

  // Writers: more than the pipe's buffer is refused and nothing is sent.
  const std::string tooLong(17, 'x');
  for (HANDLE writer : {client, pipe}) {
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(writer, tooLong.data(), 17, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(written, 0u);
  }
  ASSERT_TRUE(Send(client, std::string(16, 'a')));
  EXPECT_EQ(Receive(pipe), std::string(16, 'a')) << "the refused message never arrived";
  ASSERT_TRUE(Send(pipe, std::string(16, 'b')));
  EXPECT_EQ(Receive(client), std::string(16, 'b'));

  // Readers: a buffer too small for a message gets it in parts, each but the
  // last with ERROR_MORE_DATA; the message after it is intact.
  ASSERT_TRUE(Send(client, "0123456789"));
  ASSERT_TRUE(Send(client, "next"));
  char part[4];
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(pipe, part, 4, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(std::string(part, read), "0123");
  EXPECT_FALSE(ReadFile(pipe, part, 4, &read, nullptr));
  EXPECT_EQ(std::string(part, read), "4567");
  EXPECT_TRUE(ReadFile(pipe, part, 4, &read, nullptr));
  EXPECT_EQ(std::string(part, read), "89");
  EXPECT_EQ(Receive(pipe), "next");

  EXPECT_TRUE(CloseHandle(client));
  EXPECT_TRUE(CloseHandle(pipe));
}

TEST(PipeTest, ClosingTheHandleWakesBlockedCalls) {
  vn::testing::TempMachineHome home;
  HANDLE pipe = Serve("Shutdown", 1);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  auto connect = std::async(std::launch::async, ConnectResult, pipe);
  EXPECT_EQ(connect.wait_for(100ms), std::future_status::timeout);
  ASSERT_TRUE(CloseHandle(pipe));
  ASSERT_EQ(connect.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(connect.get(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A server blocked reading a client that says nothing, and that client
  // blocked reading too.
  pipe = Serve("Shutdown", 1);
  HANDLE client = OpenPipe(Local("Shutdown"));
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  auto serverRead = std::async(std::launch::async, [pipe] { return Receive(pipe); });
  auto clientRead = std::async(std::launch::async, [client] { return Receive(client); });
  EXPECT_EQ(serverRead.wait_for(100ms), std::future_status::timeout);
  ASSERT_TRUE(CloseHandle(pipe));
  ASSERT_EQ(serverRead.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(serverRead.get(), "<error 6>");
  ASSERT_EQ(clientRead.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(clientRead.get(), "<error 109>") << "the server is gone";
  EXPECT_TRUE(CloseHandle(client));
}

// Stands in for the machine service: hands out one end of a socket pair and
// answers on the other end as the remote server would.
class FakeForwarder : public vn::RemotePipeConnector {
 public:
  LONG Open(std::string_view machine, std::string_view pipe, DWORD, int* socket, vn::PipeInfo* info) override {
    if (machine != "FARPC") return ERROR_BAD_NETPATH;
    if (pipe != "Progress") return ERROR_FILE_NOT_FOUND;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return ERROR_GEN_FAILURE;
    *socket = ends[0];
    info->inBufferSize = 8;
    info->outBufferSize = 64;
    m_server = std::thread([fd = vn::UniqueFd(ends[1])] {
      char record[64];
      const ssize_t n = ::recv(fd.Get(), record, sizeof record, 0);
      if (n > 0) {
        std::string reply = "Dgot:" + std::string(record, static_cast<std::size_t>(n));
        ::send(fd.Get(), reply.data(), reply.size(), MSG_NOSIGNAL);
      }
    });
    return ERROR_SUCCESS;
  }
  LONG Wait(std::string_view, std::string_view, DWORD) override { return ERROR_SEM_TIMEOUT; }
  ~FakeForwarder() override {
    if (m_server.joinable()) m_server.join();
  }

 private:
  std::thread m_server;
};

TEST(PipeTest, PipesOfOtherMachinesGoThroughTheConnector) {
  vn::testing::TempMachineHome home;
  auto forwarder = std::make_shared<FakeForwarder>();
  const auto previous = vn::SetRemotePipeConnector(forwarder);
  ASSERT_NE(previous, nullptr) << "the machine directory installs one";
  EXPECT_EQ(OpenPipe("\\\\NEARPC\\pipe\\Progress"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_FALSE(WaitNamedPipeA("\\\\FARPC\\pipe\\Progress", 10));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));

  HANDLE client = OpenPipe("\\\\FARPC\\pipe\\Progress");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Send(client, "123456789")) << "the remote server's buffer is 8 bytes";
  ASSERT_TRUE(Send(client, "1234"));
  // The forwarder sees the message as one record, in the documented framing.
  EXPECT_EQ(Receive(client), "got:D1234");
  EXPECT_EQ(Receive(client), "<error 109>");
  EXPECT_TRUE(CloseHandle(client));
  vn::SetRemotePipeConnector(nullptr);
  EXPECT_EQ(OpenPipe("\\\\FARPC\\pipe\\Progress"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  vn::SetRemotePipeConnector(previous);
}

// The console's progress channel: one instance of an unlimited pipe, progress
// texts answered with "CANCEL" once after a Cancel, ended by "Disconnect".
struct Channel {
  HANDLE cancel;
  HANDLE done;
  std::string pipeName;
  std::vector<std::string> texts;
};

DWORD ChannelThread(LPVOID parameter) {
  auto* channel = static_cast<Channel*>(parameter);
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE pipe = CreateNamedPipeA(channel->pipeName.c_str(), PIPE_ACCESS_DUPLEX, kMessageMode,
                                 PIPE_UNLIMITED_INSTANCES, 260, 260, 0, &sa);
  if (pipe == INVALID_HANDLE_VALUE) return GetLastError();
  for (bool stop = false; !stop;) {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) continue;
    for (;;) {
      char text[260] = {};
      DWORD read = 0;
      if (!ReadFile(pipe, text, sizeof text, &read, nullptr) || read == 0) {
        DisconnectNamedPipe(pipe);
        break;
      }
      if (std::strcmp(text, "Disconnect") == 0) {
        DisconnectNamedPipe(pipe);
        stop = true;
        break;
      }
      char reply[40] = {};
      if (WaitForSingleObject(channel->cancel, 0) == WAIT_OBJECT_0) std::strcpy(reply, "CANCEL");
      DWORD written = 0;
      (void)WriteFile(pipe, reply, sizeof reply, &written, nullptr);  // a client that has gone fails the next read
      channel->texts.emplace_back(text);
    }
  }
  CloseHandle(pipe);
  SetEvent(channel->done);
  return 0;
}

std::string Progress(HANDLE client, const char* text) {
  DWORD written = 0;
  if (!WriteFile(client, text, static_cast<DWORD>(std::strlen(text) + 1), &written, nullptr)) return "<write failed>";
  char reply[260] = {};
  DWORD read = 0;
  if (!ReadFile(client, reply, sizeof reply, &read, nullptr) || read != 40) return "<read failed>";
  return reply;
}

TEST(PipeTest, ConsoleProgressChannel) {
  vn::testing::TempMachineHome home("CONSOLE");
  Channel channel{CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr),
                  "\\\\.\\pipe\\1733400000", {}};
  const std::string remoteName = "\\\\CONSOLE\\pipe\\1733400000";
  HANDLE thread = CreateThread(nullptr, 0, &ChannelThread, &channel, 0, nullptr);
  ASSERT_NE(thread, nullptr);

  // The channel thread creates the pipe when it gets to run.
  HANDLE server = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(WaitUntil([&] { return (server = OpenPipe(remoteName)) != INVALID_HANDLE_VALUE; })) << GetLastError();
  EXPECT_EQ(Progress(server, "Scanning C:\\"), "");
  ASSERT_TRUE(SetEvent(channel.cancel));
  EXPECT_EQ(Progress(server, "Scanning D:\\"), "CANCEL");
  EXPECT_EQ(Progress(server, "Scanning E:\\"), "") << "one Cancel is answered once";

  // The report thread closing the channel while a server still holds the
  // only instance: busy, wait, retry.
  auto closer = std::async(std::launch::async, [&] {
    HANDLE pipe = OpenPipe(channel.pipeName);
    while (pipe == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_PIPE_BUSY)) {
      (void)WaitNamedPipeA(remoteName.c_str(), NMPWAIT_USE_DEFAULT_WAIT);  // the next open tells
      pipe = OpenPipe(channel.pipeName);
    }
    if (pipe == INVALID_HANDLE_VALUE) return GetLastError();
    char message[20] = "Disconnect";
    DWORD written = 0;
    const BOOL sent = WriteFile(pipe, message, sizeof message, &written, nullptr);
    CloseHandle(pipe);
    return sent ? DWORD{0} : GetLastError();
  });
  EXPECT_EQ(WaitForSingleObject(channel.done, 200), WAIT_TIMEOUT) << "the channel ended while a server held it";
  EXPECT_TRUE(CloseHandle(server));
  EXPECT_EQ(closer.get(), 0u);

  EXPECT_EQ(WaitForSingleObject(channel.done, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 99;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"Scanning C:\\", "Scanning D:\\", "Scanning E:\\"}));
  EXPECT_FALSE(fs::exists(home.path() / "pipes" / "1733400000"));
  for (HANDLE h : {thread, channel.cancel, channel.done}) EXPECT_TRUE(CloseHandle(h));
}

}  // namespace

// A client end without waiting, told by one watcher when to read and write:
// the way the machine service relays pipes without a thread each.
TEST(PipeTest, NonBlockingClientWithWatcher) {
  vn::testing::TempMachineHome home("TESTPC");
  HANDLE server = Serve("Quiet", 1, 1024);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = OpenPipe(Local("Quiet"));
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD badMode = PIPE_NOWAIT;
  EXPECT_FALSE(SetNamedPipeHandleState(client, &badMode, nullptr, nullptr)) << "byte read mode is not offered";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));

  char buffer[1024];
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(client, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA)) << "nothing there: no wait";

  vn::PipeWatcher watcher;
  std::atomic<bool> readable{false};
  ASSERT_EQ(watcher.Watch(client, vn::PipeWatcher::Event::Readable, [&] { readable = true; }), ERROR_SUCCESS);
  EXPECT_TRUE(Send(server, "first"));
  ASSERT_TRUE(WaitUntil([&] { return readable.load(); }));
  ASSERT_TRUE(ReadFile(client, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "first");

  // Writing until the pipe has no room: a message is sent whole or not at all.
  const std::string message(1000, 'x');
  DWORD written = 0;
  int sent = 0;
  for (; sent < 100000; ++sent) {
    ASSERT_TRUE(WriteFile(client, message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
        << GetLastError();
    if (written == 0) break;
    ASSERT_EQ(written, message.size());
  }
  ASSERT_EQ(written, 0u) << "the pipe never filled";
  std::atomic<bool> writable{false};
  ASSERT_EQ(watcher.Watch(client, vn::PipeWatcher::Event::Writable, [&] { writable = true; }), ERROR_SUCCESS);
  for (int i = 0; i < sent; ++i) ASSERT_EQ(Receive(server, 1024), message) << "message " << i;
  ASSERT_TRUE(WaitUntil([&] { return writable.load(); }));
  ASSERT_TRUE(WriteFile(client, message.data(), static_cast<DWORD>(message.size()), &written, nullptr));
  EXPECT_EQ(written, message.size());
  EXPECT_EQ(Receive(server, 1024), message);

  // The server going away is news for a reader too.
  readable = false;
  ASSERT_EQ(watcher.Watch(client, vn::PipeWatcher::Event::Readable, [&] { readable = true; }), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(server));
  ASSERT_TRUE(WaitUntil([&] { return readable.load(); }));
  EXPECT_FALSE(ReadFile(client, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  watcher.Forget(client);
  EXPECT_TRUE(CloseHandle(client));
  EXPECT_EQ(watcher.Watch(client, vn::PipeWatcher::Event::Readable, [] {}), ERROR_INVALID_HANDLE);
}
