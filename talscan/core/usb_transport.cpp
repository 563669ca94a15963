#include "talscan/core/usb_transport.h"

#include <cstring>
#include <string>

#include "common/hid/hid_receive_loop.h"
#include "common/hid/hid_search.h"

namespace {

constexpr uint8_t kEnableScanning = 0x11;
constexpr uint8_t kDisableScanning = 0x12;
// While unplugged, the scanner is looked for once a second; Close is seen
// within a pause.
constexpr uint32_t kSearchIntervalMs = 1000;
constexpr uint32_t kPauseMs = 250;

// The search's failures as the service object shows them.
class SearchMessages : public hid::SearchReporter {
 public:
  explicit SearchMessages(Notifier& notifier) : notifier_(notifier) {}
  void OpenFailed(const PlatformError&) override {}
  void AttributesFailed() override {
    notifier_.ShowWarning(notifier_.ApplicationName(),
                          "Couldn't get HID attributes");
  }

 private:
  Notifier& notifier_;
};

// The search for a scanner that comes back runs on the receive thread,
// unasked: it shows nothing.
class SilentSearch : public hid::SearchReporter {
 public:
  void OpenFailed(const PlatformError&) override {}
  void AttributesFailed() override {}
};

}  // namespace

// The receive loop's view of the service object.
class UsbTransport::Client : public hid::ReceiveClient {
 public:
  explicit Client(UsbTransport& transport) : transport_(transport) {}

  bool KeepReading() override { return transport_.opening_.ReceiveActive; }
  bool DeviceOpen() override { return transport_.hidOpen_; }

  void Report(Problem problem, uint32_t value) override {
    const std::string number = std::to_string(value);
    switch (problem) {
      case Problem::kReadError: Show("Read error= " + number); break;
      case Problem::kResultError:
        Show("GetOverlappedResult error: " + number);
        break;
      case Problem::kShortRead: Show("Only read " + number + " bytes"); break;
      case Problem::kCancelling: break;
      case Problem::kDeviceRemoved:
        // Unplugged: the application hears of it instead of waiting for
        // labels that cannot come (not of a device that Close took away).
        if (!transport_.hidOpen_) break;
        removed_ = true;
        if (transport_.trace_.Wants(trace_level::kOpening)) {
          transport_.trace_.Write(
              trace_level::kOpening,
              "USB scanner gone: error " + number + ": " +
                  TraceErrorText(transport_.notifier_, value));
        }
        transport_.sink_.FireSOStatusUpdate(opos::sue::PowerOffOffline);
        break;
    }
  }
  bool Removed() const { return removed_; }

  void Received(const uint8_t* report, int count) override {
    transport_.trace_.Bytes("read report", report, static_cast<size_t>(count));
  }

  void Deliver(const uint8_t* label, int length) override {
    if (transport_.opening_.ProgrammingActive || length == 0) return;
    transport_.events_.DeliverLabel(label, length);
  }

 private:
  void Show(const std::string& text) {
    transport_.notifier_.ShowWarning(transport_.notifier_.ApplicationName(),
                                     text);
  }

  UsbTransport& transport_;
  bool removed_ = false;
};

UsbTransport::UsbTransport(Opening& opening, ScannerState& state,
                           hid::Bus& bus, Clock& clock, Notifier& notifier,
                           EventPath& events, EventSink& sink, Trace& trace)
    : opening_(opening),
      state_(state),
      bus_(bus),
      clock_(clock),
      notifier_(notifier),
      events_(events),
      sink_(sink),
      trace_(trace) {}

bool UsbTransport::IsOpen() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return device_ && device_->IsOpen();
}

PlatformError UsbTransport::OpenHidDevice() {
  SearchMessages messages(notifier_);
  std::unique_ptr<hid::Device> device;
  const PlatformError error = hid::FindScanner(bus_, messages, device);
  if (!device) return error;
  std::lock_guard<std::mutex> lock(deviceMutex_);
  device_ = std::move(device);
  hidOpen_ = true;
  return {};
}

std::shared_ptr<hid::Device> UsbTransport::CurrentDevice() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return device_;
}

void UsbTransport::RunReceiveThread() {
  for (;;) {
    const std::shared_ptr<hid::Device> device = CurrentDevice();
    if (!device) return;
    Client client(*this);
    hid::RunReceiveLoop(*device, client, hid::Trailers::kServiceObject);
    if (!client.Removed() || !AwaitReturn()) return;
  }
}

// The scanner that comes back is the same one to the application: it hears
// that it is back, and the scanner is told to scan again when the
// application had it enabled (a replugged scanner starts afresh).
bool UsbTransport::AwaitReturn() {
  SilentSearch silent;
  for (;;) {
    for (uint32_t slept = 0; slept < kSearchIntervalMs; slept += kPauseMs) {
      if (!hidOpen_ || !opening_.ReceiveActive) return false;
      clock_.Sleep(kPauseMs);
    }
    std::unique_ptr<hid::Device> found;
    hid::FindScanner(bus_, silent, found);
    if (!found) continue;
    {
      // Close takes the device under this lock after it cleared hidOpen_:
      // a scanner found as it closes is closed here, or by Close.
      std::lock_guard<std::mutex> lock(deviceMutex_);
      if (!hidOpen_) {
        found->Close();
        return false;
      }
      device_ = std::move(found);
    }
    sink_.FireSOStatusUpdate(opos::sue::PowerOnline);
    // Read and written under the lock of the application's own writes, so
    // that a disable it makes meanwhile is not undone.
    std::lock_guard<std::mutex> writing(writeMutex_);
    if (state_.DeviceEnabled) WriteReport(true);
    return true;
  }
}

void UsbTransport::StopReading() {
  hidOpen_ = false;  // first: the woken loop must see the device closed
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (device_) device_->StopWaiting();
}

void UsbTransport::Close() {
  hidOpen_ = false;
  std::shared_ptr<hid::Device> device;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device.swap(device_);
  }
  if (device) device->Close();
}

void UsbTransport::WriteHidReport(bool enable) {
  std::lock_guard<std::mutex> writing(writeMutex_);
  WriteReport(enable);
}

void UsbTransport::WriteReport(bool enable) {
  const std::shared_ptr<hid::Device> device = CurrentDevice();
  if (!device || !device->IsOpen()) return;
  // Bytes 2 to 11 carry nothing for these commands: zeros.
  uint8_t report[hid::kOutputReportSize] = {};
  report[1] = enable ? kEnableScanning : kDisableScanning;
  const PlatformError error =
      device->WriteReport(report, hid::kOutputReportSize);
  trace_.Bytes(error.Failed() ? "write failed:" : "wrote report", report,
               hid::kOutputReportSize);
  if (error.Failed()) {
    notifier_.ShowWarning(notifier_.ApplicationName(),
                          "Send error= " + std::to_string(error.code));
  }
}
