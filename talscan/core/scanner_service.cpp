#include "talscan/core/scanner_service.h"

#include "talscan/core/portable/protocol.h"
#include "talscan/core/scanner_warnings.h"
#include "talscan/core/serial_receiver.h"
#include "talscan/core/serial_transport.h"
#include "talscan/core/system_errors.h"

namespace {

constexpr uint32_t kSerialCloseBoundMs = 5000;
constexpr uint32_t kUsbCloseBoundMs = 3000;
constexpr long kProgramScannerCommand = 12345;
constexpr uint8_t kEnableByte = 0x0E;
constexpr uint8_t kDisableByte = 0x0F;

}  // namespace

ScannerService::ScannerService(const Platform& platform)
    : platform_(platform),
      events_(state_, platform.events),
      programmer_(platform.serial, platform.clock, state_),
      usb_(state_, platform.hid, platform.notifier, events_, platform.events) {}

ScannerService::~ScannerService() {
  state_.ReceiveActive = false;
  usb_.StopReading();
  StopReceiveThread(kSerialCloseBoundMs);
  usb_.Close();
}

// A receive thread that ended by itself (a USB read error) no longer
// counts: the device may be searched for and opened again.
bool ScannerService::HasReceiveThread() const {
  auto running = [](const std::unique_ptr<RunningThread>& thread) {
    return thread != nullptr && !thread->WaitForExit(0);
  };
  return running(receiveThread_) || running(finishingThread_);
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
    if (failure.systemError) {
      const uint32_t error = *failure.systemError;
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

  // While an opening is in force its receive thread works with its entry;
  // a new entry replaces it only when this opening succeeds.
  const bool inForce = HasReceiveThread();
  if (!inForce) state_.Entry = entry;
  if (!loaded) return StepFailed(entry.DebugLevel, failure);

  const bool opened = entry.ScannerType == kTypeUsb
                          ? OpenUsbDevice(failure)
                          : OpenSerialDevice(entry, failure);
  if (!opened) return StepFailed(entry.DebugLevel, failure);

  if (inForce) events_.ReplaceEntry(entry);
  state_.State = opos::kStateIdle;
  return Record(opos::kSuccess);
}

bool ScannerService::OpenSerialDevice(const DeviceEntry& entry,
                                      OpenFailure& failure) {
  // One receive thread per process: an opening in force keeps its port.
  if (HasReceiveThread()) {
    failure = {"Unable to open " + entry.PortName, syserr::kAccessDenied};
    return false;
  }
  if (!OpenSerialPort(platform_.serial, entry, failure)) return false;
  state_.ReceiveActive = true;
  state_.ProgrammingActive = false;
  state_.PortableState = 0;
  uint32_t error = 0;
  const bool started = StartReceiveThread(
      [this] {
        SerialReceiver receiver(state_, platform_.serial, platform_.clock,
                                platform_.notifier, events_, platform_.events,
                                programmer_);
        receiver.Run();
      },
      error);
  if (!started) {
    // A port without its receive thread would deliver nothing.
    state_.ReceiveActive = false;
    platform_.serial.Close();
    failure = {"Can't start receive data thread", std::nullopt};
    return false;
  }
  return true;
}

bool ScannerService::OpenUsbDevice(OpenFailure& failure) {
  // An open USB scanner is open already; no second thread is started.
  if (usb_.IsOpen()) return true;
  if (HasReceiveThread()) {
    failure = {"Unable to open USB Scanner", syserr::kAccessDenied};
    return false;
  }
  state_.ReceiveActive = true;
  state_.PortableState = 0;
  uint32_t error = 0;
  if (!usb_.OpenHidDevice(error)) {
    state_.ReceiveActive = false;
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  if (!StartReceiveThread([this] { usb_.RunReceiveThread(); }, error)) {
    platform_.notifier.ShowWarning(platform_.notifier.ApplicationName(),
                                   "Can't start receive data thread");
    usb_.Close();
    state_.ReceiveActive = false;
    failure = {"Unable to open USB Scanner", error};
    return false;
  }
  return true;
}

bool ScannerService::StartReceiveThread(std::function<void()> body,
                                        uint32_t& error) {
  finishingThread_.reset();  // it has ended: no thread may run beside it
  receiveThread_ = platform_.threads.Start(std::move(body), error);
  return receiveThread_ != nullptr;
}

void ScannerService::StopReceiveThread(uint32_t boundMs) {
  if (!receiveThread_) return;
  // Close called from an event handler on the receive thread itself: the
  // thread sees ReceiveActive cleared and ends when the handler returns.
  if (receiveThread_->IsCurrent()) {
    finishingThread_ = std::move(receiveThread_);
    return;
  }
  if (!receiveThread_->WaitForExit(boundMs)) receiveThread_->Terminate();
  receiveThread_.reset();
}

long ScannerService::Close() {
  state_.ReceiveActive = false;
  if (state_.Entry.ScannerType == kTypeUsb) {
    usb_.StopReading();
    StopReceiveThread(kUsbCloseBoundMs);
    usb_.Close();
  } else {
    StopReceiveThread(kSerialCloseBoundMs);
    if (platform_.serial.Close() != 0) return Record(opos::kFailure);
  }
  ResetToClosed();
  return Record(opos::kSuccess);
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
  events_.Reset();
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
  // Asked before the drain hands the port back, so that no byte read after
  // it is joined to one read before.
  events_.RequestFrameDiscard();
  // A USB scanner has no port to drain: its input is what is held here.
  if (state_.Entry.ScannerType != kTypeUsb && !programmer_.DrainPort()) {
    return Record(opos::kFailure);
  }
  events_.ClearInput();
  return Record(opos::kSuccess);
}

long ScannerService::DirectIO(long command) {
  const long type = state_.Entry.ScannerType;
  if (type == kTypeUsb) return Record(opos::kIllegal);
  if (!IsPortableType(type)) {
    if (command != kProgramScannerCommand) return Record(opos::kIllegal);
    return Record(programmer_.ProgramScanner() ? opos::kSuccess
                                               : opos::kFailure);
  }
  long portableState = 0;
  switch (command) {
    case 100: portableState = 0; break;
    case 200: portableState = 1; break;
    case 201: portableState = 10; break;
    case 202: portableState = 20; break;
    case 203: portableState = 30; break;
    case 204: portableState = 40; break;
    case 205: portableState = 50; break;
    default: return Record(opos::kIllegal);
  }
  // The clock and G commands exist on the M-20 only.
  if (type == kTypePortableM40 && (command == 202 || command == 205)) {
    return Record(opos::kIllegal);
  }
  if (command != 100) {
    portable::WakePortableScanner(platform_.serial, platform_.clock,
                                  state_.Entry);
  }
  state_.PortableState = portableState;
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
    case opos::pidx::DataCount: return events_.DataCount();
    case opos::pidx::PowerNotify: return 0;
    case opos::pidx::PowerState: return opos::kPowerStateUnknown;
    case opos::pidx::CapPowerReporting: return 0;
    case opos::pidx::DecodeData: return state_.DecodeData;
    case opos::pidx::ScanDataType: return events_.ScanDataType();
    default: Record(opos::kIllegal); return 0;
  }
}

void ScannerService::SetPropertyNumber(long index, long number) {
  Record(opos::kSuccess);
  switch (index) {
    case opos::pidx::DataEventEnabled:
      events_.SetDataEventEnabled(number);
      break;
    case opos::pidx::DeviceEnabled:
      state_.DeviceEnabled = number;
      TellScannerDeviceEnabled(number != 0);
      break;
    case opos::pidx::FreezeEvents:
      events_.SetFreezeEvents(number);
      break;
    case opos::pidx::AutoDisable:
      state_.AutoDisable = number;
      break;
    case opos::pidx::BinaryConversion:
      state_.BinaryConversion = number;
      break;
    case opos::pidx::DecodeData:
      state_.DecodeData = number;
      break;
    default:
      Record(opos::kIllegal);
      break;
  }
}

void ScannerService::TellScannerDeviceEnabled(bool enabled) {
  if (state_.Entry.ScannerType == kTypeFixedLaser) {
    programmer_.WritePortByte(enabled ? kEnableByte : kDisableByte);
  } else if (state_.Entry.ScannerType == kTypeUsb) {
    usb_.WriteHidReport(enabled);
  }
}

std::string ScannerService::GetPropertyString(long index) {
  switch (index) {
    case opos::pidx::CheckHealthText: return "";
    case opos::pidx::DeviceDescription:
      return "Barcode Scanner (RS232/USB Interface)";
    case opos::pidx::DeviceName: return "Barcode Scanner";
    case opos::pidx::ServiceObjectDescription:
      return "OPOS Scanner Driver, Release 2008 .";
    case opos::pidx::ScanData: return events_.ScanData();
    case opos::pidx::ScanDataLabel: return events_.ScanDataLabel();
    default: return "[Error]";
  }
}

void ScannerService::SetPropertyString(long /*index*/,
                                       const std::string& /*text*/) {
  Record(opos::kIllegal);
}
