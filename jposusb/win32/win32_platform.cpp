// The bridge's platform on Windows: SetupAPI HID devices, the named
// auto-reset event "KorvaJposUsbEvent", standard output.
#include <windows.h>

#include <cstdio>

#include "common/hid/win32/win32_hid.h"
#include "jposusb/platform.h"

namespace jposusb {

namespace {

constexpr DWORD kSliceMs = 100;

class NamedEvent : public LabelEvent {
 public:
  NamedEvent() : event_(CreateEventA(nullptr, FALSE, FALSE, "KorvaJposUsbEvent")) {}
  ~NamedEvent() override {
    if (event_ != nullptr) CloseHandle(event_);
  }
  void Set() override {
    if (event_ != nullptr) SetEvent(event_);
  }
  // In slices: the name is shared by every process that loaded the
  // library, and another may take a signal meant for this one. The
  // mailbox is looked at again after each slice.
  void Wait() override {
    if (event_ != nullptr) {
      WaitForSingleObject(event_, kSliceMs);
    } else {
      ::Sleep(kSliceMs);
    }
  }

 private:
  HANDLE event_;
};

class Win32Platform : public Platform {
 public:
  hid::Bus& Bus() override { return bus_; }
  std::unique_ptr<LabelEvent> CreateLabelEvent() override {
    return std::make_unique<NamedEvent>();
  }
  void Print(const std::string& line) override {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

 private:
  hid::Win32Bus bus_;
};

}  // namespace

Platform& ThePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace jposusb
