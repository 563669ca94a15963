// The bridge's platform on Linux: hidraw devices, an auto-reset event of
// the process, standard output.
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/hid/linux/linux_hidraw.h"
#include "jposusb/auto_reset_event.h"
#include "jposusb/platform.h"

namespace jposusb {

namespace {

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
