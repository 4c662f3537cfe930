// Messages between a worker thread and windows of the user-interface thread:
// a send waits for its handler, posts keep their order, texts reach edit
// boxes, and a window that is gone answers nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QObject>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testing/Wait.h"
#include "ui/WindowMessages.h"

namespace {

constexpr UINT WM_TEST = WM_APP + 1;

bool PumpUntil(const std::function<bool()>& done) {
  return vn::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return done();
  });
}

TEST(WindowMessagesTest, SendFromAWorkerWaitsForTheHandlerOnTheWindowsThread) {
  QObject window;
  std::thread::id handlerThread;
  CWindowHandle handle(&window, [&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    handlerThread = std::this_thread::get_id();
    // The sender's record is still alive: it waits for this handler.
    auto* text = reinterpret_cast<std::string*>(lParam);
    *text += "+seen";
    return message == WM_TEST ? static_cast<LRESULT>(wParam) * 2 : -1;
  });
  const HWND hWnd = handle.GetSafeHwnd();

  std::atomic<LRESULT> answer{0};
  std::string record = "record";
  std::string after;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    std::string local = "local";
    answer = SendMessageA(hWnd, WM_TEST, 21, reinterpret_cast<LPARAM>(&local));
    after = local;  // changed by the handler before the send returned
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(after, "local+seen");
  EXPECT_EQ(handlerThread, std::this_thread::get_id());

  // From the window's own thread a send is a plain call.
  EXPECT_EQ(SendMessageA(hWnd, WM_TEST, 5, reinterpret_cast<LPARAM>(&record)), 10);
  EXPECT_EQ(record, "record+seen");
}

TEST(WindowMessagesTest, PostsArriveInOrderAndOnlyWhileTheWindowExists) {
  std::vector<WPARAM> seen;
  HWND hWnd = nullptr;
  {
    QObject window;
    CWindowHandle handle(&window, [&](UINT, WPARAM wParam, LPARAM) -> LRESULT {
      seen.push_back(wParam);
      return 0;
    });
    hWnd = handle.GetSafeHwnd();
    EXPECT_TRUE(IsWindow(hWnd));
    std::thread worker([&] {
      for (WPARAM i = 1; i <= 50; ++i) PostMessageA(hWnd, WM_TEST, i, 0);
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 50; }));
    for (WPARAM i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i + 1);

    // Queued for a window that is destroyed before its turn: dropped.
    PostMessageA(hWnd, WM_TEST, 99, 0);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_FALSE(IsWindow(hWnd));
  EXPECT_EQ(SendMessageA(hWnd, WM_TEST, 1, 0), 0);
  EXPECT_FALSE(PostMessageA(hWnd, WM_TEST, 1, 0));
  EXPECT_FALSE(SetWindowTextA(hWnd, "gone"));
  EXPECT_FALSE(IsWindow(nullptr));
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(std::uintptr_t{1} << 40), WM_TEST, 1, 0));
}

TEST(WindowMessagesTest, TextsFromAWorkerReachTheStatusBoxUnlessTheHandlerTakesThem) {
  QLineEdit status;
  std::vector<std::string> taken;
  bool takeThem = false;
  CWindowHandle handle(&status, [&](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message != WM_SETTEXT || !takeThem) return 0;
    taken.emplace_back(reinterpret_cast<const char*>(lParam));
    return 1;
  });
  std::thread worker([&] {
    char buffer[] = "Scanning C:\\ (120 files)";
    SetWindowTextA(handle.GetSafeHwnd(), buffer);
    buffer[0] = 'X';  // the text was copied when it was queued
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return !status.text().isEmpty(); }));
  EXPECT_EQ(status.text(), QStringLiteral("Scanning C:\\ (120 files)"));

  takeThem = true;
  SetWindowTextA(handle.GetSafeHwnd(), "Report created successfully.");
  ASSERT_TRUE(PumpUntil([&] { return !taken.empty(); }));
  EXPECT_EQ(taken.front(), "Report created successfully.");
  EXPECT_EQ(status.text(), QStringLiteral("Scanning C:\\ (120 files)"));
}

}  // namespace
