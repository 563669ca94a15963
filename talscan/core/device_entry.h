// The device entry: the registry key of one configured scanner, and what
// the service object reads from it when a device is opened.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/registry/registry.h"
#include "talscan/core/open_failure.h"

// Scanner types coded from the entry's "Type" value.
enum ScannerType : long {
  kTypeUnlisted = 0,
  kTypeFixedLaser = 1,
  kTypePortableM20 = 2,
  kTypePortableM40 = 3,
  kTypeModel88 = 4,
  kTypeUsb = 5,
};

inline bool IsPortableType(long type) {
  return type == kTypePortableM20 || type == kTypePortableM40;
}

// Compatibility modes coded from the entry's "Compatibility" value.
enum CompatibilityMode : long {
  kModeKorva = 0,
  kModeMetrologic = 1,
  kModeBeetle = 2,
  kModeSymbol = 3,
  kModeKvx = 4,
};

constexpr const char* kScannerDeviceRoot =
    "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";

using PortableConfigurationBytes = std::array<uint8_t, 20>;

// What a portable scanner is configured with when the entry says nothing.
constexpr PortableConfigurationBytes kDefaultPortableConfiguration = {
    0x40, 0x06, 0x40, 0x01, 0x40, 0x06, 0x40, 0x06, 0xC0, 0x3F,
    0x04, 0x00, 0x00, 0x00, 0x43, 0x4F, 0x00, 0x00, 0x00, 0x00};

constexpr const char* kDefaultUserID = "00000000";

struct DeviceEntry {
  std::string DeviceKeyPath;
  std::string PortName = "COM1";
  bool AutoScan = false;
  int DebugLevel = 0;
  long CompatibilityMode = kModeKorva;
  long ScannerType = kTypeUnlisted;
  PortableConfigurationBytes PortableConfiguration =
      kDefaultPortableConfiguration;
  std::string UserID = kDefaultUserID;
};

// Reads the entry at entry.DeviceKeyPath under HKEY_LOCAL_MACHINE into
// entry, whose fields hold their defaults. On failure fills `failure` with
// the message of the step that failed (none of them carries system text);
// fields read before the failure keep their new values.
bool LoadDeviceEntry(reg::Registry& registry, DeviceEntry& entry,
                     OpenFailure& failure);

std::string DeviceKeyPathFor(const std::string& deviceName);
