// An auto-reset event within the process: Set wakes one Wait, or lets the
// next one through at once.
#pragma once

#include <condition_variable>
#include <mutex>

#include "jposusb/bridge.h"

namespace jposusb {

class AutoResetEvent : public LabelEvent {
 public:
  void Set() override {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_one();
  }
  void Wait() override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
    set_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace jposusb
