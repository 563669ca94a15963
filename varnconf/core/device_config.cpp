#include "varnconf/core/device_config.h"

#include <algorithm>
#include <cstring>

#include "common/device_entry/entry_values.h"
#include "varnconf/core/device_lists.h"

namespace {

constexpr uint32_t kKeyNameBuffer = 1024;
constexpr uint32_t kValueNameBuffer = 256;
constexpr size_t kMaxKeyName = 255;

const char kBadName[] =
    "The device name must not be empty, contain a backslash or be longer "
    "than 255 characters. No device was created.";
const char kNoDevice[] = "There is no device to delete. Create one with New.";

std::string EntryPath(const std::string& name) {
  return std::string(device_entry::kScannerDeviceRoot) + "\\" + name;
}

// The data as text: up to its byte count or an earlier NUL.
std::string AsText(const uint8_t* data, uint32_t size) {
  const uint8_t* end = std::find(data, data + size, 0);
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<size_t>(end - data));
}

PlatformError SetText(reg::Key& key, const char* name,
                      const std::string& text) {
  // Without a terminating NUL, as every reader of an entry expects.
  return key.SetValue(name, reg::kString,
                      reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()));
}

}  // namespace

bool IsValidDeviceName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxKeyName &&
         name.find('\\') == std::string::npos;
}

DeviceConfig::DeviceConfig(reg::Registry& registry, MainView& view,
                           std::string servicePath)
    : registry_(registry), view_(view), servicePath_(std::move(servicePath)) {}

void DeviceConfig::StartUp() {
  RefreshDeviceList();
  view_.WriteFields(MainFields());
  if (names_.empty()) {
    NewDevice first;
    first.Name = "LX410";
    first.Type = "Omni-directional Laser";
    first.Port = device_entry::kDefaultPort;
    first.Compatibility = "KORVA";
    currentDevice_ = first.Name;
    WriteEntry(first.Name, first);
    RefreshDeviceList();
  }
  MainFields fields = view_.ReadFields();
  fields.DeviceIndex = names_.empty() ? -1 : 0;
  view_.WriteFields(fields);
  LoadSelectedDevice();
  ApplyTypeRules();
}

void DeviceConfig::RefreshDeviceList() {
  names_.clear();
  std::unique_ptr<reg::Key> root;
  if (!registry_
           .Open(reg::Root::LocalMachine, device_entry::kScannerDeviceRoot,
                 false, root)
           .Failed()) {
    for (uint32_t index = 0;; ++index) {
      std::string name;
      const PlatformError error = root->EnumKey(index, kKeyNameBuffer, name);
      if (error.Is(syserr::kMoreData)) continue;  // cannot be an entry here
      if (error.Failed()) break;
      if (IsDriverDevice(name)) names_.push_back(name);
    }
  }
  view_.SetDeviceList(names_);
}

// Its default value (the value with the empty name) is this driver's
// ProgID exactly.
bool DeviceConfig::IsDriverDevice(const std::string& name) {
  uint8_t data[kDataBufferSize];
  reg::ValueInfo info;
  return FindValue(name, "", data, info) &&
         AsText(data, info.size) == device_entry::kServiceProgID;
}

// The first value of the device's entry named exactly `value`, its data
// in `data`; a value whose name or data does not fit is passed over.
bool DeviceConfig::FindValue(const std::string& device,
                             const std::string& value,
                             uint8_t (&data)[kDataBufferSize],
                             reg::ValueInfo& info) {
  if (!IsValidDeviceName(device)) return false;
  std::unique_ptr<reg::Key> key;
  if (registry_.Open(reg::Root::LocalMachine, EntryPath(device), false, key)
          .Failed()) {
    return false;
  }
  for (uint32_t index = 0;; ++index) {
    std::string name;
    const PlatformError error =
        key->EnumValue(index, kValueNameBuffer, name, data, sizeof data, info);
    if (error.Is(syserr::kMoreData)) continue;
    if (error.Failed()) return false;
    if (name == value) return true;
  }
}

bool DeviceConfig::ReadStringValue(const std::string& device,
                                   const std::string& value,
                                   std::string& text) {
  uint8_t data[kDataBufferSize];
  reg::ValueInfo info;
  if (!FindValue(device, value, data, info)) return false;
  text = AsText(data, info.size);
  return true;
}

