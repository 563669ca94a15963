#include "talscan/core/scanner_service.h"

#include <algorithm>
#include <iterator>

#include "talscan/core/portable/protocol.h"
#include "talscan/core/scanner_warnings.h"
#include "talscan/core/serial_receiver.h"
#include "talscan/core/serial_transport.h"

namespace {

constexpr uint32_t kSerialCloseBoundMs = 5000;
constexpr uint32_t kUsbCloseBoundMs = 3000;
constexpr long kProgramScannerCommand = 12345;
constexpr uint8_t kEnableByte = 0x0E;
constexpr uint8_t kDisableByte = 0x0F;

}  // namespace

ScannerService::ScannerService(const Platform& platform)
    : platform_(platform) {}

ScannerService::~ScannerService() { EndOpening(); }

std::shared_ptr<Session> ScannerService::CurrentSession() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_;
}

long ScannerService::Record(long result) {
  state_.ResultCode = result;
  return result;
}

// The common failure step of opening: the message is shown only when the
// entry being opened asks for it with its DebugLevel; the result is set
// either way.
long ScannerService::StepFailed(int debugLevel, const OpenFailure& failure) {
  if (debugLevel > 0) {
    std::string text = failure.message + ".\n";
    if (failure.error.Failed()) {
      const uint32_t error = failure.error.code;
      text += "Error " + std::to_string(error) + ": " +
              platform_.notifier.SystemErrorText(error);
    }
    platform_.notifier.ShowWarning(kServiceCaption, text);
  }
  return Record(opos::kFailure);
}

long ScannerService::OpenService(const std::string& /*deviceClass*/,
                                 const std::string& deviceName,
                                 std::shared_ptr<EventSink> control) {
  state_.Claimed = 0;
  DeviceEntry entry;
  entry.DeviceKeyPath = DeviceKeyPathFor(deviceName);
  OpenFailure failure;
  const bool loaded = LoadDeviceEntry(platform_.registry, entry, failure);
  auto trace = std::make_shared<Trace>(platform_.traceFiles, platform_.clock);
  // An open USB scanner opened again keeps its opening, and the trace that
  // opening began: no second header in the middle of it.
  if (entry.ScannerType != kTypeUsb || !UsbOpeningGoesOn()) {
    StartTrace(*trace, deviceName, entry);
  }

  // While an opening is in force its entry stays; a new entry replaces it
  // only when this opening succeeds.
  if (!CurrentSession()) entryType_ = entry.ScannerType;
  if (!loaded) return OpenFailed(*trace, entry.DebugLevel, failure);

  const bool opened = entry.ScannerType == kTypeUsb
                          ? OpenUsbDevice(entry, control, trace, failure)
                          : OpenSerialDevice(entry, control, trace, failure);
  if (!opened) return OpenFailed(*trace, entry.DebugLevel, failure);
  entryType_ = entry.ScannerType;
  state_.State = opos::kStateIdle;
  // A handler may have closed the device already: its trace has ended.
  const std::shared_ptr<Session> session = CurrentSession();
  if (!session || session->trace == trace) {
    trace->Write(trace_level::kOpening, "Open -> 0");
  } else {
    session->trace->Write(trace_level::kOpening,
                          "Open of the open USB scanner -> 0");
    EndTrace(*trace);
  }
  return Record(opos::kSuccess);
}

// A USB opening in force whose thread still runs (also while the scanner
// is out) is the one a new Open of that scanner keeps.
bool ScannerService::UsbOpeningGoesOn() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_ && session_->opening.Entry.ScannerType == kTypeUsb &&
         UsbThreadGoesOn();
}

// Under sessionMutex_.
bool ScannerService::UsbThreadGoesOn() const {
  return session_->opening.ReceiveActive && receiveThread_ &&
         receiveThread_->IsRunning();
}

