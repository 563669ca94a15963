// The device entry: the registry key of one configured scanner, and what
// the service object reads from it when a device is opened.
#pragma once

#include <string>

#include "common/device_entry/entry_values.h"
#include "common/registry/registry.h"
#include "talscan/core/open_failure.h"

struct DeviceEntry {
  std::string DeviceKeyPath;
  std::string PortName = device_entry::kDefaultPort;
  bool AutoScan = false;
  int DebugLevel = 0;
  long CompatibilityMode = kModeKorva;
  long ScannerType = kTypeUnlisted;
  PortableConfigurationBytes PortableConfiguration =
      kDefaultPortableConfiguration;
  std::string UserID = device_entry::kDefaultUserID;
  int TraceLevel = 0;       // trace_level
  std::string TraceFolder;  // empty: the default folder
};

constexpr uint32_t kMaxTraceFolder = 260;

// Reads the entry at entry.DeviceKeyPath under HKEY_LOCAL_MACHINE into
// entry, whose fields hold their defaults. On failure fills `failure` with
// the message of the step that failed (none of them carries system text);
// fields read before the failure keep their new values.
bool LoadDeviceEntry(reg::Registry& registry, DeviceEntry& entry,
                     OpenFailure& failure);

std::string DeviceKeyPathFor(const std::string& deviceName);
