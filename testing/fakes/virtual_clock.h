// A clock whose time moves only when the code under test sleeps or a fake
// device lets time pass, so that protocol pauses are checked exactly and
// take no real time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "talscan/core/clock.h"

namespace fakes {

class VirtualClock : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override {
    std::function<void(uint32_t)> onSleep;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(milliseconds);
      now_ += milliseconds;
      onSleep = onSleep_;
    }
    if (onSleep) onSleep(milliseconds);
  }
  // The virtual time that has passed.
  uint64_t NowMs() const override { return now_; }
  LocalTime Local() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return local_;
  }

  void Advance(uint64_t milliseconds) { now_ += milliseconds; }
  void SetLocal(const LocalTime& local) {
    std::lock_guard<std::mutex> lock(mutex_);
    local_ = local;
  }
  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  // Runs after every sleep of the code under test, on its thread.
  void OnSleep(std::function<void(uint32_t)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    onSleep_ = std::move(handler);
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
  }

 private:
  std::mutex mutex_;
  std::atomic<uint64_t> now_{0};
  LocalTime local_;
  std::vector<uint32_t> sleeps_;
  std::function<void(uint32_t)> onSleep_;
};

}  // namespace fakes
