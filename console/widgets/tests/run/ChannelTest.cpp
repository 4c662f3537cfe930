// The progress channel on its own: a client of the run's pipe, as a server
// is, talking to MessageThreadProc on its thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <cstring>
#include <string>
#include <vector>

#include "console/widgets/run/ReportRun.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "platform/machine/Machine.h"
#include "testing/TestPipes.h"
#include "testing/Wait.h"

namespace {

using vn::testing::Receive;
using vn::testing::Send;
using vn::testing::WaitUntil;

struct Channel {
  explicit Channel(bool withWindows) {
    cancel = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto* entry = new ProgressChannelEntry;
    entry->hCancelEvent = cancel;
    entry->hDoneEvent = done;
    if (withWindows) {
      notify = std::make_unique<CWindowHandle>(&notifyObject, [this](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_REPORT_CHANNEL_CLOSED) ++closed;
        return 0;
      });
      status = std::make_unique<CWindowHandle>(&statusObject, [this](UINT message, WPARAM, LPARAM text) -> LRESULT {
        if (message == WM_SETTEXT) texts.emplace_back(TextOf(text));
        return 1;
      });
      entry->hNotifyWnd = notify->GetSafeHwnd();
      entry->hStatusWnd = status->GetSafeHwnd();
    }
    SetRunPipeNames(&names, entry);
    name = entry->szPipeName;
    thread = CreateThread(
        nullptr, 0, [](LPVOID p) -> DWORD { return MessageThreadProc(static_cast<ProgressChannelEntry*>(p)); }, entry,
        0, nullptr);
  }

  ~Channel() {
    if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) {
      HANDLE pipe = vn::testing::OpenPipeWhenFree(name);
      EXPECT_TRUE(Send(pipe, std::string("Disconnect") + '\0'));
      CloseHandle(pipe);
      EXPECT_TRUE(WaitUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }))
          << "the channel thread did not end";
    }
    CloseHandle(thread);
    CloseHandle(cancel);
    CloseHandle(done);
  }

  HANDLE Open() const {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    const bool opened = WaitUntil([&] {
      pipe = vn::testing::OpenPipe(name);
      return pipe != INVALID_HANDLE_VALUE;
    });
    return opened ? pipe : INVALID_HANDLE_VALUE;
  }

  // Sends a progress text and returns the reply with its trailing NULs cut.
  static std::string Say(HANDLE pipe, const std::string& text) {
    EXPECT_TRUE(Send(pipe, text + '\0'));
    const std::string reply = Receive(pipe, 260);
    EXPECT_EQ(reply.size(), 40u) << reply;
    return reply.substr(0, reply.find('\0'));
  }

  bool Ended() const { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

  QObject notifyObject, statusObject;
  std::unique_ptr<CWindowHandle> notify, status;
  HANDLE cancel = nullptr, done = nullptr, thread = nullptr;
  ReportRunContext names;  // the pipe names a report thread of this run gets
  std::string name;
  std::vector<std::string> texts;
  int closed = 0;
};

TEST(ChannelTest, CancelIsAnsweredOnceAndTextsReachTheStatusWindow) {
  Channel channel(true);
  HANDLE pipe = channel.Open();
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Channel::Say(pipe, "All Files on SRV1: starting"), "");
  SetEvent(channel.cancel);
  EXPECT_EQ(Channel::Say(pipe, "Scanning \\\\SRV1\\Data: 10 files"), "CANCEL");
  EXPECT_EQ(Channel::Say(pipe, "Scanning \\\\SRV1\\Data: 20 files"), "");
  EXPECT_TRUE(WaitUntil([&] {
    QCoreApplication::processEvents();
    return channel.texts.size() == 3;
  }));
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"All Files on SRV1: starting", "Scanning \\\\SRV1\\Data: 10 files",
                                                     "Scanning \\\\SRV1\\Data: 20 files"}));

  // A client that breaks off leaves the channel open for the next.
  CloseHandle(pipe);
  pipe = channel.Open();
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Channel::Say(pipe, "still here"), "");

  // "Disconnect" ends it: the close is posted, the done event set.
  EXPECT_EQ(channel.closed, 0);
  ASSERT_TRUE(Send(pipe, std::string("Disconnect") + '\0'));
  CloseHandle(pipe);
  EXPECT_TRUE(WaitUntil([&] {
    QCoreApplication::processEvents();
    return channel.Ended() && channel.closed == 1;
  }));
  EXPECT_EQ(WaitForSingleObject(channel.done, 0), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(channel.thread, &code));
  EXPECT_EQ(code, 0u);
  // The pipe is gone with the channel.
  EXPECT_EQ(vn::testing::OpenPipe(channel.name), INVALID_HANDLE_VALUE);
}

