// HID interfaces for tests: present or absent, openable or not, with
// attributes, and a device whose input reports, read errors and removal
// come from a script. Output reports are recorded.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/hid/hid_device.h"

namespace fakes {

// What one HID interface does, shared by the test and the device objects
// opened on it.
class FakeHidInterface {
 public:
  FakeHidInterface(std::string path, uint16_t vendor, uint16_t product)
      : path(std::move(path)), vendor(vendor), product(product) {}

  // A read that completes with these bytes (a report, or fewer bytes).
  void AddReport(const std::vector<uint8_t>& bytes, bool atOnce = false);
  // A read that fails with this error, immediately or when its result is
  // taken.
  void AddReadError(uint32_t error, bool atOnce = false);
  // Called after every wait slice in which nothing arrived; a test stops
  // the loop from here when it runs on the test's thread.
  void OnIdleSlice(std::function<void()> handler);
  void FailWrites(uint32_t error) { writeError = error; }
  // Waits for a report as a real device does, for up to the slice, instead
  // of returning at once; for measuring the loop in real time.
  void WaitInRealTime(bool wait) { realTime = wait; }
  int Waits() const { return waits; }
  // Waits that ran their whole time with nothing arriving and no stop (an
  // idle device's wake-ups), and that time added up: the virtual time of
  // a device that does not wait in real time.
  int Expired() const { return expired; }
  uint64_t ExpiredMs() const { return expiredMs; }
  // Scripted reads the device has not yet been asked for.
  size_t Unread();

  std::vector<std::array<uint8_t, 12>> Reports();
  int Cancels() const { return cancels; }
  bool Closed() const { return closes > 0; }
  int Opens() const { return opens; }

  const std::string path;
  const uint16_t vendor;
  const uint16_t product;
  // Set by the test while a receive thread may search.
  std::atomic<uint32_t> openError{0};        // non-zero: Open fails with it
  std::atomic<uint32_t> attributesError{0};  // non-zero: Attributes fails

 private:
  friend class FakeHidDevice;
  friend class FakeHidBus;
  struct Step {
    bool atOnce;
    uint32_t error;
    std::vector<uint8_t> bytes;
  };
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Step> steps;
  std::function<void()> idleHandler;
  std::vector<std::array<uint8_t, 12>> written;
  std::atomic<uint32_t> writeError{0};
  std::atomic<int> cancels{0};
  std::atomic<int> closes{0};
  std::atomic<int> opens{0};
  std::atomic<int> waits{0};
  std::atomic<int> expired{0};
  std::atomic<uint64_t> expiredMs{0};
  std::atomic<bool> realTime{false};
};

class FakeHidBus : public hid::Bus {
 public:
  std::shared_ptr<FakeHidInterface> AddInterface(const std::string& path,
                                                 uint16_t vendor,
                                                 uint16_t product);
  // The scanner's identity.
  std::shared_ptr<FakeHidInterface> AddScanner(const std::string& path);

  uint32_t beginError = 0;  // the set cannot be taken
  int failingIndex = -1;    // the detail of this index fails
  uint32_t failingIndexError = 0;

  PlatformError Begin() override;
  PlatformError Interface(uint32_t index, std::string& path) override;
  PlatformError Open(const std::string& path,
                     std::unique_ptr<hid::Device>& device) override;
  PlatformError Attributes(hid::Device& device, uint16_t& vendor,
                           uint16_t& product) override;
  void End() override { ++ends_; }

  int Ends() const { return ends_; }

 private:
  // Interfaces come while a receive thread searches (a scanner plugged in
  // again).
  std::mutex interfacesMutex_;
  std::vector<std::shared_ptr<FakeHidInterface>> interfaces_;
  std::atomic<int> ends_{0};
};

}  // namespace fakes
