// The HID platform as the driver set needs it: the present HID interfaces
// to search, and a device opened twice, for reads of input reports and
// bounded writes of output reports. Failures are system
// error numbers (0 is success).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace hid {

// Error numbers the search and the receive loop recognise.
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorNoMoreItems = 259;

class Device {
 public:
  enum class ReadStart { kCompleted, kPending, kFailed };

  virtual ~Device() = default;

  // Starts one read of an input report: completed at once (with its
  // count), pending, or failed (with its error).
  virtual ReadStart StartRead(uint8_t* buffer, int size, int& count,
                              uint32_t& error) = 0;
  // True when the pending read has completed within the time given.
  virtual bool WaitRead(uint32_t milliseconds) = 0;
  // The completed read's count, or false with its error; never waits.
  virtual bool FinishRead(int& count, uint32_t& error) = 0;
  virtual void CancelRead() = 0;

  // One output report; 0 or the error. A device that does not take it
  // within a bound fails it (the platform's time-out error) instead of
  // holding the caller. Nothing is written, and 0 returned, once the device
  // is closed.
  virtual uint32_t WriteReport(const uint8_t* report, int size) = 0;

  // Closes both handles; safe from any thread, and more than once.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

class Bus {
 public:
  enum class Next { kInterface, kEnd, kFailed };

  virtual ~Bus() = default;

  // Takes the set of present HID interfaces; 0 or the error.
  virtual uint32_t Begin() = 0;
  // The device path of interface `index`; kEnd after the last one.
  virtual Next Interface(uint32_t index, std::string& path,
                         uint32_t& error) = 0;
  // Opens the path twice (read and write handles); nullptr with the error
  // of the open that failed.
  virtual std::unique_ptr<Device> Open(const std::string& path,
                                       uint32_t& error) = 0;
  virtual bool Attributes(Device& device, uint16_t& vendor, uint16_t& product,
                          uint32_t& error) = 0;
  // Releases the set taken by Begin.
  virtual void End() = 0;
};

}  // namespace hid
