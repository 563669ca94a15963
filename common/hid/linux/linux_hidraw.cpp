#include "common/hid/linux/linux_hidraw.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace hid {

namespace {

constexpr char kClassFolder[] = "/sys/class/hidraw";
constexpr int kWriteBoundMs = 1000;

// errno as a platform error: a device that is gone, and a read that must
// wait, as the receive loop knows them.
PlatformError Error(int code, const char* step) {
  switch (code) {
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE: return PlatformError::Of(syserr::kDeviceNotConnected, step);
    case EAGAIN: return PlatformError::Of(syserr::kIoPending, step);
    default: return PlatformError::Of(static_cast<uint32_t>(code), step);
  }
}

// The whole of a small sysfs file; empty when it cannot be read.
std::string ReadFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char chunk[4096];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) content.append(chunk, got);
  close(fd);
  return content;
}

std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// Whether the report descriptor declares report identifiers (a Report ID
// item, tag 8 of the global items). Without them hidraw hands over a
// report without its identifier byte, which Windows puts first as 0.
bool UsesReportIds(const std::string& descriptor) {
  for (size_t i = 0; i < descriptor.size();) {
    const uint8_t prefix = static_cast<uint8_t>(descriptor[i]);
    if (prefix == 0xFE) {  // a long item: size in the next byte
      if (i + 1 >= descriptor.size()) break;
      i += 3 + static_cast<uint8_t>(descriptor[i + 1]);
      continue;
    }
    if ((prefix & 0xFC) == 0x84) return true;
    const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    i += 1 + size;
  }
  return false;
}

class HidrawDevice : public Device {
 public:
  HidrawDevice(int read, int write, int stop, std::string name, bool numbered)
      : read_(read),
        write_(write),
        stop_(stop),
        name_(std::move(name)),
        numbered_(numbered) {}
  ~HidrawDevice() override {
    Close();
    close(stop_);
  }

  PlatformError StartRead(uint8_t* buffer, int size, int& count) override {
    buffer_ = buffer;
    size_ = size;
    return Take(count);
  }

  // The stop's counter is never read back: once written, it ends every
  // later wait as well. A report that came meanwhile is still taken.
  bool WaitRead(uint32_t milliseconds) override {
    pollfd ready[2] = {{read_, POLLIN, 0}, {stop_, POLLIN, 0}};
    return poll(ready, 2, static_cast<int>(milliseconds)) > 0 &&
           ready[0].revents != 0;
  }

  // Fails only when the counter is full, which ends the waits all the same.
  void StopWaiting() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stop_, &one, sizeof one);
  }

  PlatformError FinishRead(int& count) override { return Take(count); }

  void CancelRead() override {}

  // Under the lock that Close takes, so that a descriptor is never used
  // after it was closed by the other thread (or reused for another file).
  PlatformError WriteReport(const uint8_t* report, int size) override {
    std::lock_guard<std::mutex> lock(descriptors_);
    if (write_ < 0) return {};
    // A device that stops taking reports fails the write after a bound
    // instead of holding the caller.
    pollfd ready = {write_, POLLOUT, 0};
    if (poll(&ready, 1, kWriteBoundMs) <= 0) {
      return PlatformError::Of(syserr::kTimeout, "poll");
    }
    // The first byte is the report number, 0 without numbered reports, as
    // on Windows.
    if (write(write_, report, static_cast<size_t>(size)) < 0) {
      return Error(errno, "write");
    }
    return {};
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(descriptors_);
    const int read = read_.exchange(-1);
    const int write = write_.exchange(-1);
    if (read >= 0) close(read);
    if (write >= 0) close(write);
  }
  bool IsOpen() const override { return read_ >= 0; }

  const std::string& Name() const { return name_; }

 private:
  // Reads one report, giving it the identifier byte Windows would.
  PlatformError Take(int& count) {
    const int fd = read_;
    const int offset = numbered_ ? 0 : 1;
    if (fd < 0 || size_ <= offset) {
      return PlatformError::Of(syserr::kDeviceNotConnected, "read");
    }
    const ssize_t got = read(fd, buffer_ + offset, size_ - offset);
    if (got < 0) return Error(errno, "read");
    if (got == 0) {  // the other end is gone
      return PlatformError::Of(syserr::kDeviceNotConnected, "read");
    }
    if (!numbered_) buffer_[0] = 0;
    count = static_cast<int>(got) + offset;
    return {};
  }

  std::mutex descriptors_;
  std::atomic<int> read_;
  std::atomic<int> write_;
  const int stop_;  // an eventfd
  std::string name_;
  bool numbered_;
  uint8_t* buffer_ = nullptr;
  int size_ = 0;
};

}  // namespace

PlatformError HidrawBus::Begin() {
  names_.clear();
  DIR* folder = opendir(kClassFolder);
  if (folder == nullptr) return Error(errno, "opendir");
  while (dirent* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, "hidraw", 6) == 0) {
      names_.push_back(entry->d_name);
    }
  }
  closedir(folder);
  std::sort(names_.begin(), names_.end());
  return {};
}

PlatformError HidrawBus::Interface(uint32_t index, std::string& path) {
  if (index >= names_.size()) {
    return PlatformError::Of(syserr::kNoMoreItems, "readdir");
  }
  path = "/dev/" + names_[index];
  return {};
}

PlatformError HidrawBus::Open(const std::string& path,
                              std::unique_ptr<Device>& device) {
  const int read = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (read < 0) return Error(errno, "open");
  const int write = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  const int stop = write < 0 ? -1 : eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop < 0) {
    const PlatformError error = Error(errno, write < 0 ? "open" : "eventfd");
    close(read);
    if (write >= 0) close(write);
    return error;
  }
  const std::string name = NameOf(path);
  const bool numbered = UsesReportIds(ReadFile(
      std::string(kClassFolder) + "/" + name + "/device/report_descriptor"));
  device = std::make_unique<HidrawDevice>(read, write, stop, name, numbered);
  return {};
}

// HID_ID=<bus>:<vendor>:<product> in hexadecimal, from the uevent file.
PlatformError HidrawBus::Attributes(Device& device, uint16_t& vendor,
                                    uint16_t& product) {
  const std::string uevent =
      ReadFile(std::string(kClassFolder) + "/" +
               static_cast<HidrawDevice&>(device).Name() + "/device/uevent");
  const size_t at = uevent.find("HID_ID=");
  unsigned bus = 0, vendorId = 0, productId = 0;
  if (at == std::string::npos || sscanf(uevent.c_str() + at, "HID_ID=%x:%x:%x",
                                        &bus, &vendorId, &productId) != 3) {
    return PlatformError::Of(ENOENT, "uevent");
  }
  vendor = static_cast<uint16_t>(vendorId);
  product = static_cast<uint16_t>(productId);
  return {};
}

}  // namespace hid
