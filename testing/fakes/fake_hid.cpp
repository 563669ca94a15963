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

  ReadStart StartRead(uint8_t* buffer, int size, int& count,
                      uint32_t& error) override {
    buffer_ = buffer;
    size_ = size;
    std::lock_guard<std::mutex> lock(interface_->mutex);
    if (interface_->steps.empty() || !interface_->steps.front().atOnce) {
      return ReadStart::kPending;
    }
    FakeHidInterface::Step step = interface_->steps.front();
    interface_->steps.pop_front();
    if (step.error != 0) {
      error = step.error;
      return ReadStart::kFailed;
    }
    count = Copy(step.bytes);
    return ReadStart::kCompleted;
  }

  bool WaitRead(uint32_t milliseconds) override {
    ++interface_->waits;
    std::function<void()> idle;
    {
      std::unique_lock<std::mutex> lock(interface_->mutex);
      if (interface_->realTime) {
        return interface_->arrived.wait_for(
            lock, std::chrono::milliseconds(milliseconds),
            [this] { return !interface_->steps.empty(); });
      }
      if (!interface_->steps.empty()) return true;
      idle = interface_->idleHandler;
    }
    if (idle) idle();
    std::this_thread::yield();
    return false;
  }

  bool FinishRead(int& count, uint32_t& error) override {
    std::lock_guard<std::mutex> lock(interface_->mutex);
    if (interface_->steps.empty()) {
      error = hid::kErrorIoPending;
      return false;
    }
    FakeHidInterface::Step step = interface_->steps.front();
    interface_->steps.pop_front();
    if (step.error != 0) {
      error = step.error;
      return false;
    }
    count = Copy(step.bytes);
    return true;
  }

  void CancelRead() override { ++interface_->cancels; }

  uint32_t WriteReport(const uint8_t* report, int size) override {
    if (!open_) return 0;
    std::lock_guard<std::mutex> lock(interface_->mutex);
    std::array<uint8_t, 12> copy{};
    std::memcpy(copy.data(), report, std::min<size_t>(size, copy.size()));
    interface_->written.push_back(copy);
    return interface_->writeError;
  }

  void Close() override {
    if (open_.exchange(false)) ++interface_->closes;
  }
  bool IsOpen() const override { return open_; }

  const FakeHidInterface& Interface() const { return *interface_; }

 private:
  int Copy(const std::vector<uint8_t>& bytes) {
    const int count = std::min(static_cast<int>(bytes.size()), size_);
    std::memcpy(buffer_, bytes.data(), static_cast<size_t>(count));
    return count;
  }

  std::shared_ptr<FakeHidInterface> interface_;
  std::atomic<bool> open_{true};
  uint8_t* buffer_ = nullptr;
  int size_ = 0;
};

std::shared_ptr<FakeHidInterface> FakeHidBus::AddInterface(
    const std::string& path, uint16_t vendor, uint16_t product) {
  interfaces_.push_back(
      std::make_shared<FakeHidInterface>(path, vendor, product));
  return interfaces_.back();
}

std::shared_ptr<FakeHidInterface> FakeHidBus::AddScanner(
    const std::string& path) {
  return AddInterface(path, 0x0000, 0x000A);
}

uint32_t FakeHidBus::Begin() { return beginError; }

hid::Bus::Next FakeHidBus::Interface(uint32_t index, std::string& path,
                                     uint32_t& error) {
  if (static_cast<int>(index) == failingIndex) {
    error = failingIndexError;
    return Next::kFailed;
  }
  if (index >= interfaces_.size()) return Next::kEnd;
  path = interfaces_[index]->path;
  return Next::kInterface;
}

std::unique_ptr<hid::Device> FakeHidBus::Open(const std::string& path,
                                              uint32_t& error) {
  for (const auto& interface : interfaces_) {
    if (interface->path != path) continue;
    if (interface->openError != 0) {
      error = interface->openError;
      return nullptr;
    }
    return std::make_unique<FakeHidDevice>(interface);
  }
  error = 2;
  return nullptr;
}

bool FakeHidBus::Attributes(hid::Device& device, uint16_t& vendor,
                            uint16_t& product, uint32_t& error) {
  const FakeHidInterface& interface =
      static_cast<FakeHidDevice&>(device).Interface();
  if (interface.attributesError != 0) {
    error = interface.attributesError;
    return false;
  }
  vendor = interface.vendor;
  product = interface.product;
  return true;
}

}  // namespace fakes
