#include "jposusb/bridge.h"

#include <cstring>

#include "common/hid/hid_receive_loop.h"
#include "common/hid/hid_search.h"

namespace jposusb {

namespace {

class PrintingReporter : public hid::SearchReporter {
 public:
  explicit PrintingReporter(Platform& platform) : platform_(platform) {}
  void OpenFailed(const PlatformError& error) override {
    platform_.Print("Open error= " + std::to_string(error.code));
  }
  void AttributesFailed() override {
    platform_.Print("Couldn't get HID attributes");
  }

 private:
  Platform& platform_;
};

}  // namespace

// The receive loop's view of the bridge.
class Bridge::Client : public hid::ReceiveClient {
 public:
  explicit Client(Bridge& bridge) : bridge_(bridge) {}

  bool KeepReading() override { return bridge_.receiveActive_; }
  bool DeviceOpen() override { return bridge_.hidOpen_; }

  void Report(Problem problem, uint32_t value) override {
    const std::string number = std::to_string(value);
    switch (problem) {
      case Problem::kReadError:
        bridge_.platform_.Print("Read error= " + number);
        break;
      case Problem::kResultError:
        bridge_.platform_.Print("GetOverlappedResult error= " + number);
        break;
      case Problem::kShortRead:
        bridge_.platform_.Print("Only read " + number + " bytes");
        break;
      case Problem::kCancelling: bridge_.platform_.Print("CancelIo"); break;
      case Problem::kDeviceRemoved:
        bridge_.platform_.Print("Device removed");
        break;
    }
  }

  // One label at a time: the next report is read only after the waiting
  // label was taken (or dropped by OpenHID), or once Close stops the
  // thread.
  void Deliver(const uint8_t* label, int length) override {
    std::unique_lock<std::mutex> lock(bridge_.mutex_);
    if (length == 0) {
      bridge_.pendingLabel_[0] = 0;
      return;
    }
    std::memcpy(bridge_.pendingLabel_, label, static_cast<size_t>(length));
    bridge_.pendingLength_ = length;
    bridge_.changed_.notify_all();
    bridge_.changed_.wait(lock, [this] {
      return bridge_.pendingLength_ == 0 || !bridge_.receiveActive_;
    });
  }

 private:
  Bridge& bridge_;
};

Bridge::~Bridge() { Close(); }

bool Bridge::OpenHID() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingLength_ = 0;  // a label not yet taken is dropped
    changed_.notify_all();
    if (device_ && device_->IsOpen()) return true;
  }
  // A thread left from a device that was lost ends before a new search.
  StopThread();
  PrintingReporter reporter(platform_);
  std::unique_ptr<hid::Device> found;
  hid::FindScanner(platform_.Bus(), reporter, found);
  if (!found) return false;
  std::shared_ptr<hid::Device> device = std::move(found);
  hidOpen_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device_ = device;
    receiveActive_ = true;
  }
  // Calls waiting with nothing open now wait for a label.
  changed_.notify_all();
  thread_ = platform_.StartThread([this] { Receive(); });
  if (!thread_) {
    platform_.Print("Can't start receive data thread");
    device->Close();
    hidOpen_ = false;
    ReleaseWaitingCalls();
    return false;
  }
  return true;
}

void Bridge::Receive() {
  std::shared_ptr<hid::Device> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device = device_;
  }
  Client client(*this);
  hid::RunReceiveLoop(*device, client, hid::Trailers::kJavaPos);
  // Nothing more can come (closed, lost, or a read error).
  ReleaseWaitingCalls();
}

int Bridge::GetUsbData(uint8_t* array, int length) {
  if (length < kLabelArraySize) {
    if (length > 0) array[0] = 0;
    return 0;
  }
  const auto deadline = std::chrono::steady_clock::now() + idleWait_;
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t releases = releases_;
  for (;;) {
    if (pendingLength_ > 0) {
      const int taken = pendingLength_;
      array[0] = static_cast<uint8_t>(taken);
      std::memcpy(array + 1, pendingLabel_, static_cast<size_t>(taken));
      pendingLength_ = 0;
      changed_.notify_all();  // the receive thread reads on
      return taken;
    }
    if (releases_ != releases) break;
    if (receiveActive_) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      break;
    }
  }
  array[0] = 0;
  return 0;
}

void Bridge::USBSendCMD(const uint8_t* array, int length) {
  std::shared_ptr<hid::Device> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device = device_;
  }
  if (!device || !device->IsOpen() || length < kOutputArraySize) return;
  const PlatformError error = device->WriteReport(array, kOutputArraySize);
  if (error.Failed()) {
    platform_.Print("Send error no= " + std::to_string(error.code));
  }
}

bool Bridge::IsOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_ && device_->IsOpen();
}

// The loop sees the device closed and its wait ends at once; a label
// waiting for its caller is given up.
void Bridge::StopThread() {
  hidOpen_ = false;
  std::shared_ptr<hid::Device> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receiveActive_ = false;
    device = device_;
  }
  changed_.notify_all();
  if (device) device->StopWaiting();
  if (thread_) thread_->Join();
  thread_.reset();
}

void Bridge::ReleaseWaitingCalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receiveActive_ = false;
    ++releases_;
  }
  changed_.notify_all();
}

// Every call waiting in GetUsbData returns, whether a device was open or
// not.
int Bridge::Close() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_);
  StopThread();
  std::shared_ptr<hid::Device> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device.swap(device_);
  }
  if (device) device->Close();
  ReleaseWaitingCalls();
  return -1;
}

}  // namespace jposusb
