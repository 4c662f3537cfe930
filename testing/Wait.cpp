#include "testing/Wait.h"

#include <algorithm>
#include <thread>

namespace vn::testing {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds ceiling) {
  const auto deadline = std::chrono::steady_clock::now() + ceiling;
  std::chrono::milliseconds pause{1};
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    deadline - std::chrono::steady_clock::now())));
    pause = std::min(pause * 2, std::chrono::milliseconds{50});
  }
  return done();
}

}  // namespace vn::testing
