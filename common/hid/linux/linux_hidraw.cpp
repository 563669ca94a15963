#include "common/hid/linux/linux_hidraw.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdio>
#include <cstring>

namespace hid {

namespace {

constexpr char kClassFolder[] = "/sys/class/hidraw";
constexpr int kWriteBoundMs = 1000;

// The errors of a device that is gone, as the receive loop knows them.
uint32_t Error(int code) {
  switch (code) {
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
      return kErrorDeviceNotConnected;
    case EAGAIN:
      return kErrorIoPending;
    default:
      return static_cast<uint32_t>(code);
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
  HidrawDevice(int read, int write, std::string name, bool numbered)
      : read_(read), write_(write), name_(std::move(name)), numbered_(numbered) {}
  ~HidrawDevice() override { Close(); }

  ReadStart StartRead(uint8_t* buffer, int size, int& count,
                      uint32_t& error) override {
    buffer_ = buffer;
    size_ = size;
    if (Take(count, error)) return ReadStart::kCompleted;
    return error == kErrorIoPending ? ReadStart::kPending : ReadStart::kFailed;
  }

  bool WaitRead(uint32_t milliseconds) override {
    pollfd ready = {read_, POLLIN, 0};
    return poll(&ready, 1, static_cast<int>(milliseconds)) > 0;
  }

  bool FinishRead(int& count, uint32_t& error) override {
    return Take(count, error);
  }

  void CancelRead() override {}

  // Under the lock that Close takes, so that a descriptor is never used
  // after it was closed by the other thread (or reused for another file).
  uint32_t WriteReport(const uint8_t* report, int size) override {
    std::lock_guard<std::mutex> lock(descriptors_);
    if (write_ < 0) return 0;
    // A device that stops taking reports fails the write after a bound
    // instead of holding the caller.
    pollfd ready = {write_, POLLOUT, 0};
    if (poll(&ready, 1, kWriteBoundMs) <= 0) return Error(ETIMEDOUT);
    // The first byte is the report number, 0 without numbered reports, as
    // on Windows.
    if (write(write_, report, static_cast<size_t>(size)) < 0) {
      return Error(errno);
    }
    return 0;
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
  bool Take(int& count, uint32_t& error) {
    const int fd = read_;
    const int offset = numbered_ ? 0 : 1;
    if (fd < 0 || size_ <= offset) {
      error = kErrorDeviceNotConnected;
      return false;
    }
    const ssize_t got = read(fd, buffer_ + offset, size_ - offset);
    if (got < 0) {
      error = Error(errno);
      return false;
    }
    if (got == 0) {
      error = kErrorDeviceNotConnected;  // the other end is gone
      return false;
    }
    if (!numbered_) buffer_[0] = 0;
    count = static_cast<int>(got) + offset;
    return true;
  }

  std::mutex descriptors_;
  std::atomic<int> read_;
  std::atomic<int> write_;
  std::string name_;
  bool numbered_;
  uint8_t* buffer_ = nullptr;
  int size_ = 0;
};

}  // namespace

uint32_t HidrawBus::Begin() {
  names_.clear();
  DIR* folder = opendir(kClassFolder);
  if (folder == nullptr) return Error(errno);
  while (dirent* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, "hidraw", 6) == 0) {
      names_.push_back(entry->d_name);
    }
  }
  closedir(folder);
  std::sort(names_.begin(), names_.end());
  return 0;
}

Bus::Next HidrawBus::Interface(uint32_t index, std::string& path,
                               uint32_t& error) {
  (void)error;
  if (index >= names_.size()) return Next::kEnd;
  path = "/dev/" + names_[index];
  return Next::kInterface;
}

std::unique_ptr<Device> HidrawBus::Open(const std::string& path,
                                       uint32_t& error) {
  const int read = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (read < 0) {
    error = Error(errno);
    return nullptr;
  }
  const int write = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (write < 0) {
    error = Error(errno);
    close(read);
    return nullptr;
  }
  const std::string name = NameOf(path);
  const bool numbered = UsesReportIds(ReadFile(
      std::string(kClassFolder) + "/" + name + "/device/report_descriptor"));
  return std::make_unique<HidrawDevice>(read, write, name, numbered);
}

// HID_ID=<bus>:<vendor>:<product> in hexadecimal, from the uevent file.
bool HidrawBus::Attributes(Device& device, uint16_t& vendor, uint16_t& product,
                           uint32_t& error) {
  const std::string uevent =
      ReadFile(std::string(kClassFolder) + "/" +
               static_cast<HidrawDevice&>(device).Name() + "/device/uevent");
  const size_t at = uevent.find("HID_ID=");
  unsigned bus = 0, vendorId = 0, productId = 0;
  if (at == std::string::npos ||
      sscanf(uevent.c_str() + at, "HID_ID=%x:%x:%x", &bus, &vendorId,
             &productId) != 3) {
    error = ENOENT;
    return false;
  }
  vendor = static_cast<uint16_t>(vendorId);
  product = static_cast<uint16_t>(productId);
  return true;
}

}  // namespace hid
