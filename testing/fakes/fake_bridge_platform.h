// The JavaPOS bridge's platform for host tests and benchmarks: scripted
// HID interfaces, std::thread, and the printed lines kept.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "jposusb/bridge.h"
#include "jposusb/std_thread.h"
#include "testing/fakes/fake_hid.h"

namespace fakes {

class FakeBridgePlatform : public jposusb::Platform {
 public:
  hid::Bus& Bus() override { return bus; }
  void Print(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    printed_.push_back(line);
  }
  std::unique_ptr<jposusb::Thread> StartThread(
      std::function<void()> body) override {
    return jposusb::StartStdThread(std::move(body));
  }
  std::vector<std::string> Printed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return printed_;
  }

  FakeHidBus bus;

 private:
  std::mutex mutex_;
  std::vector<std::string> printed_;
};

}  // namespace fakes
