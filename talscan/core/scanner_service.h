// The scanner service object's logic behind its dispatch interface: the
// device state machine, the device entry, properties and events, and the
// opening (Session) that a successful OpenService makes. The COM layer
// keeps one per process; tests make as many as they like.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "talscan/core/open_failure.h"
#include "talscan/core/event_sink.h"
#include "talscan/core/platform.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/session.h"

class ScannerService {
 public:
  explicit ScannerService(const Platform& platform);
  ~ScannerService();

  ScannerService(const ScannerService&) = delete;
  ScannerService& operator=(const ScannerService&) = delete;

  // `control` takes the callbacks of the opening this call makes.
  long OpenService(const std::string& deviceClass,
                   const std::string& deviceName,
                   std::shared_ptr<EventSink> control);
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

  // Ends the opening whatever happens (the last service object is being
  // released): the receive thread ended, the port or device closed.
  void EndOpening();
  // The same, when the opening's callbacks go to `control`: the control
  // object that opened the device lets go of its service object.
  void EndOpeningCalling(const EventSink* control);

 private:
  long StepFailed(int debugLevel, const OpenFailure& failure);
  void StartTrace(Trace& trace, const std::string& deviceName,
                  const DeviceEntry& entry);
  void EndTrace(Trace& trace);
  long OpenFailed(Trace& trace, int debugLevel, const OpenFailure& failure);
  // Writes "<call> -> <result>" to the opening's trace; returns result.
  long Traced(int level, const std::string& call, long result);
  long TracedClose(const EventSink* control);
  long RunDirectIO(long command);
  bool UsbOpeningGoesOn() const;
  bool UsbThreadGoesOn() const;
  bool OpenSerialDevice(const DeviceEntry& entry,
                        const std::shared_ptr<EventSink>& control,
                        const std::shared_ptr<Trace>& trace,
                        OpenFailure& failure);
  bool OpenUsbDevice(const DeviceEntry& entry,
                     const std::shared_ptr<EventSink>& control,
                     const std::shared_ptr<Trace>& trace,
                     OpenFailure& failure);
  PlatformError Begin(const std::shared_ptr<Session>& session,
                      void (Session::*body)());
  long CloseOpening(const EventSink* control);
  void Retire(const std::shared_ptr<Session>& session);
  std::shared_ptr<Session> CurrentSession() const;
  void ResetToClosed();
  void TellScannerDeviceEnabled(bool enabled);
  long Record(long result);

  Platform platform_;
  ScannerState state_;
  // The type of the last entry an OpenService read: it decides what
  // DirectIO and Close do, also while no device is open.
  std::atomic<long> entryType_{kTypeUnlisted};
  // Guards the opening in force and its thread: the application may call
  // from its own thread and, inside an event handler, from the receive
  // thread. Held only to read or change them, never while waiting.
  mutable std::mutex sessionMutex_;
  std::shared_ptr<Session> session_;
  std::shared_ptr<RunningThread> receiveThread_;
  // Threads of openings that have ended but still run: one whose handler
  // closed the device finishes that handler first. They touch nothing of
  // a later opening, and are let go once they have ended.
  std::vector<std::shared_ptr<RunningThread>> endedThreads_;
  // Why the last trace went off, for the next opening's header; under
  // sessionMutex_.
  std::string traceStopped_;
};
