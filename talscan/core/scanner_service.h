// The scanner service object's logic behind its dispatch interface: the
// device state machine, the device entry, properties and events, and the
// opening (Session) that a successful OpenService makes. The COM layer
// keeps one per process; tests make as many as they like.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "talscan/core/open_failure.h"
#include "talscan/core/platform.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/session.h"

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

  // Ends the opening whatever happens (the last service object is being
  // released): the receive thread ended, the port or device closed.
  void EndOpening();

 private:
  long StepFailed(int debugLevel, const OpenFailure& failure);
  bool OpenSerialDevice(const DeviceEntry& entry, OpenFailure& failure);
  bool OpenUsbDevice(const DeviceEntry& entry, OpenFailure& failure);
  PlatformError StartReceiveThread(const std::shared_ptr<Session>& session,
                                   void (Session::*body)());
  void StopReceiveThread(uint32_t boundMs);
  std::shared_ptr<Session> CurrentSession() const;
  void ResetToClosed();
  void TellScannerDeviceEnabled(bool enabled);
  long Record(long result);

  Platform platform_;
  ScannerState state_;
  // The entry of the last OpenService that read one: its type decides what
  // DirectIO and Close do, also while no device is open.
  DeviceEntry entry_;
  // Taken by the caller's thread and by handlers that call back from the
  // receive thread.
  mutable std::mutex sessionMutex_;
  std::shared_ptr<Session> session_;
  std::unique_ptr<RunningThread> receiveThread_;
  // A receive thread told to stop from its own event handler: it still
  // runs until the handler returns, and no other may start before.
  std::unique_ptr<RunningThread> finishingThread_;
  // The thread Close waits for.
  std::shared_ptr<RunningThread> stoppingThread_;
};
