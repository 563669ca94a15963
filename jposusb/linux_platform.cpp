// The bridge's platform on Linux: hidraw devices, an auto-reset event of
// the process, standard output.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/hid/linux_hidraw.h"
#include "jposusb/platform.h"

namespace jposusb {

namespace {

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

class LinuxPlatform : public Platform {
 public:
  hid::Bus& Bus() override { return bus_; }
  std::unique_ptr<LabelEvent> CreateLabelEvent() override {
    return std::make_unique<AutoResetEvent>();
  }
  void Print(const std::string& line) override {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  hid::HidrawBus bus_;
};

}  // namespace

Platform& ThePlatform() {
  static LinuxPlatform platform;
  return platform;
}

}  // namespace jposusb
