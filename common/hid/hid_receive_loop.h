// The receive loop of the USB scanner, shared by the service object and
// the JavaPOS bridge: one input report read at a time, decoded and handed
// to the caller. A Close ends the wait through Device::StopWaiting.
#pragma once

#include <cstdint>

#include "common/hid/hid_device.h"
#include "common/hid/hid_report.h"

namespace hid {

class ReceiveClient {
 public:
  enum class Problem {
    kReadError,        // an immediate read error: the loop ends
    kResultError,      // a completed read reports an error
    kShortRead,        // fewer bytes than a report
    kCancelling,       // the device was closed while a read was pending
    kDeviceRemoved,    // the device is gone: the loop ends
  };

  virtual ~ReceiveClient() = default;
  // The loop runs while this holds.
  virtual bool KeepReading() = 0;
  // While the device counts as open, problems are reported and a pending
  // read is waited for; once it does not, the pending read is cancelled.
  virtual bool DeviceOpen() = 0;
  virtual void Report(Problem problem, uint32_t value) = 0;
  // Every report read, before it is decoded (for a trace of the wire).
  virtual void Received(const uint8_t* /*report*/, int /*count*/) {}
  // A decoded report: its label, or a length of 0 for a report without one.
  virtual void Deliver(const uint8_t* label, int length) = 0;
};

// The wait is cut in slices only as a safety net for a close that came
// without StopWaiting: an idle device wakes once a slice.
constexpr uint32_t kWaitSliceMs = 1000;

// Runs until KeepReading fails, the device is closed or lost, or a read
// fails; closes the device's handles at the end.
void RunReceiveLoop(Device& device, ReceiveClient& client, Trailers trailers);

}  // namespace hid
