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

class Win32ThreadLauncher : public ThreadLauncher {
 public:
  PlatformError Start(std::function<void()> body,
                      std::unique_ptr<RunningThread>& thread) override;
};

// A COM port opened for synchronous I/O.
class Win32SerialPort : public SerialPort {
 public:
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

 private:
  std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
  DCB dcb_ = {};
  COMMTIMEOUTS timeouts_ = {};
};
