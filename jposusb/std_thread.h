// The bridge's thread on std::thread, for Linux and the tests.
#pragma once

#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "jposusb/bridge.h"

namespace jposusb {

class StdThread : public Thread {
 public:
  explicit StdThread(std::function<void()> body) : thread_(std::move(body)) {}
  // A std::thread destroyed while joinable would end the process.
  ~StdThread() override {
    if (thread_.joinable()) thread_.detach();
  }
  void Join() override { thread_.join(); }

 private:
  std::thread thread_;
};

inline std::unique_ptr<Thread> StartStdThread(std::function<void()> body) {
  try {
    return std::make_unique<StdThread>(std::move(body));
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace jposusb
