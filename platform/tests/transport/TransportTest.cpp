// The machine service's transport as an attacker meets it, with real services
// on loopback: connection floods past the descriptor limit, sustained load,
// recorded traffic replayed, names pointed at the wrong machine, plain TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/UniqueFd.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/registry/Registry.h"
#include "platform/transport/DataConnection.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"

namespace {

using vn::UniqueFd;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

sockaddr_in Loopback(const char* address, std::uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &in.sin_addr);
  return in;
}

// A TCP connection to 127.0.0.1:`port` from the loopback address `from`
// (any address of 127/8 is this host), not waited for.
UniqueFd ConnectFrom(const char* from, std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const sockaddr_in source = Loopback(from, 0);
  const sockaddr_in target = Loopback("127.0.0.1", port);
  if (!fd || ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) return {};
  ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
  return fd;
}

// Whether the service has closed the connection (read gives end of file or a reset).
bool ClosedByPeer(const UniqueFd& fd) {
  pollfd p{fd.Get(), POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char byte;
  const ssize_t n = ::recv(fd.Get(), &byte, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EINPROGRESS && errno != ENOTCONN);
}

// Everything the peer sends until it closes or `ceiling` ends, after `send`.
std::string Exchange(std::uint16_t port, const std::string& send) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in target = Loopback("127.0.0.1", port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) return "<no connection>";
  std::size_t done = 0;
  while (done < send.size()) {
    const ssize_t n = ::send(fd.Get(), send.data() + done, send.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::string received;
  char buffer[4096];
  for (;;) {
    pollfd p{fd.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(vn::testing::kWaitCeiling.count())) <= 0) break;
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

// One bit a relay changes on the first data connection through it.
struct Tamper {
  int side = -1;       // 0: what the client sends; 1: what it receives
  std::size_t at = 0;  // which byte of that direction
};

// A man in the middle on loopback: relays connections to a machine's port and
// keeps every byte that passes, each direction apart; and changes a bit on
// the way when told to.
class RecordingRelay {
 public:
  explicit RecordingRelay(std::uint16_t target, Tamper tamper = {}) : m_target(target), m_tamper(tamper) {
    m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback("127.0.0.1", 0);
    socklen_t length = sizeof address;
    ::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener.Get(), 16);
    ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    vn::PipeEnds stop = vn::MakePipe();
    m_stopRead = std::move(stop.read);
    m_stopWrite = std::move(stop.write);
    m_thread = std::thread([this] { Run(); });
  }
  ~RecordingRelay() {
    m_stopWrite.Reset();
    m_thread.join();
  }
  std::uint16_t Port() const { return m_port; }
  std::string Sent() {
    std::lock_guard lock(m_mutex);
    return m_sent;
  }
  std::string Received() {
    std::lock_guard lock(m_mutex);
    return m_received;
  }
  // What the client sent on its first connection.
  std::string FirstConnection() {
    std::lock_guard lock(m_mutex);
    return m_first;
  }
  bool Tampered() {
    std::lock_guard lock(m_mutex);
    return m_tampered;
  }

 private:
  void Run() {
    struct Link {
      UniqueFd client, server;
      bool first;
      std::size_t passed[2] = {0, 0};
      bool data = false;  // it began with the data connection preamble
    };
    std::vector<Link> links;
    for (;;) {
      std::vector<pollfd> fds{{m_stopRead.Get(), POLLIN, 0}, {m_listener.Get(), POLLIN, 0}};
      for (const auto& link : links) {
        fds.push_back({link.client.Get(), POLLIN, 0});
        fds.push_back({link.server.Get(), POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) return;
      const std::size_t polled = links.size();   // a link accepted now is polled next time
      if (fds[1].revents & POLLIN) {
        Link link{UniqueFd(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)),
                  UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), links.empty() && m_first.empty()};
        const sockaddr_in target = Loopback("127.0.0.1", m_target);
        if (link.client && ::connect(link.server.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
          links.push_back(std::move(link));
      }
      for (std::size_t i = 0; i < polled; ++i) {
        bool over = false;
        for (int side = 0; side < 2; ++side) {
          if (!fds[2 + 2 * i + side].revents) continue;
          const int from = side == 0 ? links[i].client.Get() : links[i].server.Get();
          const int to = side == 0 ? links[i].server.Get() : links[i].client.Get();
          char buffer[65536];
          const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
          if (n <= 0) {
            over = true;
            continue;
          }
          const auto got = static_cast<std::size_t>(n);
          Link& link = links[i];
          std::lock_guard lock(m_mutex);
          (side == 0 ? m_sent : m_received).append(buffer, got);
          if (side == 0 && link.passed[0] == 0)
            link.data = std::string_view(buffer, got).starts_with(vn::kDataPreamble);
          if (link.data && !m_tampered && side == m_tamper.side && m_tamper.at >= link.passed[side] &&
              m_tamper.at < link.passed[side] + got) {
            buffer[m_tamper.at - link.passed[side]] ^= 0x01;
            m_tampered = true;
          }
          link.passed[side] += got;
          if (::send(to, buffer, got, MSG_NOSIGNAL) != n) {
            over = true;
            continue;
          }
          if (side == 0 && links[i].first) m_first.append(buffer, static_cast<std::size_t>(n));
        }
        if (over) {
          links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
          break;  // the poll set no longer matches; poll again
        }
      }
    }
  }

  std::uint16_t m_target;
  Tamper m_tamper;
  bool m_tampered = false;
  std::uint16_t m_port = 0;
  UniqueFd m_listener, m_stopRead, m_stopWrite;
  std::mutex m_mutex;
  std::string m_sent, m_received, m_first;
  std::thread m_thread;
};

// How many descriptors a process holds.
std::size_t Descriptors(int pid) {
  std::error_code ec;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
       it.increment(ec))
    ++count;
  return count;
}

// The resident memory of a process, in KiB.
long ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return -1;
}

// One registry value of a machine, read through the console's connection.
std::string ValueOn(const char* machine, const char* name) {
  HKEY remote = nullptr, key = nullptr;
  if (RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &remote) != ERROR_SUCCESS) return "<unreachable>";
  std::string value(64, '\0');
  DWORD size = static_cast<DWORD>(value.size());
  LONG error = RegOpenKeyExA(remote, "SOFTWARE\\Transport", 0, KEY_READ, &key);
  if (error == ERROR_SUCCESS)
    error = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
  if (key) RegCloseKey(key);
  RegCloseKey(remote);
  if (error != ERROR_SUCCESS) return "<error " + std::to_string(error) + ">";
  value.resize(size ? size - 1 : 0);
  return value;
}

LONG SetValueOn(const char* machine, const char* name, const std::string& value) {
  HKEY remote = nullptr, key = nullptr;
  LONG error = RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &remote);
  if (error != ERROR_SUCCESS) return error;
  error = RegCreateKeyExA(remote, "SOFTWARE\\Transport", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (error == ERROR_SUCCESS)
    error = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  if (key) RegCloseKey(key);
  RegCloseKey(remote);
  return error;
}

// SALES: SRV1 and SRV2, SRV1 with a service limited to 256 descriptors
// (so at most 21 connections, 10 from one address, 32 file streams and 32
// relayed pipes). CONSOLE is of SALES.
class TransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}, {"--max-files", "256"}});
    s_net->Add({"SRV2", "SALES", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  void TearDown() override {
    s_net->Redirect("SRV1", 0);
    ASSERT_TRUE(s_net->IsRunning("SRV1") || s_net->Start("SRV1"));
  }

  // A connection of its own to SRV1's service, as the machine `identity` names.
  static std::unique_ptr<vn::RemoteMachine> Srv1As(std::shared_ptr<const vn::DomainCredentials> identity) {
    return std::make_unique<vn::RemoteMachine>("SRV1", "127.0.0.1:" + std::to_string(s_net->Machine("SRV1").port),
                                               "SALES", [identity](const std::string&) { return identity; });
  }

  static std::unique_ptr<MachineNetwork> s_net;
};

std::unique_ptr<MachineNetwork> TransportTest::s_net;

TEST_F(TransportTest, AFloodOfIdleConnectionsPastTheDescriptorLimitLeavesTheServiceAnswering) {
  // The flood outnumbers the service's 256 descriptors; this process needs
  // room for it.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit saved = limit;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  ASSERT_GE(limit.rlim_cur, 1024u) << "this host allows too few descriptors for the test";
  const std::uint16_t port = s_net->Machine("SRV1").port;
  const int pid = s_net->Pid("SRV1");
  const std::size_t baseline = Descriptors(pid);

  // 600 connections from one address that never say anything: all but the
  // per-address share are closed at once, and the service answers others.
  std::vector<UniqueFd> flood;
  for (int i = 0; i < 600; ++i) flood.push_back(ConnectFrom("127.0.0.2", port));
  const auto closed = [&] {
    std::size_t count = 0;
    for (const auto& fd : flood) count += ClosedByPeer(fd) ? 1 : 0;
    return count;
  };
  EXPECT_TRUE(WaitUntil([&] { return closed() >= 600 - 10; })) << closed() << " closed";
  EXPECT_EQ(SetValueOn("\\\\SRV1", "DuringFlood", "answered"), ERROR_SUCCESS);

  // Then from many addresses, past the total: new callers are turned away
  // while it lasts, but the accept loop goes on.
  for (int address = 3; address < 10; ++address)
    for (int i = 0; i < 100; ++i)
      flood.push_back(ConnectFrom(("127.0.0." + std::to_string(address)).c_str(), port));
  EXPECT_TRUE(WaitUntil([&] { return closed() >= flood.size() - 21; })) << closed() << " closed";

  // Those that got through are closed once their time to complete a
  // handshake is over: a silent caller keeps nothing, at either end (the
  // console's one connection, three descriptors, stays).
  EXPECT_TRUE(WaitUntil([&] { return closed() == flood.size() && Descriptors(pid) <= baseline + 3; },
                        std::chrono::seconds(40)))
      << flood.size() - closed() << " still open; the service holds " << Descriptors(pid) << " descriptors, "
      << baseline << " before";

  // The flood gone, a caller with a connection of its own is served.
  flood.clear();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  auto console = std::make_shared<vn::DomainCredentials>();
  std::string error;
  ASSERT_TRUE(vn::LoadCredentials(s_net->Console().home, "SALES", console.get(), &error)) << error;
  const auto fresh = Srv1As(console);
  std::vector<vn::ShareInfo> shares;
  EXPECT_TRUE(WaitUntil([&] { return fresh->EnumShares(&shares) == ERROR_SUCCESS; }));
  EXPECT_EQ(ValueOn("\\\\SRV1", "DuringFlood"), "answered");
}

TEST_F(TransportTest, MembersHoldingAllTheyMayLeaveDescriptorsForNewcomers) {
  // Machines of the domain that each hold as many files open through read
  // streams as they may (files larger than a stream's read-ahead, so the
  // service keeps them open), on as many connections as one address may
  // have: SRV1, with 256 descriptors, turns the streams away before it runs
  // out (its library's accept would give up for good the first time it
  // found none), and a newcomer is served meanwhile.
  const auto file = s_net->Machine("SRV1").ShareDir("Data") / "held.bin";
  std::ofstream(file).close();
  std::filesystem::resize_file(file, 64ull * 1024 * 1024);
  const auto member = [&](int number) {
    auto credentials = std::make_shared<vn::DomainCredentials>();
    std::string error;
    EXPECT_TRUE(vn::IssueCredentials(s_net->Authority("SALES"), "MEMBER" + std::to_string(number),
                                     credentials.get(), &error))
        << error;
    return Srv1As(credentials);
  };
  std::vector<std::unique_ptr<vn::RemoteMachine>> members;
  std::vector<std::unique_ptr<vn::FileReader>> held;
  std::vector<LONG> refusals;
  for (int number = 0; number < 8; ++number) {  // the console and the newcomer make ten
    members.push_back(member(number));
    for (int i = 0; i < 16; ++i) {
      std::unique_ptr<vn::FileReader> reader;
      if (const LONG error = members.back()->OpenRead({"Data", "held.bin"}, &reader); error != ERROR_SUCCESS) {
        refusals.push_back(error);
        break;
      }
      held.push_back(std::move(reader));
    }
  }
  ASSERT_FALSE(refusals.empty()) << held.size() << " files held open, none refused";
  for (const LONG error : refusals) EXPECT_EQ(error, ERROR_REQ_NOT_ACCEP);

  // Meanwhile a newcomer connects and is served, and so is the console.
  auto newcomer = member(99);
  std::vector<vn::ShareInfo> shares;
  EXPECT_EQ(newcomer->EnumShares(&shares), ERROR_SUCCESS);
  EXPECT_EQ(SetValueOn("\\\\SRV1", "WhileHeld", "answered"), ERROR_SUCCESS);

  // The files given back, streams are taken again.
  held.clear();
  std::unique_ptr<vn::FileReader> reader;
  LONG last = 0;
  EXPECT_TRUE(WaitUntil([&] { return (last = newcomer->OpenRead({"Data", "held.bin"}, &reader)) == ERROR_SUCCESS; })) << last;
  reader.reset();
  members.clear();
  std::filesystem::remove(file);
}

TEST_F(TransportTest, SustainedCallsAtFullSpeedAreNeverRefusedAndMemoryStaysBounded) {
  ASSERT_EQ(SetValueOn("\\\\SRV2", "Load", "steady"), ERROR_SUCCESS);
  HKEY remote = nullptr, key = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV2", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(remote, "SOFTWARE\\Transport", 0, KEY_READ, &key), ERROR_SUCCESS);
  // Four threads calling as fast as the service answers, a warm-up round and
  // then ten times as many calls: every one answered, and the service holds
  // no more memory at the end than a working set's worth.
  const auto round = [&](int callsPerThread) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        char value[16];
        for (int i = 0; i < callsPerThread; ++i) {
          DWORD size = sizeof value;
          if (RegQueryValueExA(key, "Load", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
            ++failures;
        }
      });
    for (auto& thread : threads) thread.join();
    return failures.load();
  };
  EXPECT_EQ(round(500), 0);
  const long warm = ResidentKiB(s_net->Pid("SRV2"));
  EXPECT_EQ(round(5000), 0);
  const long after = ResidentKiB(s_net->Pid("SRV2"));
  ASSERT_GT(warm, 0);
  // The address sanitizer keeps freed memory in quarantine: no bound there.
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kBoundKiB = 1024 * 1024;
#else
  constexpr long kBoundKiB = 16 * 1024;
#endif
  EXPECT_LT(after - warm, kBoundKiB) << "KiB resident: " << warm << " after the warm-up, " << after << " at the end";
  RegCloseKey(key);
  RegCloseKey(remote);
}

