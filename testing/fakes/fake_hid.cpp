#include "testing/fakes/fake_hid.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace fakes {

void FakeHidInterface::AddReport(const std::vector<uint8_t>& bytes,
                                 bool atOnce) {
  std::lock_guard<std::mutex> lock(mutex);
  steps.push_back({atOnce, 0, bytes});
  arrived.notify_all();
}

void FakeHidInterface::AddReadError(uint32_t error, bool atOnce) {
  std::lock_guard<std::mutex> lock(mutex);
  steps.push_back({atOnce, error, {}});
  arrived.notify_all();
}

void FakeHidInterface::OnIdleSlice(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex);
  idleHandler = std::move(handler);
}

size_t FakeHidInterface::Unread() {
  std::lock_guard<std::mutex> lock(mutex);
  return steps.size();
}

std::vector<std::array<uint8_t, 12>> FakeHidInterface::Reports() {
  std::lock_guard<std::mutex> lock(mutex);
  return written;
}

// One opened device: its reads follow the interface's script.
class FakeHidDevice : public hid::Device {
 public:
  explicit FakeHidDevice(std::shared_ptr<FakeHidInterface> interface)
      : interface_(std::move(interface)) {
    ++interface_->opens;
  }
  ~FakeHidDevice() override { Close(); }

  PlatformError StartRead(uint8_t* buffer, int size, int& count) override {
    buffer_ = buffer;
    size_ = size;
    std::lock_guard<std::mutex> lock(interface_->mutex);
    if (interface_->steps.empty() || !interface_->steps.front().atOnce) {
      return PlatformError::Of(syserr::kIoPending, "ReadFile");
    }
    return TakeStep(count, "ReadFile");
  }

  // A report that came is taken even after a stop, as on the real devices.
  bool WaitRead(uint32_t milliseconds) override {
    ++interface_->waits;
    std::function<void()> idle;
    {
      std::unique_lock<std::mutex> lock(interface_->mutex);
      if (interface_->realTime) {
        interface_->arrived.wait_for(
            lock, std::chrono::milliseconds(milliseconds),
            [this] { return !interface_->steps.empty() || stopped_; });
      }
      if (!interface_->steps.empty()) return true;
      if (stopped_) return false;
      ++interface_->expired;
      interface_->expiredMs += milliseconds;
      idle = interface_->idleHandler;
    }
    if (idle) idle();
    std::this_thread::yield();
    return false;
  }

  void StopWaiting() override {
    std::lock_guard<std::mutex> lock(interface_->mutex);
    stopped_ = true;
    interface_->arrived.notify_all();
  }

  PlatformError FinishRead(int& count) override {
    std::lock_guard<std::mutex> lock(interface_->mutex);
    if (interface_->steps.empty()) {
      return PlatformError::Of(syserr::kIoPending, "GetOverlappedResult");
    }
    return TakeStep(count, "GetOverlappedResult");
  }

  void CancelRead() override { ++interface_->cancels; }

  PlatformError WriteReport(const uint8_t* report, int size) override {
    if (!open_) return {};
    std::lock_guard<std::mutex> lock(interface_->mutex);
    std::array<uint8_t, 12> copy{};
    std::memcpy(copy.data(), report, std::min<size_t>(size, copy.size()));
    interface_->written.push_back(copy);
    return PlatformError::Of(interface_->writeError, "WriteFile");
  }

  void Close() override {
    if (open_.exchange(false)) ++interface_->closes;
  }
  bool IsOpen() const override { return open_; }

  const FakeHidInterface& Interface() const { return *interface_; }

 private:
  // The next scripted read, under the interface's lock.
  PlatformError TakeStep(int& count, const char* step) {
    const FakeHidInterface::Step next = interface_->steps.front();
    interface_->steps.pop_front();
    if (next.error != 0) return PlatformError::Of(next.error, step);
    count = Copy(next.bytes);
    return {};
  }
  int Copy(const std::vector<uint8_t>& bytes) {
    const int count = std::min(static_cast<int>(bytes.size()), size_);
    std::memcpy(buffer_, bytes.data(), static_cast<size_t>(count));
    return count;
  }

  std::shared_ptr<FakeHidInterface> interface_;
  std::atomic<bool> open_{true};
  bool stopped_ = false;  // under the interface's lock
  uint8_t* buffer_ = nullptr;
  int size_ = 0;
};

std::shared_ptr<FakeHidInterface> FakeHidBus::AddInterface(
    const std::string& path, uint16_t vendor, uint16_t product) {
  std::lock_guard<std::mutex> lock(interfacesMutex_);
  interfaces_.push_back(
      std::make_shared<FakeHidInterface>(path, vendor, product));
  return interfaces_.back();
}

std::shared_ptr<FakeHidInterface> FakeHidBus::AddScanner(
    const std::string& path) {
  return AddInterface(path, 0x0000, 0x000A);
}

PlatformError FakeHidBus::Begin() {
  return PlatformError::Of(beginError, "SetupDiGetClassDevs");
}

PlatformError FakeHidBus::Interface(uint32_t index, std::string& path) {
  if (static_cast<int>(index) == failingIndex) {
    return PlatformError::Of(failingIndexError,
                             "SetupDiGetDeviceInterfaceDetail");
  }
  std::lock_guard<std::mutex> lock(interfacesMutex_);
  if (index >= interfaces_.size()) {
    return PlatformError::Of(syserr::kNoMoreItems,
                             "SetupDiEnumDeviceInterfaces");
  }
  path = interfaces_[index]->path;
  return {};
}

PlatformError FakeHidBus::Open(const std::string& path,
                               std::unique_ptr<hid::Device>& device) {
  std::lock_guard<std::mutex> lock(interfacesMutex_);
  for (const auto& interface : interfaces_) {
    if (interface->path != path) continue;
    if (interface->openError != 0) {
      return PlatformError::Of(interface->openError, "CreateFile");
    }
    device = std::make_unique<FakeHidDevice>(interface);
    return {};
  }
  return PlatformError::Of(syserr::kFileNotFound, "CreateFile");
}

PlatformError FakeHidBus::Attributes(hid::Device& device, uint16_t& vendor,
                                     uint16_t& product) {
  const FakeHidInterface& interface =
      static_cast<FakeHidDevice&>(device).Interface();
  if (interface.attributesError != 0) {
    return PlatformError::Of(interface.attributesError, "HidD_GetAttributes");
  }
  vendor = interface.vendor;
  product = interface.product;
  return {};
}

}  // namespace fakes
