// The JavaPOS bridge to the USB scanner: one receive thread that decodes
// input reports and hands each label to the Java caller through a
// one-label mailbox, a waiting call, an output report writer and Close.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/hid/hid_device.h"
#include "common/hid/hid_report.h"

namespace jposusb {

// The smallest arrays the Java side may pass: element 0 and the longest
// label of a report, and one output report.
constexpr int kLabelArraySize = 1 + hid::kMaxReportLabel;
constexpr int kOutputArraySize = hid::kOutputReportSize;

// An auto-reset event: Set wakes one Wait, or the next one. A Wait may
// also return without a Set; its caller looks again.
class LabelEvent {
 public:
  virtual ~LabelEvent() = default;
  virtual void Set() = 0;
  virtual void Wait() = 0;
};

// What differs between Windows and Linux.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual hid::Bus& Bus() = 0;
  // The event "KorvaJposUsbEvent" on Windows.
  virtual std::unique_ptr<LabelEvent> CreateLabelEvent() = 0;
  // Diagnostics go to standard output.
  virtual void Print(const std::string& line) = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

class Bridge {
 public:
  explicit Bridge(Platform& platform)
      : platform_(platform), event_(platform.CreateLabelEvent()) {}
  ~Bridge();

  bool OpenHID();
  // Waits for the next label and writes its length to element 0 and its
  // letters and data after it; returns its length. A call released by
  // Close, or given an array too short for a label, returns 0 and writes
  // 0 to element 0 (when there is one).
  int GetUsbData(uint8_t* array, int length);
  // Writes the first 12 bytes as one output report; nothing when the
  // device is closed or the array too short.
  void USBSendCMD(const uint8_t* array, int length);
  bool IsOpen();
  int Close();

 private:
  class Client;
  void Receive();
  void StopThread();

  Platform& platform_;
  // Serialises OpenHID and Close, which Java threads may call at once.
  std::mutex lifecycle_;
  // Guards the device and the mailbox.
  std::mutex mutex_;
  std::shared_ptr<hid::Device> device_;
  const std::unique_ptr<LabelEvent> event_;
  std::thread thread_;
  // Set while the receive thread reads; cleared by Close and when the
  // thread ends by itself, which also lets a waiting GetUsbData go.
  std::atomic<bool> receiveActive_{false};
  std::atomic<bool> hidOpen_{false};
  // The mailbox: a length above 0 means a label waits.
  uint8_t pendingLabel_[hid::kMaxReportLabel] = {};
  int pendingLength_ = 0;
};

}  // namespace jposusb