// The servers of a run report at once, each on an instance of its own. A
// Cancel reaches every client connected when it is seen, once each; a
// client that connects later is not told.
TEST(ChannelTest, ClientsAreServedSideBySideAndACancelReachesEach) {
  Channel channel(true);
  HANDLE first = channel.Open();
  HANDLE second = channel.Open();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Channel::Say(second, "SRV2: starting"), "");
  EXPECT_EQ(Channel::Say(first, "SRV1: starting"), "");
  SetEvent(channel.cancel);
  EXPECT_EQ(Channel::Say(second, "SRV2: 10 files"), "CANCEL");
  HANDLE later = channel.Open();
  ASSERT_NE(later, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Channel::Say(later, "SRV3: starting"), "");
  EXPECT_EQ(Channel::Say(first, "SRV1: 10 files"), "CANCEL");
  EXPECT_EQ(Channel::Say(first, "SRV1: 20 files"), "");
  EXPECT_EQ(Channel::Say(second, "SRV2: 20 files"), "");
  EXPECT_TRUE(WaitUntil([&] {
    QCoreApplication::processEvents();
    return channel.texts.size() == 7;
  }));
  CloseHandle(later);
  CloseHandle(second);
  EXPECT_EQ(Channel::Say(first, "SRV1: done"), "");
  CloseHandle(first);
}

// Also a run without windows: the channel shows nothing, posts nowhere and
// still ends. A client still connected does not hold the report thread's
// close up: the channel ends and that client's pipe with it.
TEST(ChannelTest, TheReportThreadClosesTheChannelWhileAClientIsConnected) {
  Channel channel(false);
  HANDLE pipe = channel.Open();
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Channel::Say(pipe, "first"), "");

  // A run with nothing to do (its set is not stored and it has no status
  // window) goes straight to closing the channel.
  auto* context = new ReportRunContext;
  context->reportName = "No Such Set";
  std::memcpy(context->szLocalPipeName, channel.names.szLocalPipeName, sizeof context->szLocalPipeName);
  std::memcpy(context->szRemotePipeName, channel.names.szRemotePipeName, sizeof context->szRemotePipeName);
  HANDLE report = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return ReportThreadProc(static_cast<ReportRunContext*>(p)); }, context, 0,
      nullptr);
  EXPECT_TRUE(WaitUntil([&] { return channel.Ended() && WaitForSingleObject(report, 0) == WAIT_OBJECT_0; }));
  EXPECT_EQ(WaitForSingleObject(channel.done, 0), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(report, &code));
  EXPECT_EQ(code, 0u);
  CloseHandle(report);
  EXPECT_FALSE(Send(pipe, std::string("too late") + '\0') && Receive(pipe, 260).size() == 40u);
  CloseHandle(pipe);
}

TEST(ChannelTest, PipeNamesAndAPipeThatCannotBeMade) {
  // Both names from one start time; each run of the process its own.
  ReportRunContext first, second;
  ProgressChannelEntry entry;
  SetRunPipeNames(&first, &entry);
  SetRunPipeNames(&second, nullptr);
  const std::string local = first.szLocalPipeName;
  ASSERT_EQ(local.rfind("\\\\.\\pipe\\", 0), 0u);
  const std::string time = local.substr(9);
  EXPECT_GT(std::stol(time), 0);
  EXPECT_EQ(std::string(entry.szPipeName), local);
  char computer[16] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
  EXPECT_EQ(std::string(first.szRemotePipeName), "\\\\" + std::string(computer) + "\\pipe\\" + time);
  EXPECT_NE(std::string(second.szLocalPipeName), local);

  // A name that is no pipe of this machine: the code, and the entry stays the caller's.
  auto entryBad = std::make_unique<ProgressChannelEntry>();
  std::snprintf(entryBad->szPipeName, sizeof entryBad->szPipeName, "\\\\OTHER\\pipe\\x");
  EXPECT_NE(MessageThreadProc(entryBad.get()), 0u);
}

}  // namespace
