// The fan-out's contract with the report thread: the selection's first
// calls start first, never more at once than the width, each is handed over
// exactly once whatever order they end in, and Stop starts no more.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "console/core/run/FanOut.h"
#include "platform/machine/Profile.h"

namespace {

using vn::console::CFanOut;

// Calls that end only when the test lets them, in the order it chooses.
struct Gates {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> open;
  std::vector<int> started;
  int running = 0, peak = 0;

  explicit Gates(std::size_t count) : open(count, false) {}
  void Call(std::size_t index) {
    std::unique_lock lock(mutex);
    started.push_back(static_cast<int>(index));
    peak = std::max(peak, ++running);
    changed.notify_all();
    changed.wait(lock, [&] { return open[index]; });
    --running;
  }
  void Open(std::size_t index) {
    std::lock_guard lock(mutex);
    open[index] = true;
    changed.notify_all();
  }
  void AwaitStarted(std::size_t count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return started.size() >= count; });
  }
};

TEST(FanOutTest, CallsRunSideBySideWithinTheWidthAndAreTakenInOrder) {
  struct Case {
    std::size_t count;
    int width;
    std::vector<std::size_t> endOrder;
  };
  const Case cases[] = {
      {5, 5, {4, 3, 2, 1, 0}},  // all at once, the last first
      {6, 2, {1, 0, 3, 2, 5, 4}},
      {3, 8, {2, 0, 1}},  // wider than the calls
      {1, 1, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Gates gates(c.count);
    CFanOut fanOut(c.count, c.width, [&](std::size_t i) { gates.Call(i); });
    const std::size_t first = std::min<std::size_t>(c.count, static_cast<std::size_t>(c.width));
    gates.AwaitStarted(first);
    {
      // The first calls of the selection are the ones that run (their
      // threads may reach their work in any order).
      std::lock_guard lock(gates.mutex);
      std::vector<int> running = gates.started;
      std::sort(running.begin(), running.end());
      std::vector<int> expected(first);
      std::iota(expected.begin(), expected.end(), 0);
      EXPECT_EQ(running, expected);
    }
    for (std::size_t i : c.endOrder) gates.Open(i);
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_TRUE(fanOut.Await(i)) << i;
    EXPECT_EQ(fanOut.Finished(), c.count);
    EXPECT_LE(gates.peak, c.width);
    EXPECT_EQ(gates.peak, std::min(static_cast<int>(c.count), c.width));
    // Every call started once.
    std::vector<int> all = gates.started;
    std::sort(all.begin(), all.end());
    std::vector<int> each(c.count);
    std::iota(each.begin(), each.end(), 0);
    EXPECT_EQ(all, each);
  }
}

TEST(FanOutTest, StopLetsRunningCallsEndAndStartsNoMore) {
  Gates gates(6);
  CFanOut fanOut(6, 2, [&](std::size_t i) { gates.Call(i); });
  gates.AwaitStarted(2);
  fanOut.Stop();
  gates.Open(1);
  gates.Open(0);
  EXPECT_TRUE(fanOut.Await(0));
  EXPECT_TRUE(fanOut.Await(1));
  for (std::size_t i = 2; i < 6; ++i) EXPECT_FALSE(fanOut.Await(i)) << i;
  EXPECT_EQ(gates.started.size(), 2u);
  EXPECT_FALSE(fanOut.Await(6));  // past the end
}

TEST(FanOutTest, TheWidthComesFromTheProcessThenTheProfileThenTheProcessors) {
  vn::console::SetRunFanOutWidth(0);
  EXPECT_TRUE(WriteProfileInt(vn::console::kFanOutSection, vn::console::kFanOutEntry, 0));
  EXPECT_EQ(vn::console::RunFanOutWidth(), vn::console::DefaultFanOutWidth());
  EXPECT_GE(vn::console::DefaultFanOutWidth(), 4);
  EXPECT_TRUE(WriteProfileInt(vn::console::kFanOutSection, vn::console::kFanOutEntry, 3));
  EXPECT_EQ(vn::console::RunFanOutWidth(), 3);
  EXPECT_TRUE(WriteProfileInt(vn::console::kFanOutSection, vn::console::kFanOutEntry, 100000));
  EXPECT_EQ(vn::console::RunFanOutWidth(), vn::console::kMaxFanOutWidth);
  vn::console::SetRunFanOutWidth(7);
  EXPECT_EQ(vn::console::RunFanOutWidth(), 7);
  vn::console::SetRunFanOutWidth(0);
  EXPECT_TRUE(WriteProfileInt(vn::console::kFanOutSection, vn::console::kFanOutEntry, 0));
}

}  // namespace
