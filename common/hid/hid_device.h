// The HID platform as the driver set needs it: the present HID interfaces
// to search, and a device opened twice, for reads of input reports and
// bounded writes of output reports. Failures are PlatformErrors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/platform_error.h"

namespace hid {

class Device {
 public:
  virtual ~Device() = default;

  // Starts one read of an input report. No error: it completed at once,
  // with its count. syserr::kIoPending: it completes later (WaitRead, then
  // FinishRead). Any other error: the read failed.
  virtual PlatformError StartRead(uint8_t* buffer, int size, int& count) = 0;
  // True when the pending read has completed within the time given. False
  // at once after StopWaiting.
  virtual bool WaitRead(uint32_t milliseconds) = 0;
  // From any thread, for good: ends a WaitRead in progress and makes every
  // later one return at once, so that an idle reader need not wake up to
  // notice a Close. The caller first marks the device closed for the
  // reader (ReceiveClient::DeviceOpen), which then cancels its read.
  virtual void StopWaiting() = 0;
  // The completed read's count or its error; never waits.
  virtual PlatformError FinishRead(int& count) = 0;
  virtual void CancelRead() = 0;

  // One output report. A device that does not take it within a bound
  // fails it (syserr::kTimeout) instead of holding the caller. Nothing is
  // written, and no error returned, once the device is closed.
  virtual PlatformError WriteReport(const uint8_t* report, int size) = 0;

  // Closes both handles; safe from any thread, and more than once.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

class Bus {
 public:
  virtual ~Bus() = default;

  // Takes the set of present HID interfaces.
  virtual PlatformError Begin() = 0;
  // The device path of interface `index`; syserr::kNoMoreItems after the
  // last one.
  virtual PlatformError Interface(uint32_t index, std::string& path) = 0;
  // Opens the path twice (read and write handles).
  virtual PlatformError Open(const std::string& path,
                             std::unique_ptr<Device>& device) = 0;
  virtual PlatformError Attributes(Device& device, uint16_t& vendor,
                                   uint16_t& product) = 0;
  // Releases the set taken by Begin.
  virtual void End() = 0;
};

}  // namespace hid
