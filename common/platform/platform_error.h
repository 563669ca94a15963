// The one error model of every platform interface in the driver set
// (serial port, HID bus and device, threads): a call that can fail returns
// a PlatformError, and hands back what it produced through its parameters.
// The error carries the platform's own number for the failure (a Windows
// system error code; the Linux implementations map errno onto those the
// callers recognise) and the platform call that failed. OPOS result codes
// and message texts are made from it in one place each, by the callers.
#pragma once

#include <cstdint>

struct PlatformError {
  uint32_t code = 0;           // 0: the call succeeded
  const char* step = nullptr;  // the platform call that failed

  static PlatformError Of(uint32_t code, const char* step) {
    return {code, step};
  }
  bool Failed() const { return code != 0; }
  bool Is(uint32_t other) const { return code == other; }
};

// System error numbers the portable code recognises or reports itself.
namespace syserr {
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kIoPending = 997;
constexpr uint32_t kDeviceNotConnected = 1167;
constexpr uint32_t kTimeout = 1460;
}  // namespace syserr