TEST_F(TransportTest, RecordedTrafficShowsNothingAndCannotBeReplayed) {
  std::random_device random;
  const std::string marker = "marker-" + std::to_string(random()) + "-" + std::to_string(random());
  std::string recorded;
  {
    RecordingRelay relay(s_net->Machine("SRV1").port);
    s_net->Redirect("SRV1", relay.Port());
    ASSERT_EQ(SetValueOn("\\\\SRV1", "Replayed", marker), ERROR_SUCCESS);
    std::shared_ptr<vn::MachineEndpoint> srv1;
    ASSERT_EQ(vn::FindMachine("\\\\SRV1", &srv1), ERROR_SUCCESS);
    // A file large enough to travel on a data connection of its own.
    std::string contents;
    while (contents.size() < 3 * 1024 * 1024) contents += marker + "\n";
    std::unique_ptr<vn::FileWriter> writer;
    ASSERT_EQ(srv1->OpenWrite({"Data", "contents.txt"}, false, &writer), ERROR_SUCCESS);
    for (std::size_t at = 0; at < contents.size(); at += 100000) {
      const std::size_t n = std::min<std::size_t>(100000, contents.size() - at);
      ASSERT_EQ(writer->Write({reinterpret_cast<const BYTE*>(contents.data() + at), n}), ERROR_SUCCESS);
    }
    ASSERT_EQ(writer->Commit(0), ERROR_SUCCESS);
    writer.reset();
    EXPECT_EQ(ValueOn("\\\\SRV1", "Replayed"), marker);
    std::ifstream written(s_net->Machine("SRV1").ShareDir("Data") / "contents.txt", std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(written), {}) == contents) << "the file arrived changed";
    // Nothing of the value, the file or the names crossed in clear, either way.
    EXPECT_GT(relay.Sent().size(), contents.size()) << "the file went around the relay";
    for (const std::string& bytes : {relay.Sent(), relay.Received()}) {
      EXPECT_GT(bytes.size(), 1000u);
      for (const std::string& word : {marker, std::string("Transport"), std::string("contents.txt")})
        EXPECT_EQ(bytes.find(word), std::string::npos) << word;
    }
    recorded = relay.FirstConnection();
    ASSERT_GE(recorded.size(), 2u);
    EXPECT_EQ(recorded[0], '\x16') << "not a TLS handshake";
    s_net->Redirect("SRV1", 0);
  }
  ASSERT_EQ(SetValueOn("\\\\SRV1", "Replayed", "after"), ERROR_SUCCESS);

  // The recording, played again to SRV1 after a restart and to SRV2, changes
  // nothing: the handshake it holds was for keys neither side keeps.
  s_net->Stop("SRV1");
  ASSERT_TRUE(s_net->Start("SRV1"));
  Exchange(s_net->Machine("SRV1").port, recorded);
  Exchange(s_net->Machine("SRV2").port, recorded);
  EXPECT_EQ(ValueOn("\\\\SRV1", "Replayed"), "after");
  EXPECT_EQ(ValueOn("\\\\SRV2", "Replayed"), "<error 2>");

  // A client that speaks HTTP/2 in clear gets no HTTP/2 back: at most a TLS alert.
  const std::string reply = Exchange(s_net->Machine("SRV1").port,
                                     std::string("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") + std::string("\0\0\0\4\0\0\0\0\0", 9));
  EXPECT_TRUE(reply.empty() || reply[0] == '\x15') << "answered in clear: " << reply.size() << " bytes";
}

