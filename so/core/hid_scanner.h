// The USB scanner's HID device: found by its identity among the present
// HID interfaces and opened with two handles, an overlapped one for input
// reports and a synchronous one for output reports. Failing calls return
// the system error number; 0 is success.
#pragma once

#include <cstdint>

constexpr int kHidInputReportSize = 65;
constexpr int kHidOutputReportSize = 12;

class HidScanner {
 public:
  virtual ~HidScanner() = default;

  virtual bool IsOpen() const = 0;
  // Searches the present HID interfaces and opens the scanner.
  virtual uint32_t Open() = 0;
  // Closes whichever handle is still open.
  virtual void Close() = 0;

  // One output report, written synchronously; nothing is written when the
  // device is not open.
  virtual uint32_t WriteReport(const uint8_t (&report)[kHidOutputReportSize]) = 0;
};
