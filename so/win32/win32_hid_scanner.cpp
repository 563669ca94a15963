#include "so/win32/win32_hid_scanner.h"

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr USHORT kScannerVendor = 0x0000;
constexpr USHORT kScannerProduct = 0x000A;

HANDLE OpenPath(const char* path, DWORD flags) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

void CloseValid(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

}  // namespace

bool Win32HidScanner::IsOpen() const { return read_ != INVALID_HANDLE_VALUE; }

uint32_t Win32HidScanner::Open() {
  if (IsOpen()) return 0;
  GUID hidClass;
  HidD_GetHidGuid(&hidClass);
  HDEVINFO devices = SetupDiGetClassDevsA(
      &hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) return GetLastError();

  uint32_t error = 0;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD index = 0;; ++index) {
    if (!SetupDiEnumDeviceInterfaces(devices, nullptr, &hidClass, index,
                                     &interfaceData)) {
      error = GetLastError();  // ERROR_NO_MORE_ITEMS at the end
      break;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, nullptr, 0,
                                     &size, nullptr);
    std::vector<uint8_t> storage(
        std::max<size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
    auto* detail =
        reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, detail,
                                          static_cast<DWORD>(storage.size()),
                                          nullptr, nullptr)) {
      error = GetLastError();
      break;
    }
    HANDLE read = OpenPath(detail->DevicePath, FILE_FLAG_OVERLAPPED);
    HANDLE write = OpenPath(detail->DevicePath, 0);
    if (read == INVALID_HANDLE_VALUE || write == INVALID_HANDLE_VALUE) {
      CloseValid(read);
      CloseValid(write);
      continue;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(read, &attributes)) {
      error = GetLastError();
      notifier_.ShowWarning(notifier_.ApplicationName(),
                            "Couldn't get HID attributes");
      CloseHandle(read);
      CloseHandle(write);
      break;
    }
    if (attributes.VendorID == kScannerVendor &&
        attributes.ProductID == kScannerProduct) {
      read_ = read;
      write_ = write;
      break;
    }
    CloseHandle(read);
    CloseHandle(write);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return error;
}

void Win32HidScanner::Close() {
  CloseValid(read_.exchange(INVALID_HANDLE_VALUE));
  CloseValid(write_.exchange(INVALID_HANDLE_VALUE));
}

uint32_t Win32HidScanner::WriteReport(
    const uint8_t (&report)[kHidOutputReportSize]) {
  HANDLE write = write_;
  if (write == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  if (!WriteFile(write, report, kHidOutputReportSize, &written, nullptr)) {
    return GetLastError();
  }
  return 0;
}
