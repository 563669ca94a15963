// The scanner service object's logic behind its dispatch interface: the
// device state machine, the device entry, properties and events, and the
// transports it opens. The COM layer keeps one per process; tests make as
// many as they like.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "talscan/core/event_path.h"
#include "talscan/core/open_failure.h"
#include "talscan/core/platform.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/usb_transport.h"

class ScannerService {
 public:
  explicit ScannerService(const Platform& platform);
  ~ScannerService();

  ScannerService(const ScannerService&) = delete;
  ScannerService& operator=(const ScannerService&) = delete;

  long OpenService(const std::string& deviceClass,
                   const std::string& deviceName);
  long Close();
  long Claim(long timeout);
  long Release();
  long CheckHealth(long level);
  long ClearInput();
  long ClearOutput();
  long COFreezeEvents(bool freeze);
  long DirectIO(long command);

  long GetPropertyNumber(long index);
  void SetPropertyNumber(long index, long number);
  std::string GetPropertyString(long index);
  void SetPropertyString(long index, const std::string& text);

  // True while a receive thread runs: the library must stay loaded.
  bool HasReceiveThread() const;

 private:
  long StepFailed(int debugLevel, const OpenFailure& failure);
  bool OpenSerialDevice(const DeviceEntry& entry, OpenFailure& failure);
  bool OpenUsbDevice(OpenFailure& failure);
  bool StartReceiveThread(std::function<void()> body, uint32_t& error);
  void StopReceiveThread(uint32_t boundMs);
  void ResetToClosed();
  void TellScannerDeviceEnabled(bool enabled);
  long Record(long result);

  Platform platform_;
  ScannerState state_;
  EventPath events_;
  ScannerProgrammer programmer_;
  UsbTransport usb_;
  std::unique_ptr<RunningThread> receiveThread_;
  // A receive thread told to stop from its own event handler: it still
  // runs until the handler returns, and no other may start before.
  std::unique_ptr<RunningThread> finishingThread_;
};
