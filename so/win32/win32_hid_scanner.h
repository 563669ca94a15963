// The USB scanner found with SetupAPI among the present HID interfaces.
#pragma once

#include <windows.h>

#include <atomic>

#include "so/core/hid_scanner.h"
#include "so/core/notifier.h"

class Win32HidScanner : public HidScanner {
 public:
  explicit Win32HidScanner(Notifier& notifier) : notifier_(notifier) {}
  ~Win32HidScanner() override { Close(); }

  bool IsOpen() const override;
  uint32_t Open() override;
  void Close() override;
  uint32_t WriteReport(const uint8_t (&report)[kHidOutputReportSize]) override;

 private:
  Notifier& notifier_;
  std::atomic<HANDLE> read_{INVALID_HANDLE_VALUE};
  std::atomic<HANDLE> write_{INVALID_HANDLE_VALUE};
};