// The header names the entry's values as they were read.
void ScannerService::StartTrace(Trace& trace, const std::string& deviceName,
                                const DeviceEntry& entry) {
  if (entry.TraceLevel == trace_level::kOff) return;
  std::vector<std::string> header = {
      "entry: Type " + std::to_string(entry.ScannerType) + ", Port " +
          TraceText(entry.PortName) + ", Compatibility " +
          std::to_string(entry.CompatibilityMode) + ", AutoScan " +
          std::to_string(entry.AutoScan ? 1 : 0) + ", DebugLevel " +
          std::to_string(entry.DebugLevel) + ", TraceLevel " +
          std::to_string(entry.TraceLevel) + ", TraceFolder \"" +
          TraceText(entry.TraceFolder) + "\""};
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (!traceStopped_.empty()) {
      header.push_back("an earlier trace of this process stopped: " +
                       traceStopped_);
    }
  }
  const bool started = trace.Begin(entry.TraceLevel, entry.TraceFolder,
                                   deviceName, header);
  std::lock_guard<std::mutex> lock(sessionMutex_);
  traceStopped_ = started ? "" : trace.Stopped();
}

// A trace that went off on the way is named in the next opening's header.
void ScannerService::EndTrace(Trace& trace) {
  trace.End();
  const std::string stopped = trace.Stopped();
  if (stopped.empty()) return;
  std::lock_guard<std::mutex> lock(sessionMutex_);
  traceStopped_ = stopped;
}

long ScannerService::OpenFailed(Trace& trace, int debugLevel,
                                const OpenFailure& failure) {
  if (trace.Wants(trace_level::kOpening)) {
    std::string text = "Open failed: " + failure.message;
    if (failure.error.Failed()) {
      const char* step = failure.error.step ? failure.error.step : "a call";
      text += "; " + std::string(step) + " error " +
              std::to_string(failure.error.code) + ": " +
              TraceErrorText(platform_.notifier, failure.error.code);
    }
    trace.Write(trace_level::kOpening, text);
  }
  EndTrace(trace);
  return StepFailed(debugLevel, failure);
}

long ScannerService::Traced(int level, const std::string& call, long result) {
  const std::shared_ptr<Session> session = CurrentSession();
  if (session && session->trace->Wants(level)) {
    session->trace->Write(level, call + " -> " + std::to_string(result));
  }
  return result;
}

bool ScannerService::OpenSerialDevice(const DeviceEntry& entry,
                                      const std::shared_ptr<EventSink>& control,
                                      const std::shared_ptr<Trace>& trace,
                                      OpenFailure& failure) {
  // One opening per process: an opening in force keeps its port. A thread
  // still finishing an ended opening's handler reads it no more.
  if (CurrentSession()) {
    failure = {"Unable to open " + entry.PortName,
               PlatformError::Of(syserr::kAccessDenied, "CreateFile")};
    return false;
  }
  if (!OpenSerialPort(platform_.serial, entry, failure)) return false;
  auto session =
      std::make_shared<Session>(state_, entry, platform_, control, trace);
  if (Begin(session, &Session::RunSerialReceiver).Failed()) {
    // A port without its receive thread would deliver nothing.
    session->link.Close();
    failure = {"Can't start receive data thread", {}};
    return false;
  }
  return true;
}

