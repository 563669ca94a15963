// Helpers for tests that run the real Windows binaries under Wine: paths
// beside the test program, registry set-up, calls through IDispatch,
// waiting while messages are pumped, and answering message boxes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wine {

// The folder of the running program, with a trailing backslash.
std::string ProgramFolder();

// Loads a library by path and calls its DllRegisterServer.
HRESULT RegisterLibrary(const std::string& path);

// An export of a loaded library as a function pointer of the given type.
template <typename Function>
Function Export(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// Runs a program and returns its exit code (-1 when it could not start).
int RunProgram(const std::string& commandLine, DWORD timeoutMs = 30000);

// The device entry of the OPOS Scanner area, written value by value.
struct EntryValue {
  std::string name;
  DWORD type;
  std::string data;  // REG_SZ without NUL, REG_BINARY bytes
};
EntryValue Text(const std::string& name, const std::string& value);
EntryValue Dword(const std::string& name, DWORD value);
// `view` may name a registry view (KEY_WOW64_32KEY, KEY_WOW64_64KEY), here
// and below; 0 is the program's own.
void WriteDeviceEntry(const std::string& device,
                      const std::vector<EntryValue>& values, REGSAM view = 0);
// A whole entry as the configuration utility writes it, plus DebugLevel.
void WriteStandardEntry(const std::string& device, const std::string& type,
                        const std::string& port,
                        const std::string& compatibility = "KORVA",
                        DWORD debugLevel = 0);
void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view = 0);
// The default value of a key, or "<missing>".
std::string DefaultValue(HKEY root, const std::string& path, REGSAM view = 0);

// Pumps this thread's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// An IDispatch reference with calls by identifier or name.
class Dispatch {
 public:
  Dispatch() = default;
  explicit Dispatch(IDispatch* object) : object_(object) {}
  ~Dispatch();
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  Dispatch(Dispatch&& other) noexcept : object_(other.object_) {
    other.object_ = nullptr;
  }
  Dispatch& operator=(Dispatch&& other) noexcept {
    if (this != &other) {
      Reset(other.object_);
      other.object_ = nullptr;
    }
    return *this;
  }

  static Dispatch Create(const wchar_t* progID);
  IDispatch* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset(IDispatch* object);

  DISPID Id(const wchar_t* name);
  // Arguments in declared order; the result is cleared by the caller.
  HRESULT Invoke(DISPID id, WORD flags, std::vector<VARIANT> args,
                 VARIANT* result = nullptr, UINT* argError = nullptr);
  long CallLong(const wchar_t* name, std::vector<VARIANT> args = {});
  std::string CallString(const wchar_t* name, std::vector<VARIANT> args = {});
  long GetLong(DISPID id);
  std::string GetString(DISPID id);
  HRESULT PutLong(DISPID id, long value);
  HRESULT PutBool(DISPID id, bool value);

 private:
  IDispatch* object_ = nullptr;
};

VARIANT Long(long value);
// A BSTR variant; the test frees it with VariantClear when it keeps it.
VARIANT Bstr(const std::string& text);
VARIANT DispatchVariant(IDispatch* object);

// Answers every message box of this process with OK and records its
// caption and text; a handler may act before the answer.
class BoxAnswerer {
 public:
  struct Box {
    std::string caption;
    std::string text;
  };
  BoxAnswerer();
  ~BoxAnswerer();

  std::vector<Box> Boxes();
  bool WaitForBoxes(size_t count, DWORD timeoutMs);
  void Clear();
  void BeforeAnswer(std::function<void(const Box&)> handler);

 private:
  void Run();

  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::function<void(const Box&)> handler_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace wine
