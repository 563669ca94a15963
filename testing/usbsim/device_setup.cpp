#include "testing/usbsim/device_setup.h"

#include <windows.h>
// SetupAPI and the driver installer need windows.h first.
#include <newdev.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "common/hid/win32/win32_hid.h"

namespace usbsim {

namespace {

// The instance name carries the identity into the HID device path, as a
// USB device's does.
constexpr char kInstanceId[] = "ROOT\\VID_0000&PID_000A\\0";
constexpr char kHardwareIds[] = "VirtualUsbScanner\0";
constexpr char kDriverFile[] = "virtual_scanner.sys";
constexpr char kInfFile[] = "virtual_scanner.inf";

std::string Failed(const char* step) {
  return std::string(step) + " failed: " + std::to_string(GetLastError());
}

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string CopyDriver(const std::string& programFolder) {
  char system[MAX_PATH];
  if (GetSystemDirectoryA(system, MAX_PATH) == 0) {
    return Failed("GetSystemDirectory");
  }
  const std::string target = std::string(system) + "\\drivers\\" + kDriverFile;
  const std::string source = programFolder + kDriverFile;
  // A driver still loaded from an earlier plug cannot be replaced, and
  // need not be when it is this one.
  if (Contents(source) == Contents(target)) return "";
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
    return Failed("CopyFile");
  }
  return "";
}

}  // namespace

std::string Plug(const std::string& programFolder) {
  std::string problem = CopyDriver(programFolder);
  if (!problem.empty()) return problem;
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  GUID systemClass = {0x4d36e97d, 0xe325, 0x11ce,
                      {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  if (!SetupDiCreateDeviceInfoA(set, kInstanceId, &systemClass, nullptr,
                                nullptr, 0, &device)) {
    problem = Failed("SetupDiCreateDeviceInfo");
  } else if (!SetupDiSetDeviceRegistryPropertyA(
                 set, &device, SPDRP_HARDWAREID,
                 reinterpret_cast<const BYTE*>(kHardwareIds),
                 sizeof kHardwareIds)) {
    problem = Failed("SetupDiSetDeviceRegistryProperty");
  } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    problem = Failed("DIF_REGISTERDEVICE");
  }
  SetupDiDestroyDeviceInfoList(set);
  if (!problem.empty()) return problem;
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareIds,
                                          (programFolder + kInfFile).c_str(),
                                          INSTALLFLAG_FORCE, &reboot)) {
    return Failed("UpdateDriverForPlugAndPlayDevices");
  }
  return "";
}

std::string Unplug() {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  std::string problem;
  if (SetupDiOpenDeviceInfoA(set, kInstanceId, nullptr, 0, &device) &&
      !SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
    problem = Failed("DIF_REMOVE");
  }
  SetupDiDestroyDeviceInfoList(set);
  return problem;
}

bool InterfacePresent() {
  hid::Win32Bus bus;
  if (bus.Begin().Failed()) return false;
  std::string path;
  for (uint32_t index = 0;; ++index) {
    const PlatformError error = bus.Interface(index, path);
    if (error.Is(syserr::kNoMoreItems)) return false;
    if (error.Failed()) continue;
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (path.find("vid_0000&pid_000a") != std::string::npos) return true;
  }
}

}  // namespace usbsim
