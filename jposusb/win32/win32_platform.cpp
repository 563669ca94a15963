// The bridge's platform on Windows: SetupAPI HID devices, a receive thread
// that holds the library while it runs, standard output.
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "common/hid/win32/win32_hid.h"
#include "jposusb/platform.h"

namespace jposusb {

namespace {

class Win32Thread : public Thread {
 public:
  explicit Win32Thread(HANDLE handle) : handle_(handle) {}
  ~Win32Thread() override { CloseHandle(handle_); }
  void Join() override { WaitForSingleObject(handle_, INFINITE); }

 private:
  HANDLE handle_;
};

struct ThreadStart {
  std::function<void()> body;
  HMODULE library = nullptr;
};

// Leaves through FreeLibraryAndExitThread: a FreeLibrary made while the
// thread runs leaves the code in place, and after the thread's own release
// the library may be gone, so it must not return into it.
DWORD WINAPI RunThread(void* parameter) {
  HMODULE library;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    library = start->library;
    start->body();
  }
  FreeLibraryAndExitThread(library, 0);
}

class Win32Platform : public Platform {
 public:
  hid::Bus& Bus() override { return bus_; }
  void Print(const std::string& line) override {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
  std::unique_ptr<Thread> StartThread(std::function<void()> body) override {
    auto start = std::make_unique<ThreadStart>();
    start->body = std::move(body);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunThread),
                            &start->library)) {
      return nullptr;
    }
    HANDLE handle =
        CreateThread(nullptr, 0, RunThread, start.get(), 0, nullptr);
    if (handle == nullptr) {
      FreeLibrary(start->library);
      return nullptr;
    }
    start.release();  // the thread's now
    return std::make_unique<Win32Thread>(handle);
  }

 private:
  hid::Win32Bus bus_;
};

}  // namespace

Platform& ThePlatform() {
  static Platform* platform = new Win32Platform();
  return *platform;
}

// FreeLibrary then leaves the library where it is.
void StayLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE library;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
        reinterpret_cast<LPCWSTR>(&StayLoaded), &library);
  });
}

}  // namespace jposusb
