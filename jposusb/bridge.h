// The JavaPOS bridge to the USB scanner: one receive thread that decodes
// input reports and hands each label to the Java caller through a
// one-label mailbox, a waiting call, an output report writer and Close.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/hid/hid_device.h"
#include "common/hid/hid_report.h"

namespace jposusb {

// The smallest arrays the Java side may pass: element 0 and the longest
// label of a report, and one output report.
constexpr int kLabelArraySize = 1 + hid::kMaxReportLabel;
constexpr int kOutputArraySize = hid::kOutputReportSize;

// How long GetUsbData waits with no device open. A Java reader thread
// that calls it in a loop then sleeps instead of spinning, and one that
// wants to stop still gets control back now and then.
constexpr std::chrono::milliseconds kIdleWait{500};

// A started thread; dropping it without Join leaves the thread running.
class Thread {
 public:
  virtual ~Thread() = default;
  virtual void Join() = 0;
};

// What differs between Windows and Linux.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual hid::Bus& Bus() = 0;
  // Diagnostics go to standard output.
  virtual void Print(const std::string& line) = 0;
  // The receive thread: it must keep the library's code for as long as it
  // runs. Empty when it could not be started.
  virtual std::unique_ptr<Thread> StartThread(std::function<void()> body) = 0;
};

class Bridge {
 public:
  explicit Bridge(Platform& platform,
                  std::chrono::milliseconds idleWait = kIdleWait)
      : platform_(platform), idleWait_(idleWait) {}
  ~Bridge();

  bool OpenHID();
  // Waits for the next label and writes its length to element 0 and its
  // letters and data after it; returns its length. A call released by
  // Close or by the end of the receive thread, one that waited idleWait
  // with no device open, or one given an array too short for a label,
  // returns 0 and writes 0 to element 0 (when there is one).
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
  void ReleaseWaitingCalls();

  Platform& platform_;
  const std::chrono::milliseconds idleWait_;
  // Serialises OpenHID and Close, which Java threads may call at once.
  std::mutex lifecycle_;
  // Guards the device, the mailbox and the release count; `changed` tells
  // of a change to any of them or to receiveActive_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<hid::Device> device_;
  std::unique_ptr<Thread> thread_;
  // Set while the receive thread reads; cleared, under mutex_, by Close
  // and when the thread ends by itself.
  std::atomic<bool> receiveActive_{false};
  std::atomic<bool> hidOpen_{false};
  // The mailbox: a length above 0 means a label waits.
  uint8_t pendingLabel_[hid::kMaxReportLabel] = {};
  int pendingLength_ = 0;
  // Counts Closes and ends of the receive thread: a waiting call returns
  // once it changes, so that every call waiting then is let go and none
  // that starts later.
  uint64_t releases_ = 0;
};

}  // namespace jposusb
