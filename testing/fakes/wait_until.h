// Waiting in tests for what another thread does, with a generous bound so
// that a hang fails the test instead of stopping the run.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace fakes {

// Waits at most `bound`; false when `done` never held.
inline bool WaitUntilOrTimeout(const std::function<bool()>& done,
                               std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline bool WaitUntil(const std::function<bool()>& done) {
  return WaitUntilOrTimeout(done, std::chrono::seconds(10));
}

}  // namespace fakes
