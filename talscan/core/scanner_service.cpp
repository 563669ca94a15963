#include "talscan/core/scanner_service.h"

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

// A receive thread that ended by itself (a USB read error) no longer
// counts: the device may be searched for and opened again.
bool ScannerService::HasReceiveThread() const {
  auto running = [](const std::unique_ptr<RunningThread>& thread) {
    return thread != nullptr && thread->IsRunning();
  };
  return running(receiveThread_) || running(finishingThread_) ||
         (stoppingThread_ && stoppingThread_->IsRunning());
}

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
                                 const std::string& deviceName) {
  state_.Claimed = 0;
  DeviceEntry entry;
  entry.DeviceKeyPath = DeviceKeyPathFor(deviceName);
  OpenFailure failure;
  const bool loaded = LoadDeviceEntry(platform_.registry, entry, failure);

  // While an opening is in force its entry stays; a new entry replaces it
  // only when this opening succeeds.
  if (!HasReceiveThread()) entry_ = entry;
  if (!loaded) return StepFailed(entry.DebugLevel, failure);

  const bool opened = entry.ScannerType == kTypeUsb
                          ? OpenUsbDevice(entry, failure)
                          : OpenSerialDevice(entry, failure);
  if (!opened) return StepFailed(entry.DebugLevel, failure);
  entry_ = entry;
  state_.State = opos::kStateIdle;
  return Record(opos::kSuccess);
}

bool ScannerService::OpenSerialDevice(const DeviceEntry& entry,
                                      OpenFailure& failure) {
  // One receive thread per process: an opening in force keeps its port.
  if (HasReceiveThread()) {
    failure = {"Unable to open " + entry.PortName,
               PlatformError::Of(syserr::kAccessDenied, "CreateFile")};
    return false;
  }
  if (!OpenSerialPort(platform_.serial, entry, failure)) return false;
  auto session = std::make_shared<Session>(state_, entry, platform_);
  session->opening.ReceiveActive = true;
  if (StartReceiveThread(session, &Session::RunSerialReceiver).Failed()) {
    // A port without its receive thread would deliver nothing.
    session->opening.ReceiveActive = false;
    session->link.Close();
    failure = {"Can't start receive data thread", {}};
    return false;
  }
  std::lock_guard<std::mutex> lock(sessionMutex_);
  session_ = std::move(session);
  return true;
}

bool ScannerService::OpenUsbDevice(const DeviceEntry& entry,
                                   OpenFailure& failure) {
  // An open USB scanner is open already; no second thread is started.
  if (std::shared_ptr<Session> current = CurrentSession()) {
    if (current->usb.IsOpen() && current->opening.ReceiveActive) {
      current->events.ReplaceEntry(entry);
      return true;
    }
  }
  if (HasReceiveThread()) {
    failure = {"Unable to open USB Scanner",
               PlatformError::Of(syserr::kAccessDenied, "CreateFile")};
    return false;
  }
  auto session = std::make_shared<Session>(state_, entry, platform_);
  session->opening.ReceiveActive = true;
  PlatformError error = session->usb.OpenHidDevice();
  if (error.Failed()) {
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  error = StartReceiveThread(session, &Session::RunUsbReceiver);
  if (error.Failed()) {
    platform_.notifier.ShowWarning(platform_.notifier.ApplicationName(),
                                   "Can't start receive data thread");
    session->usb.Close();
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  std::lock_guard<std::mutex> lock(sessionMutex_);
  session_ = std::move(session);
  return true;
}

// The thread keeps its session alive for as long as it runs.
PlatformError ScannerService::StartReceiveThread(
    const std::shared_ptr<Session>& session, void (Session::*body)()) {
  finishingThread_.reset();  // it has ended: no thread may run beside it
  return platform_.threads.Start([session, body] { (session.get()->*body)(); },
                                 receiveThread_);
}

void ScannerService::StopReceiveThread(uint32_t boundMs) {
  // Close called from an event handler on the receive thread itself: the
  // thread sees ReceiveActive cleared and ends when the handler returns.
  if (receiveThread_ && receiveThread_->IsCurrent()) {
    finishingThread_ = std::move(receiveThread_);
    return;
  }
  if (receiveThread_) stoppingThread_ = std::move(receiveThread_);
  // The wait lets the caller's messages run, and one of them may call
  // Close again: that Close waits for the same thread.
  std::shared_ptr<RunningThread> thread = stoppingThread_;
  if (!thread) return;
  if (!thread->WaitForExit(boundMs)) thread->Terminate();
  if (stoppingThread_ == thread) stoppingThread_.reset();
}

long ScannerService::Close() {
  std::shared_ptr<Session> session = CurrentSession();
  if (!session) {
    // No port to close; a USB device has nothing that could fail.
    if (entry_.ScannerType != kTypeUsb) return Record(opos::kFailure);
    ResetToClosed();
    return Record(opos::kSuccess);
  }
  session->opening.ReceiveActive = false;
  if (session->opening.Entry.ScannerType == kTypeUsb) {
    session->usb.StopReading();
    StopReceiveThread(kUsbCloseBoundMs);
    session->usb.Close();
  } else {
    session->link.Interrupt();  // a wait for input ends now
    StopReceiveThread(kSerialCloseBoundMs);
    if (!session->link.Close()) return Record(opos::kFailure);
  }
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (session_ == session) session_.reset();
  }
  ResetToClosed();
  return Record(opos::kSuccess);
}

// The opening ends whatever happens: the service object is going away.
// When even Close fails (the port would not close), the session is
// dropped all the same; the port then stays in use until the process ends.
void ScannerService::EndOpening() {
  if (!CurrentSession() || Close() == opos::kSuccess) return;
  std::lock_guard<std::mutex> lock(sessionMutex_);
  session_.reset();
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

long ScannerService::Claim(long /*timeout*/) {
  if (state_.State == opos::kStateClosed) return Record(opos::kClosed);
  const long wasClaimed = state_.Claimed.exchange(1);
  return Record(wasClaimed ? opos::kClaimed : opos::kSuccess);
}

long ScannerService::Release() {
  if (state_.State == opos::kStateClosed) return Record(opos::kClosed);
  const long wasClaimed = state_.Claimed.exchange(0);
  return Record(wasClaimed ? opos::kSuccess : opos::kNotClaimed);
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
  const long type = entry_.ScannerType;
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