// A file large enough for a data connection, each way through a relay that
// changes one bit of it a megabyte in: the copy fails, nothing changed is
// kept or given out, and the next copy goes through.
TEST_F(TransportTest, ABitChangedOnADataConnectionFailsTheTransferAndNothingChangedIsKept) {
  const std::string contents(3 * 1024 * 1024, 'v');
  const auto share = s_net->Machine("SRV1").ShareDir("Data");
  const auto copyThrough = [&](vn::MachineEndpoint& srv1, const char* name) {
    std::unique_ptr<vn::FileWriter> writer;
    LONG error = srv1.OpenWrite({"Data", name}, false, &writer);
    for (std::size_t at = 0; error == ERROR_SUCCESS && at < contents.size(); at += 512 * 1024)
      error = writer->Write({reinterpret_cast<const BYTE*>(contents.data() + at), 512 * 1024});
    return error == ERROR_SUCCESS ? writer->Commit(0) : error;
  };
  const auto readThrough = [&](vn::MachineEndpoint& srv1, const char* name, std::string* read) {
    std::unique_ptr<vn::FileReader> reader;
    LONG error = srv1.OpenRead({"Data", name}, &reader);
    std::vector<BYTE> buffer(1024 * 1024);
    for (std::size_t got = 1; error == ERROR_SUCCESS && got > 0;) {
      error = reader->Read(buffer, &got);
      read->append(reinterpret_cast<const char*>(buffer.data()), error == ERROR_SUCCESS ? got : 0);
    }
    return error;
  };
  std::ofstream(share / "source.bin", std::ios::binary) << contents;

  for (const int side : {0, 1}) {
    SCOPED_TRACE(side == 0 ? "written" : "read");
    RecordingRelay relay(s_net->Machine("SRV1").port, {side, 1024 * 1024});
    s_net->Redirect("SRV1", relay.Port());
    std::shared_ptr<vn::MachineEndpoint> srv1;
    ASSERT_EQ(vn::FindMachine("\\\\SRV1", &srv1), ERROR_SUCCESS);
    if (side == 0) {
      EXPECT_NE(copyThrough(*srv1, "changed.bin"), ERROR_SUCCESS);
      EXPECT_FALSE(std::filesystem::exists(share / "changed.bin"));
    } else {
      std::string read;
      EXPECT_NE(readThrough(*srv1, "source.bin", &read), ERROR_SUCCESS);
      EXPECT_LT(read.size(), contents.size());
      EXPECT_EQ(read.find_first_not_of('v'), std::string::npos) << "a changed byte was given out";
    }
    EXPECT_TRUE(relay.Tampered());
    s_net->Redirect("SRV1", 0);
  }

  std::shared_ptr<vn::MachineEndpoint> srv1;
  ASSERT_EQ(vn::FindMachine("\\\\SRV1", &srv1), ERROR_SUCCESS);
  EXPECT_EQ(copyThrough(*srv1, "whole.bin"), ERROR_SUCCESS);
  std::string read;
  EXPECT_EQ(readThrough(*srv1, "whole.bin", &read), ERROR_SUCCESS);
  EXPECT_TRUE(read == contents);
  for (const char* name : {"source.bin", "whole.bin"}) std::filesystem::remove(share / name);
}

