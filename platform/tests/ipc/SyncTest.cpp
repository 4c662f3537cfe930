#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Sync.h"
#include "testing/TempMachineHome.h"
#include "testing/Wait.h"

namespace {

using namespace std::chrono_literals;
using vn::testing::WaitUntil;

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  vn::testing::TempMachineHome home;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);

  // Set with nobody waiting: the next wait takes it, the one after does not.
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  constexpr int kWaiters = 4;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  EXPECT_FALSE(WaitUntil([&] { return released.load() > 0; }, 50ms)) << "a waiter went before any set";
  for (int set = 1; set <= kWaiters; ++set) {
    ASSERT_TRUE(SetEvent(event));
    EXPECT_TRUE(WaitUntil([&] { return released.load() >= set; })) << "after SetEvent number " << set;
    EXPECT_EQ(released.load(), set) << "after SetEvent number " << set;
  }
  // A set that let two waiters go would leave the last set untaken.
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "each set was taken by its waiter";
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, ManualResetReleasesEveryWaiterUntilReset) {
  vn::testing::TempMachineHome home;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) ++released;
    });
  EXPECT_FALSE(WaitUntil([&] { return released.load() > 0; }, 30ms)) << "a waiter went before the set";
  ASSERT_TRUE(SetEvent(event));
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 4);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "waits do not reset a manual event";
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, TimeOuts) {
  vn::testing::TempMachineHome home;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // A zero time-out only looks; a timed wait on an event nobody sets runs out.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);

  // A set during a long timed wait ends it, long before its time-out.
  auto waiter = std::async(std::launch::async, [event] { return WaitForSingleObject(event, 60000); });
  EXPECT_EQ(waiter.wait_for(30ms), std::future_status::timeout) << "ended before the set";
  ASSERT_TRUE(SetEvent(event));
  ASSERT_EQ(waiter.wait_for(vn::testing::kWaitCeiling), std::future_status::ready);
  EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);

  // The run form's events: cancel not signalled, done signalled.
  HANDLE done = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(done, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(done, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(done));
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, NamedEventsAreSharedByName) {
  vn::testing::TempMachineHome home;
  const char* name = "Vornal Report Finished";
  SetLastError(12345);
  HANDLE first = CreateEventA(nullptr, TRUE, TRUE, name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  // The tree view's test: signalled, and polling does not change that.
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);

  // A second create gets the same event; its own arguments do not apply.
  HANDLE second = CreateEventA(nullptr, FALSE, FALSE, name);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(second, first);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);

  HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
  ASSERT_NE(opened, nullptr);
  ASSERT_TRUE(SetEvent(opened));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

  // Names are exact: another spelling is another event.
  HANDLE other = CreateEventA(nullptr, TRUE, FALSE, "vornal report finished");
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(other));

  // When every handle is closed the name is free again.
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  HANDLE reopened = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
  EXPECT_NE(reopened, nullptr) << "one handle is still open";
  EXPECT_TRUE(CloseHandle(opened));
  EXPECT_TRUE(CloseHandle(reopened));
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name), nullptr);
}

TEST(EventTest, NameIsFreedWithItsLastHandle) {
  vn::testing::TempMachineHome home;
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, "Vornal Test Event");
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "Vornal Test Event"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  event = CreateEventA(nullptr, TRUE, FALSE, "Vornal Test Event");
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a fresh event, not the old one";
  EXPECT_TRUE(CloseHandle(event));
}

TEST(HandleTest, ClosedAndUnknownHandlesAreInvalid) {
  vn::testing::TempMachineHome home;
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  const HANDLE bad[] = {event, nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(std::uintptr_t{0x7})};
  for (HANDLE handle : bad) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ResetEvent(handle));
    DWORD count = 99;
    char byte = 0;
    EXPECT_FALSE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(handle, &byte, 1, &count, nullptr));
  }
  // An event is not a thread, and cannot be read.
  HANDLE live = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(live, &code));
  char byte = 0;
  EXPECT_FALSE(ReadFile(live, &byte, 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(live));
}

struct Gate {
  HANDLE go;
  DWORD result;
};

DWORD GatedRoutine(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  if (WaitForSingleObject(gate->go, INFINITE) != WAIT_OBJECT_0) return WAIT_FAILED;
  return gate->result;
}

TEST(ThreadTest, HandleTellsWhenTheRoutineEndedAndWithWhat) {
  vn::testing::TempMachineHome home;
  // Static: the thread whose handle is closed below may outlive the test body.
  static Gate gate;
  gate = Gate{CreateEventA(nullptr, TRUE, FALSE, nullptr), ERROR_CANCELLED};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &GatedRoutine, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());

  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);

  ASSERT_TRUE(SetEvent(gate.go));
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(GetExitCodeThread(thread, &code));

  // Closing the handle of a running thread leaves it running.
  ResetEvent(gate.go);
  gate.result = 0;
  HANDLE second = CreateThread(nullptr, 0, &GatedRoutine, &gate, 0, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(CloseHandle(second));
  HANDLE third = CreateThread(nullptr, 0, &GatedRoutine, &gate, 0, nullptr);
  SetEvent(gate.go);
  EXPECT_EQ(WaitForSingleObject(third, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(third));

  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CloseHandle(gate.go));
}

}  // namespace
