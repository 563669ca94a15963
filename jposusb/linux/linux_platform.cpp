// The bridge's platform on Linux: hidraw devices, std::thread, standard
// output.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "common/hid/linux/linux_hidraw.h"
#include "jposusb/platform.h"
#include "jposusb/std_thread.h"

namespace jposusb {

namespace {

class LinuxPlatform : public Platform {
 public:
  hid::Bus& Bus() override { return bus_; }
  void Print(const std::string& line) override {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
  // A thread cannot give back a hold on the library as it ends (there is
  // no FreeLibraryAndExitThread here), so a started thread keeps it for
  // good.
  std::unique_ptr<Thread> StartThread(std::function<void()> body) override {
    StayLoaded();
    return StartStdThread(std::move(body));
  }

 private:
  hid::HidrawBus bus_;
};

}  // namespace

Platform& ThePlatform() {
  static Platform* platform = new LinuxPlatform();
  return *platform;
}

// dlclose then leaves the library where it is.
void StayLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&StayLoaded), &self) != 0) {
      dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
  });
}

}  // namespace jposusb