TEST_F(TransportTest, RefusedHandshakesCannotFillTheServicesLog) {
  const auto log = s_net->Machine("SRV2").home / "vnmachined.log";
  const auto handshakeLines = [&] {
    std::ifstream in(log);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) count += line.find("andshake") != std::string::npos ? 1 : 0;
    return count;
  };
  const std::size_t before = handshakeLines();
  // Each of these is a handshake the service refuses, and the library logs.
  for (int i = 0; i < 150; ++i) Exchange(s_net->Machine("SRV2").port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  // A call answered after them: the service is still there, and what it
  // logged for them is in the file.
  EXPECT_EQ(SetValueOn("\\\\SRV2", "AfterNoise", "x"), ERROR_SUCCESS);
  EXPECT_LE(handshakeLines() - before, 40u);
}

TEST_F(TransportTest, AMachineAnsweringForAnotherIsRefusedAndAnEmptyPortIsUnreachable) {
  // SRV1's name pointed at SRV2, a member of the same domain: SRV2 cannot
  // present SRV1's certificate, so nothing meant for SRV1 reaches it.
  s_net->Redirect("SRV1", s_net->Machine("SRV2").port);
  HKEY remote = nullptr;
  EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetValueOn("\\\\SRV1", "Misdirected", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ValueOn("\\\\SRV2", "Misdirected"), "<error 2>");

  // A port nobody listens on stays "not found".
  s_net->Stop("SRV1");
  s_net->Redirect("SRV1", 0);
  EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_BAD_NETPATH);
  ASSERT_TRUE(s_net->Start("SRV1"));
  EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  RegCloseKey(remote);
}

}  // namespace