bool DeviceConfig::ReadDwordValue(const std::string& device,
                                  const std::string& value, uint32_t& number) {
  uint8_t data[kDataBufferSize];
  reg::ValueInfo info;
  if (!FindValue(device, value, data, info)) return false;
  // Whatever the type; bytes a shorter value lacks count as 0.
  uint8_t bytes[4] = {};
  std::memcpy(bytes, data, std::min<uint32_t>(info.size, 4));
  number = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
           static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

std::string DeviceConfig::SelectedDevice(const MainFields& fields) const {
  return lists::TextAt(names_, fields.DeviceIndex);
}

void DeviceConfig::LoadSelectedDevice() {
  MainFields fields = view_.ReadFields();
  const std::string device = SelectedDevice(fields);
  std::string text;
  fields.TypeIndex = ReadStringValue(device, device_entry::kType, text)
                         ? lists::FindPrefix(lists::kScannerTypes, text)
                         : -1;
  if (lists::TextAt(lists::kScannerTypes, fields.TypeIndex) ==
      lists::kHandheld) {
    view_.ShowAutoScan(true);
    uint32_t autoScan = 0;
    if (ReadDwordValue(device, device_entry::kAutoScan, autoScan)) {
      fields.AutoScanChecked = static_cast<int>(autoScan);
    }
  } else {
    view_.ShowAutoScan(false);
  }
  fields.PortIndex = ReadStringValue(device, device_entry::kPort, text)
                         ? lists::FindPrefix(lists::kPorts, text)
                         : -1;
  fields.CompatibilityIndex =
      ReadStringValue(device, device_entry::kCompatibility, text)
          ? lists::FindPrefix(lists::kCompatibilityModes, text)
          : -1;
  view_.WriteFields(fields);
}

bool DeviceConfig::SelectCurrentDevice() {
  currentDevice_ = SelectedDevice(view_.ReadFields());
  return !currentDevice_.empty();
}

void DeviceConfig::ApplyTypeRules() {
  const MainFields fields = view_.ReadFields();
  const lists::TypeRules rules =
      lists::RulesFor(lists::TextAt(lists::kScannerTypes, fields.TypeIndex));
  view_.ShowAutoScan(rules.showAutoScan);
  view_.EnableSerialControls(rules.serialControlsEnabled);
  WriteDeviceEntry();
}

void DeviceConfig::WriteDeviceEntry() {
  // Only a listed entry is written: never the Scanner key itself.
  if (!SelectCurrentDevice()) return;
  const MainFields fields = view_.ReadFields();
  NewDevice values;
  values.Type = lists::TextAt(lists::kScannerTypes, fields.TypeIndex);
  values.Port = lists::TextAt(lists::kPorts, fields.PortIndex);
  values.Compatibility =
      lists::TextAt(lists::kCompatibilityModes, fields.CompatibilityIndex);
  values.AutoScan = fields.AutoScanChecked;
  WriteEntry(currentDevice_, values);
}

// The whole entry, its ten values in their order; Configuration, UserID
// and Version always get their fixed values.
bool DeviceConfig::WriteEntry(const std::string& name,
                              const NewDevice& values) {
  if (!IsValidDeviceName(name)) return false;
  std::unique_ptr<reg::Key> key;
  if (registry_.Create(reg::Root::LocalMachine, EntryPath(name), key)
          .Failed()) {
    return false;
  }
  const uint32_t autoScan = static_cast<uint32_t>(values.AutoScan);
  const uint8_t autoScanBytes[4] = {static_cast<uint8_t>(autoScan),
                                    static_cast<uint8_t>(autoScan >> 8),
                                    static_cast<uint8_t>(autoScan >> 16),
                                    static_cast<uint8_t>(autoScan >> 24)};
  SetText(*key, "", device_entry::kServiceProgID);
  key->SetValue(device_entry::kAutoScan, reg::kDword, autoScanBytes, 4);
  SetText(*key, device_entry::kCompatibility, values.Compatibility);
  key->SetValue(device_entry::kConfiguration, reg::kBinary,
                kDefaultPortableConfiguration.data(),
                static_cast<uint32_t>(kDefaultPortableConfiguration.size()));
  SetText(*key, device_entry::kDescription, device_entry::kDescriptionText);
  SetText(*key, device_entry::kPort, values.Port);
  SetText(*key, device_entry::kService, servicePath_);
  SetText(*key, device_entry::kType, values.Type);
  SetText(*key, device_entry::kUserID, device_entry::kDefaultUserID);
  SetText(*key, device_entry::kVersion, device_entry::kVersionText);
  return true;
}

void DeviceConfig::AddDevice(const NewDevice& device) {
  if (!IsValidDeviceName(device.Name)) {
    view_.ShowMessage(kBadName);
    return;
  }
  currentDevice_ = device.Name;
  WriteEntry(device.Name, device);
  RefreshDeviceList();
  MainFields fields = view_.ReadFields();
  fields.DeviceIndex = std::max(lists::FindPrefix(names_, device.Name), 0);
  if (names_.empty()) fields.DeviceIndex = -1;
  view_.WriteFields(fields);
  LoadSelectedDevice();
}

void DeviceConfig::DeleteSelectedDevice() {
  MainFields fields = view_.ReadFields();
  const std::string device = SelectedDevice(fields);
  if (device.empty()) {
    view_.ShowMessage(kNoDevice);
    return;
  }
  if (registry_.DeleteKey(reg::Root::LocalMachine, EntryPath(device))
          .Failed()) {
    return;
  }
  names_.erase(names_.begin() + fields.DeviceIndex);
  view_.SetDeviceList(names_);
  fields.DeviceIndex = names_.empty() ? -1 : 0;
  view_.WriteFields(fields);
  LoadSelectedDevice();
}
