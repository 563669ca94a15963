// Waiting in tests for what another thread does, with a generous bound so
// that a hang fails the test instead of stopping the run.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace fakes {

inline bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace fakes
