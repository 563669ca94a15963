#include "common/hid/win32/win32_hid.h"

#include <windows.h>
// SetupAPI and the HID class driver need windows.h first.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace hid {

namespace {

GUID HidClass() {
  GUID guid;
  HidD_GetHidGuid(&guid);
  return guid;
}

PlatformError LastError(const char* step) {
  return PlatformError::Of(GetLastError(), step);
}

HANDLE OpenPath(const std::string& path, DWORD flags) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

// A device that stops taking output reports must not hold the caller (the
// application's thread, setting DeviceEnabled): a write that has not
// completed by then is cancelled and fails.
constexpr DWORD kWriteBoundMs = 1000;

void CloseValid(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
}

// The events of one opened device: the read's, the write's, and the
// manual-reset one that ends the read's waits for good.
struct DeviceEvents {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  HANDLE stop = nullptr;

  // Stops at the first failure, whose error is then the last one.
  bool Create() {
    for (HANDLE* event : {&read, &write, &stop}) {
      *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (*event == nullptr) return false;
    }
    return true;
  }
  void CloseAll() const {
    for (HANDLE event : {read, write, stop}) CloseValid(event);
  }
};

// Two overlapped handles on the device, each with its event: one for the
// input reports, one for the output reports, so that writing never waits
// for or disturbs the pending read.
class Win32Device : public Device {
 public:
  Win32Device(HANDLE read, HANDLE write, DeviceEvents events)
      : read_(read), write_(write), events_(events) {
    overlapped_.hEvent = events_.read;
  }
  ~Win32Device() override {
    Close();
    events_.CloseAll();
  }

  PlatformError StartRead(uint8_t* buffer, int size, int& count) override {
    ResetEvent(events_.read);
    overlapped_.Offset = 0;
    overlapped_.OffsetHigh = 0;
    DWORD read = 0;
    if (!ReadFile(read_, buffer, static_cast<DWORD>(size), &read,
                  &overlapped_)) {
      return ReadFailure("ReadFile");
    }
    count = static_cast<int>(read);
    return {};
  }

  // A read that completed as the stop came is still taken: it comes first.
  bool WaitRead(uint32_t milliseconds) override {
    const HANDLE events[2] = {events_.read, events_.stop};
    return WaitForMultipleObjects(2, events, FALSE, milliseconds) ==
           WAIT_OBJECT_0;
  }

  void StopWaiting() override { SetEvent(events_.stop); }

  PlatformError FinishRead(int& count) override {
    DWORD read = 0;
    if (!GetOverlappedResult(read_, &overlapped_, &read, FALSE)) {
      return ReadFailure("GetOverlappedResult");
    }
    count = static_cast<int>(read);
    return {};
  }

  // The cancelled read is waited for: until it has completed the system
  // may still write to the report buffer and the OVERLAPPED record.
  void CancelRead() override {
    CancelIo(read_);
    DWORD ignored = 0;
    GetOverlappedResult(read_, &overlapped_, &ignored, TRUE);
  }

  // Under the lock that Close takes, so that a handle is never used after
  // it was closed by the other thread (or reused for another file).
  PlatformError WriteReport(const uint8_t* report, int size) override {
    std::lock_guard<std::mutex> lock(handles_);
    if (write_ == INVALID_HANDLE_VALUE) return {};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = events_.write;
    ResetEvent(events_.write);
    DWORD written = 0;
    if (WriteFile(write_, report, static_cast<DWORD>(size), &written,
                  &overlapped)) {
      return {};
    }
    if (GetLastError() != ERROR_IO_PENDING) return LastError("WriteFile");
    if (WaitForSingleObject(events_.write, kWriteBoundMs) != WAIT_OBJECT_0) {
      // The record and the report must stay until the system lets go.
      CancelIo(write_);
      GetOverlappedResult(write_, &overlapped, &written, TRUE);
      return PlatformError::Of(syserr::kTimeout, "WriteFile");
    }
    if (!GetOverlappedResult(write_, &overlapped, &written, FALSE)) {
      return LastError("GetOverlappedResult");
    }
    return {};
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(handles_);
    CloseValid(read_.exchange(INVALID_HANDLE_VALUE));
    CloseValid(write_.exchange(INVALID_HANDLE_VALUE));
  }
  bool IsOpen() const override { return read_ != INVALID_HANDLE_VALUE; }

  HANDLE ReadHandle() const { return read_; }

 private:
  // A read that fails on a device that no longer answers at all means it
  // was unplugged, whatever the error says: Windows gives 1167, Wine 5
  // (from the pending removal). A handle that Close took is not asked.
  PlatformError ReadFailure(const char* step) {
    const PlatformError error = LastError(step);
    if (error.Is(syserr::kIoPending) || error.Is(syserr::kDeviceNotConnected)) {
      return error;
    }
    std::lock_guard<std::mutex> lock(handles_);
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (read_ != INVALID_HANDLE_VALUE &&
        !HidD_GetAttributes(read_, &attributes)) {
      return PlatformError::Of(syserr::kDeviceNotConnected, step);
    }
    return error;
  }

  std::mutex handles_;
  std::atomic<HANDLE> read_;
  std::atomic<HANDLE> write_;
  const DeviceEvents events_;
  OVERLAPPED overlapped_ = {};
};

}  // namespace

Win32Bus::~Win32Bus() { End(); }

PlatformError Win32Bus::Begin() {
  End();
  GUID hidClass = HidClass();
  HDEVINFO devices = SetupDiGetClassDevsA(
      &hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) return LastError("SetupDiGetClassDevs");
  devices_ = devices;
  return {};
}

PlatformError Win32Bus::Interface(uint32_t index, std::string& path) {
  GUID hidClass = HidClass();
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(devices_, nullptr, &hidClass, index,
                                   &data)) {
    return LastError("SetupDiEnumDeviceInterfaces");
  }
  // The first call gives the size of the detail record, the second fills it.
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailA(devices_, &data, nullptr, 0, &size, nullptr);
  std::vector<uint8_t> storage(
      std::max<size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
  auto* detail =
      reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(devices_, &data, detail,
                                        static_cast<DWORD>(storage.size()),
                                        nullptr, nullptr)) {
    return LastError("SetupDiGetDeviceInterfaceDetail");
  }
  path = detail->DevicePath;
  return {};
}

PlatformError Win32Bus::Open(const std::string& path,
                             std::unique_ptr<Device>& device) {
  HANDLE read = OpenPath(path, FILE_FLAG_OVERLAPPED);
  if (read == INVALID_HANDLE_VALUE) return LastError("CreateFile");
  HANDLE write = OpenPath(path, FILE_FLAG_OVERLAPPED);
  DeviceEvents events;
  if (write == INVALID_HANDLE_VALUE || !events.Create()) {
    const PlatformError error =
        LastError(write == INVALID_HANDLE_VALUE ? "CreateFile" : "CreateEvent");
    CloseHandle(read);
    CloseValid(write);
    events.CloseAll();
    return error;
  }
  device = std::make_unique<Win32Device>(read, write, events);
  return {};
}

PlatformError Win32Bus::Attributes(Device& device, uint16_t& vendor,
                                   uint16_t& product) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(static_cast<Win32Device&>(device).ReadHandle(),
                          &attributes)) {
    return LastError("HidD_GetAttributes");
  }
  vendor = attributes.VendorID;
  product = attributes.ProductID;
  return {};
}

void Win32Bus::End() {
  if (devices_ != nullptr) {
    SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(devices_));
    devices_ = nullptr;
  }
}

}  // namespace hid
