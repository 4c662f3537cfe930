#pragma once
// Waiting in tests for what another thread or process does: poll with a
// bound, never sleep and hope. A test that must show something does NOT
// happen waits, with a bound, for the thing that would have happened (or for
// a later event that proves the moment has passed), and never asserts how long
// anything took.

#include <chrono>
#include <functional>

namespace vn::testing {

// How long a test waits for what must happen: long enough for a loaded
// machine (the sanitizer build on two shared cores), short enough that a
// fault fails the test well inside the run's time limit.
inline constexpr std::chrono::milliseconds kWaitCeiling{10000};

// Asks `done` until it answers true or `ceiling` has passed, looking once more
// at the end; true when it did. It looks at once, then every millisecond,
// backing off to every 50 ms. `done` runs on the calling thread.
[[nodiscard]] bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds ceiling = kWaitCeiling);

}  // namespace vn::testing
