#include "common/hid/win32/win32_hid.h"

#include <windows.h>
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

HANDLE OpenPath(const std::string& path, DWORD flags) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

// A device that stops taking output reports must not hold the caller (the
// application's thread, setting DeviceEnabled): a write that has not
// completed by then is cancelled and fails.
constexpr DWORD kWriteBoundMs = 1000;

void CloseValid(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
}

// Two overlapped handles on the device, each with its event: one for the
// input reports, one for the output reports, so that writing never waits
// for or disturbs the pending read.
class Win32Device : public Device {
 public:
  Win32Device(HANDLE read, HANDLE write, HANDLE readEvent, HANDLE writeEvent)
      : read_(read), write_(write), event_(readEvent), writeEvent_(writeEvent) {
    overlapped_.hEvent = event_;
  }
  ~Win32Device() override {
    Close();
    CloseHandle(event_);
    CloseHandle(writeEvent_);
  }

  ReadStart StartRead(uint8_t* buffer, int size, int& count,
                      uint32_t& error) override {
    ResetEvent(event_);
    overlapped_.Offset = 0;
    overlapped_.OffsetHigh = 0;
    DWORD read = 0;
    if (ReadFile(read_, buffer, static_cast<DWORD>(size), &read, &overlapped_)) {
      count = static_cast<int>(read);
      return ReadStart::kCompleted;
    }
    error = GetLastError();
    return error == ERROR_IO_PENDING ? ReadStart::kPending : ReadStart::kFailed;
  }

  bool WaitRead(uint32_t milliseconds) override {
    return WaitForSingleObject(event_, milliseconds) == WAIT_OBJECT_0;
  }

  bool FinishRead(int& count, uint32_t& error) override {
    DWORD read = 0;
    if (GetOverlappedResult(read_, &overlapped_, &read, FALSE)) {
      count = static_cast<int>(read);
      return true;
    }
    error = GetLastError();
    return false;
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
  uint32_t WriteReport(const uint8_t* report, int size) override {
    std::lock_guard<std::mutex> lock(handles_);
    if (write_ == INVALID_HANDLE_VALUE) return 0;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = writeEvent_;
    ResetEvent(writeEvent_);
    DWORD written = 0;
    if (WriteFile(write_, report, static_cast<DWORD>(size), &written,
                  &overlapped)) {
      return 0;
    }
    if (GetLastError() != ERROR_IO_PENDING) return GetLastError();
    if (WaitForSingleObject(writeEvent_, kWriteBoundMs) != WAIT_OBJECT_0) {
      // The record and the report must stay until the system lets go.
      CancelIo(write_);
      GetOverlappedResult(write_, &overlapped, &written, TRUE);
      return ERROR_TIMEOUT;
    }
    if (!GetOverlappedResult(write_, &overlapped, &written, FALSE)) {
      return GetLastError();
    }
    return 0;
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(handles_);
    CloseValid(read_.exchange(INVALID_HANDLE_VALUE));
    CloseValid(write_.exchange(INVALID_HANDLE_VALUE));
  }
  bool IsOpen() const override { return read_ != INVALID_HANDLE_VALUE; }

  HANDLE ReadHandle() const { return read_; }

 private:
  std::mutex handles_;
  std::atomic<HANDLE> read_;
  std::atomic<HANDLE> write_;
  HANDLE event_;
  HANDLE writeEvent_;
  OVERLAPPED overlapped_ = {};
};

}  // namespace

Win32Bus::~Win32Bus() { End(); }

uint32_t Win32Bus::Begin() {
  End();
  GUID hidClass = HidClass();
  HDEVINFO devices = SetupDiGetClassDevsA(
      &hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) return GetLastError();
  devices_ = devices;
  return 0;
}

Bus::Next Win32Bus::Interface(uint32_t index, std::string& path,
                              uint32_t& error) {
  GUID hidClass = HidClass();
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(devices_, nullptr, &hidClass, index, &data)) {
    error = GetLastError();
    return error == ERROR_NO_MORE_ITEMS ? Next::kEnd : Next::kFailed;
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
    error = GetLastError();
    return Next::kFailed;
  }
  path = detail->DevicePath;
  return Next::kInterface;
}

std::unique_ptr<Device> Win32Bus::Open(const std::string& path,
                                       uint32_t& error) {
  HANDLE read = OpenPath(path, FILE_FLAG_OVERLAPPED);
  if (read == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  HANDLE write = OpenPath(path, FILE_FLAG_OVERLAPPED);
  HANDLE readEvent = write == INVALID_HANDLE_VALUE
                         ? nullptr
                         : CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE writeEvent = readEvent == nullptr
                          ? nullptr
                          : CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (writeEvent == nullptr) {
    error = GetLastError();
    CloseHandle(read);
    CloseValid(write);
    CloseValid(readEvent);
    return nullptr;
  }
  return std::make_unique<Win32Device>(read, write, readEvent, writeEvent);
}

bool Win32Bus::Attributes(Device& device, uint16_t& vendor, uint16_t& product,
                          uint32_t& error) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(static_cast<Win32Device&>(device).ReadHandle(),
                          &attributes)) {
    error = GetLastError();
    return false;
  }
  vendor = attributes.VendorID;
  product = attributes.ProductID;
  return true;
}

void Win32Bus::End() {
  if (devices_ != nullptr) {
    SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(devices_));
    devices_ = nullptr;
  }
}

}  // namespace hid
