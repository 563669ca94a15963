// The Win32 implementations of the service object's platform interfaces
// (the registry's is shared and lives in common/registry).
#pragma once

#include <windows.h>

#include <atomic>

#include "talscan/core/clock.h"
#include "talscan/core/notifier.h"
#include "talscan/core/serial_port.h"
#include "talscan/core/thread_launcher.h"

class Win32Clock : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override;
  uint64_t NowMs() const override;
  LocalTime Local() override;
};

class Win32Notifier : public Notifier {
 public:
  explicit Win32Notifier(HMODULE module) : module_(module) {}
  void ShowWarning(const std::string& caption,
                   const std::string& text) override;
  std::string SystemErrorText(uint32_t error) override;
  std::string ApplicationName() override;

 private:
  HMODULE module_;
};

// Each thread holds a reference to the library that runs it until it has
// left the library's code, so that an unload never takes the code from
// under it.
class Win32ThreadLauncher : public ThreadLauncher {
 public:
  PlatformError Start(std::function<void()> body,
                      std::unique_ptr<RunningThread>& thread) override;
  // Threads started here that have not yet ended.
  static long Running();
};

// A COM port opened for overlapped I/O: a synchronous handle lets no
// write through while a read waits, and only an overlapped read can be
// ended by another thread. Reads and writes still complete before they
// return, under the port time-outs.
class Win32SerialPort : public SerialPort {
 public:
  Win32SerialPort();
  ~Win32SerialPort() override;
  PlatformError Open(const std::string& name) override;
  PlatformError SetBufferSizes(uint32_t input, uint32_t output) override;
  PlatformError ReadLineSettings() override;
  PlatformError WriteLineSettings(const LineSettings& settings) override;
  PlatformError ReadTimeouts() override;
  PlatformError WriteTimeouts(const PortTimeouts& timeouts) override;
  bool IsOpen() const override;
  PlatformError Close() override;
  PlatformError Read(uint8_t* buffer, int capacity, int& count) override;
  PlatformError Write(const uint8_t* data, int count, int& written) override;
  PlatformError Signal(LineSignal signal) override;
  bool Present() override;
  PlatformError WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                            Wait& outcome) override;
  void Interrupt() override;

 private:
  // Waits for an overlapped operation begun with `started`.
  BOOL Complete(BOOL started, OVERLAPPED& operation, DWORD& done);

  std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
  DCB dcb_ = {};
  COMMTIMEOUTS timeouts_ = {};
  // Reads and writes each have their own: the receive thread's read and
  // another thread's write may be under way together.
  HANDLE readDone_;
  HANDLE writeDone_;
  HANDLE interrupted_;  // auto-reset
};