bool ScannerService::OpenUsbDevice(const DeviceEntry& entry,
                                   const std::shared_ptr<EventSink>& control,
                                   const std::shared_ptr<Trace>& trace,
                                   OpenFailure& failure) {
  if (std::shared_ptr<Session> current = CurrentSession()) {
    {
      // An open USB scanner is open already, also while it is unplugged
      // and its thread waits for it to come back; no second thread is
      // started. Under the lock with which Close ends an opening, so that
      // one that is ending is not given callbacks again.
      std::lock_guard<std::mutex> lock(sessionMutex_);
      if (session_ == current && UsbThreadGoesOn()) {
        current->events.ReplaceEntry(entry);
        current->callbacks.Replace(control);
        return true;
      }
    }
    // A Close under way (this call comes from a message handled during
    // its wait) keeps the device until it has ended.
    if (!current->opening.ReceiveActive) {
      failure = {"Unable to open USB Scanner",
                 PlatformError::Of(syserr::kAccessDenied, "CreateFile")};
      return false;
    }
    // Its thread has ended by itself (a read error the scanner gave): this
    // opening takes its place.
    current->callbacks.Shut();
    current->opening.ReceiveActive = false;
    current->usb.Close();
    Retire(current);
  }
  auto session =
      std::make_shared<Session>(state_, entry, platform_, control, trace);
  PlatformError error = session->usb.OpenHidDevice();
  if (error.Failed()) {
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  error = Begin(session, &Session::RunUsbReceiver);
  if (error.Failed()) {
    // Not when another thread's opening came first.
    if (!error.Is(syserr::kAccessDenied)) {
      platform_.notifier.ShowWarning(platform_.notifier.ApplicationName(),
                                     "Can't start receive data thread");
    }
    session->usb.Close();
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  return true;
}

// Puts the opening in force and starts its receive thread, which keeps
// the session alive for as long as it runs. Both happen under the lock,
// so that a handler the new thread runs at once already finds its opening,
// and an opening that another thread began meanwhile is not replaced.
PlatformError ScannerService::Begin(const std::shared_ptr<Session>& session,
                                    void (Session::*body)()) {
  session->opening.ReceiveActive = true;
  std::unique_ptr<RunningThread> thread;
  PlatformError error = PlatformError::Of(syserr::kAccessDenied, "CreateFile");
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (!session_) {
      error = platform_.threads.Start(
          [session, body] { (session.get()->*body)(); }, thread);
    }
    if (!error.Failed()) {
      session_ = session;
      receiveThread_ = std::move(thread);
    }
  }
  if (error.Failed()) session->opening.ReceiveActive = false;
  return error;
}

// Takes an ended opening out of force, unless another has replaced it
// meanwhile. Its thread is kept while it still runs; threads of earlier
// openings that have ended are let go, outside the lock.
void ScannerService::Retire(const std::shared_ptr<Session>& session) {
  // Declared before the lock, so that it is destroyed after the lock is
  // given back.
  std::vector<std::shared_ptr<RunningThread>> ended;
  std::lock_guard<std::mutex> lock(sessionMutex_);
  if (session_ == session) {
    session_.reset();
    if (receiveThread_) endedThreads_.push_back(std::move(receiveThread_));
  }
  const auto firstEnded = std::stable_partition(
      endedThreads_.begin(), endedThreads_.end(),
      [](const std::shared_ptr<RunningThread>& thread) {
        return thread->IsRunning();
      });
  std::move(firstEnded, endedThreads_.end(), std::back_inserter(ended));
  endedThreads_.erase(firstEnded, endedThreads_.end());
}

long ScannerService::Close() { return TracedClose(nullptr); }

// The opening's trace ends with its Close.
long ScannerService::TracedClose(const EventSink* control) {
  const std::shared_ptr<Session> session = CurrentSession();
  const long result = CloseOpening(control);
  if (session && CurrentSession() != session) {
    session->trace->Write(trace_level::kOpening,
                          "Close -> " + std::to_string(result));
    EndTrace(*session->trace);
  }
  return result;
}

// With `control`, only an opening whose callbacks go there is closed.
long ScannerService::CloseOpening(const EventSink* control) {
  std::shared_ptr<Session> session;
  std::shared_ptr<RunningThread> thread;
  {
    // The opening and its thread together: a handler may reset the device
    // from the receive thread. No callback of the opening reaches the
    // control object any more: it may let go of the service object once
    // Close returns.
    std::lock_guard<std::mutex> lock(sessionMutex_);
    session = session_;
    thread = receiveThread_;
    if (session && control && !session->callbacks.GoesTo(control)) {
      return opos::kSuccess;
    }
    if (session) {
      session->callbacks.Shut();
      session->opening.ReceiveActive = false;
    }
  }
  if (!session) {
    // No port to close; a USB device has nothing that could fail.
    if (entryType_ != kTypeUsb) return Record(opos::kFailure);
    ResetToClosed();
    return Record(opos::kSuccess);
  }
  const bool usb = session->opening.Entry.ScannerType == kTypeUsb;
  if (usb) {
    session->usb.StopReading();
  } else {
    session->link.Interrupt();  // a wait for input ends now
  }
  // Called from the receive thread's own event handler, Close cannot wait
  // for it: that thread ends when the handler returns, touching nothing.
  if (thread && !thread->IsCurrent() &&
      !thread->WaitForExit(usb ? kUsbCloseBoundMs : kSerialCloseBoundMs)) {
    session->trace->Abandon();  // first: the thread may be inside a write
    thread->Terminate();
  }
  if (usb) {
    session->usb.Close();
  } else if (!session->link.Close()) {
    return Record(opos::kFailure);
  }
  // The caller's thread handled messages during the wait: a Close there
  // has already ended this opening, and an Open may have begun the next,
  // which stays as it is.
  if (CurrentSession() != session) return Record(opos::kSuccess);
  Retire(session);
  ResetToClosed();
  return Record(opos::kSuccess);
}

// The opening ends whatever happens: the service object is going away.
// When even Close fails (the port would not close), the session is
// dropped all the same; the port then stays in use until the process ends.
void ScannerService::EndOpening() { EndOpeningCalling(nullptr); }

void ScannerService::EndOpeningCalling(const EventSink* control) {
  if (!CurrentSession() || TracedClose(control) == opos::kSuccess) return;
  Retire(CurrentSession());
}

void ScannerService::ResetToClosed() {
  state_.Claimed = 0;
  state_.DataEventEnabled = 0;
  state_.DeviceEnabled = 0;
  state_.FreezeEvents = 0;
  state_.State = opos::kStateClosed;
  state_.AutoDisable = 0;
  state_.BinaryConversion = 0;
  state_.DecodeData = 0;
  state_.COEventsFrozen = false;
  state_.ResultCode = opos::kClosed;
}

long ScannerService::Claim(long timeout) {
  if (state_.State == opos::kStateClosed) return Record(opos::kClosed);
  const long wasClaimed = state_.Claimed.exchange(1);
  return Traced(trace_level::kOpening,
                "ClaimDevice " + std::to_string(timeout),
                Record(wasClaimed ? opos::kClaimed : opos::kSuccess));
}

long ScannerService::Release() {
  if (state_.State == opos::kStateClosed) return Record(opos::kClosed);
  const long wasClaimed = state_.Claimed.exchange(0);
  return Traced(trace_level::kOpening, "ReleaseDevice",
                Record(wasClaimed ? opos::kSuccess : opos::kNotClaimed));
}

long ScannerService::CheckHealth(long /*level*/) {
  return Record(opos::kIllegal);
}

long ScannerService::ClearOutput() { return Record(opos::kIllegal); }

long ScannerService::COFreezeEvents(bool freeze) {
  state_.COEventsFrozen = freeze;
  return Record(opos::kSuccess);
}

long ScannerService::ClearInput() {
  if (state_.State == opos::kStateClosed) return Record(opos::kClosed);
  if (state_.Claimed == 0) return Record(opos::kNotClaimed);
  std::shared_ptr<Session> session = CurrentSession();
  if (!session) return Record(opos::kClosed);
  // Asked before the drain hands the port back, so that no byte read after
  // it is joined to one read before.
  session->events.RequestFrameDiscard();
  // A USB scanner has no port to drain: its input is what is held here.
  if (session->opening.Entry.ScannerType != kTypeUsb &&
      !session->link.DrainPort()) {
    return Record(opos::kFailure);
  }
  session->events.ClearInput();
  return Record(opos::kSuccess);
}

long ScannerService::DirectIO(long command) {
  return Traced(trace_level::kData, "DirectIO " + std::to_string(command),
                RunDirectIO(command));
}

long ScannerService::RunDirectIO(long command) {
  const long type = entryType_;
  std::shared_ptr<Session> session = CurrentSession();
  if (type == kTypeUsb) return Record(opos::kIllegal);
  if (!IsPortableType(type)) {
    if (command != kProgramScannerCommand) return Record(opos::kIllegal);
    const bool programmed = session && session->programmer.ProgramScanner();
    return Record(programmed ? opos::kSuccess : opos::kFailure);
  }
  long operation = portable::kIdle;
  if (!portable::RequestedOperation(command, operation)) {
    return Record(opos::kIllegal);
  }
  if (type == kTypePortableM40 && portable::IsM20OnlyCommand(command)) {
    return Record(opos::kIllegal);
  }
  if (session) {
    if (command != portable::kCommandStop) {
      portable::WakePortableScanner(session->link, platform_.clock,
                                    session->opening.Entry);
    }
    session->opening.PortableState = operation;
  }
  return Record(opos::kSuccess);
}

long ScannerService::GetPropertyNumber(long index) {
  switch (index) {
    case opos::pidx::Claimed: return state_.Claimed;
    case opos::pidx::DataEventEnabled: return state_.DataEventEnabled;
    case opos::pidx::DeviceEnabled: return state_.DeviceEnabled;
    case opos::pidx::FreezeEvents: return state_.FreezeEvents;
    case opos::pidx::OutputID: return 0;
    case opos::pidx::ResultCode: return state_.ResultCode;
    case opos::pidx::ResultCodeExtended: return 0;
    case opos::pidx::ServiceObjectVersion: return opos::kServiceObjectVersion;
    case opos::pidx::State: return state_.State;
    case opos::pidx::AutoDisable: return state_.AutoDisable;
    case opos::pidx::BinaryConversion: return state_.BinaryConversion;
    case opos::pidx::DataCount: {
      std::shared_ptr<Session> session = CurrentSession();
      return session ? session->events.DataCount() : 0;
    }
    case opos::pidx::PowerNotify: return 0;
    case opos::pidx::PowerState: return opos::kPowerStateUnknown;
    case opos::pidx::CapPowerReporting: return 0;
    case opos::pidx::DecodeData: return state_.DecodeData;
    case opos::pidx::ScanDataType: {
      std::shared_ptr<Session> session = CurrentSession();
      return session ? session->events.ScanDataType() : opos::sdt::Unknown;
    }
    default: Record(opos::kIllegal); return 0;
  }
}

void ScannerService::SetPropertyNumber(long index, long number) {
  Record(opos::kSuccess);
  switch (index) {
    case opos::pidx::DataEventEnabled:
      if (std::shared_ptr<Session> session = CurrentSession()) {
        session->events.SetDataEventEnabled(number);
      } else {
        state_.DataEventEnabled = number;
      }
      break;
    case opos::pidx::DeviceEnabled:
      Traced(trace_level::kOpening, "DeviceEnabled " + std::to_string(number),
             opos::kSuccess);
      state_.DeviceEnabled = number;
      TellScannerDeviceEnabled(number != 0);
      break;
    case opos::pidx::FreezeEvents:
      if (std::shared_ptr<Session> session = CurrentSession()) {
        session->events.SetFreezeEvents(number);
      } else {
        state_.FreezeEvents = number;
      }
      break;
    case opos::pidx::AutoDisable: state_.AutoDisable = number; break;
    case opos::pidx::BinaryConversion: state_.BinaryConversion = number; break;
    case opos::pidx::DecodeData: state_.DecodeData = number; break;
    default: Record(opos::kIllegal); break;
  }
}

void ScannerService::TellScannerDeviceEnabled(bool enabled) {
  std::shared_ptr<Session> session = CurrentSession();
  if (!session) return;
  const long type = session->opening.Entry.ScannerType;
  if (type == kTypeFixedLaser) {
    session->link.WriteByte(enabled ? kEnableByte : kDisableByte);
  } else if (type == kTypeUsb) {
    session->usb.WriteHidReport(enabled);
  }
}

std::string ScannerService::GetPropertyString(long index) {
  switch (index) {
    case opos::pidx::CheckHealthText: return "";
    case opos::pidx::DeviceDescription:
      return "Barcode Scanner (RS232/USB Interface)";
    case opos::pidx::DeviceName: return "Barcode Scanner";
    case opos::pidx::ServiceObjectDescription:
      return device_entry::kDescriptionText;
    case opos::pidx::ScanData:
    case opos::pidx::ScanDataLabel: {
      std::shared_ptr<Session> session = CurrentSession();
      if (!session) return "";
      return index == opos::pidx::ScanData ? session->events.ScanData()
                                           : session->events.ScanDataLabel();
    }
    default: return "[Error]";
  }
}

void ScannerService::SetPropertyString(long /*index*/,
                                       const std::string& /*text*/) {
  Record(opos::kIllegal);
}
