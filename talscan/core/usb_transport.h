// The USB scanner: found among the HID interfaces when the device is
// opened, read by the HID receive thread, told to scan or not with output
// reports, and looked for again when it was unplugged.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "common/hid/hid_device.h"
#include "talscan/core/clock.h"
#include "talscan/core/event_path.h"
#include "talscan/core/event_sink.h"
#include "talscan/core/notifier.h"
#include "talscan/core/opening.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/trace.h"

class UsbTransport {
 public:
  UsbTransport(Opening& opening, ScannerState& state, hid::Bus& bus,
               Clock& clock, Notifier& notifier, EventPath& events,
               EventSink& sink, Trace& trace);

  bool IsOpen() const;
  // Searches for the scanner and opens it.
  PlatformError OpenHidDevice();
  // The receive thread's body: reads reports until told to stop; a
  // scanner that was unplugged is waited for until it is back.
  void RunReceiveThread();
  // Lets a waiting read go at once: the receive thread cancels it and
  // ends. A thread that waits for an unplugged scanner to come back sees
  // it within a pause (kPauseMs).
  void StopReading();
  // Closes whichever handle is still open.
  void Close();
  // The enable (0x11) or disable (0x12) output report.
  void WriteHidReport(bool enable);

 private:
  class Client;

  std::shared_ptr<hid::Device> CurrentDevice() const;
  bool AwaitReturn();
  // Under writeMutex_.
  void WriteReport(bool enable);

  Opening& opening_;
  ScannerState& state_;
  hid::Bus& bus_;
  Clock& clock_;
  Notifier& notifier_;
  EventPath& events_;
  EventSink& sink_;
  Trace& trace_;
  // Guards device_ between the caller's thread (open, close, write) and
  // the receive thread, which only uses the device while it runs.
  mutable std::mutex deviceMutex_;
  std::shared_ptr<hid::Device> device_;
  std::atomic<bool> hidOpen_{false};
  // One output report at a time, and the replugged scanner's enable report
  // with the look at DeviceEnabled that decides it.
  std::mutex writeMutex_;
};
