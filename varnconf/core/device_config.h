// The main dialog's logic: the device entries of this driver listed from
// the registry, the selected one shown, every change written back whole,
// entries created and deleted. Registry failures are silent, as the
// program's design has it; only a listed entry is ever written or deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/registry/registry.h"
#include "varnconf/core/main_view.h"

// What the New device dialog hands over when it ends with OK.
struct NewDevice {
  std::string Name;
  std::string Type;
  std::string Port;
  std::string Compatibility;
  int AutoScan = 0;
};

class DeviceConfig {
 public:
  DeviceConfig(reg::Registry& registry, MainView& view,
               std::string servicePath);

  // After the service object was registered: list the entries, create
  // "LX410" when there is none, select the first and rewrite it.
  void StartUp();

  void RefreshDeviceList();
  bool IsDriverDevice(const std::string& name);
  // The first value of that exact name, as text of at most 1024 bytes.
  bool ReadStringValue(const std::string& device, const std::string& value,
                       std::string& text);
  // The first four bytes of the first value of that exact name.
  bool ReadDwordValue(const std::string& device, const std::string& value,
                      uint32_t& number);

  void LoadSelectedDevice();
  // CurrentDeviceName becomes the selected entry's name; false when no
  // entry is selected.
  bool SelectCurrentDevice();
  void ApplyTypeRules();
  void WriteDeviceEntry();
  // A new entry from the New device dialog: written, listed, selected.
  void AddDevice(const NewDevice& device);
  void DeleteSelectedDevice();

  const std::vector<std::string>& DeviceNames() const { return names_; }
  const std::string& CurrentDeviceName() const { return currentDevice_; }

 private:
  static constexpr uint32_t kDataBufferSize = 1024;
  bool FindValue(const std::string& device, const std::string& value,
                 uint8_t (&data)[kDataBufferSize], reg::ValueInfo& info);
  bool WriteEntry(const std::string& name, const NewDevice& values);
  std::string SelectedDevice(const MainFields& fields) const;

  reg::Registry& registry_;
  MainView& view_;
  const std::string servicePath_;
  std::vector<std::string> names_;
  std::string currentDevice_;
};

// A name that can be a device entry's own key: not empty, no backslash,
// no longer than a registry key name may be.
bool IsValidDeviceName(const std::string& name);
