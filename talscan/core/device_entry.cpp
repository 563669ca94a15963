#include "talscan/core/device_entry.h"

#include "talscan/core/trace.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Reads a text value into a buffer of `capacity` bytes. The text ends at
// the byte count the registry returns or at an earlier NUL; a value that
// does not fit with its terminating NUL counts as missing.
bool ReadText(reg::Key& key, const char* name, uint32_t capacity,
              std::string& text) {
  std::vector<uint8_t> buffer(capacity);
  reg::ValueInfo value;
  if (key.Query(name, buffer.data(), capacity, value).Failed()) return false;
  const auto end = std::find(buffer.begin(), buffer.begin() + value.size, 0);
  const size_t length = static_cast<size_t>(end - buffer.begin());
  if (length >= capacity) return false;
  text.assign(buffer.begin(), end);
  return true;
}

// Reads a four-byte value; only its lowest byte is ever used.
bool ReadLowByte(reg::Key& key, const char* name, uint8_t& lowByte) {
  uint8_t buffer[4] = {};
  reg::ValueInfo value;
  if (key.Query(name, buffer, sizeof buffer, value).Failed()) return false;
  lowByte = buffer[0];
  return true;
}

// The trace level: a REG_DWORD only, so that a level typed as text ("0")
// never switches on the trace of every byte; above the highest, the
// highest.
int ReadTraceLevel(reg::Key& key) {
  uint8_t buffer[4] = {};
  reg::ValueInfo value;
  if (key.Query(device_entry::kTraceLevel, buffer, sizeof buffer, value)
          .Failed() ||
      value.type != reg::kDword || value.size != sizeof buffer) {
    return trace_level::kOff;
  }
  uint32_t level = 0;
  std::memcpy(&level, buffer, sizeof level);
  return static_cast<int>(std::min<uint32_t>(level, trace_level::kWire));
}

// Exact, case-sensitive match of the whole text.
template <size_t N>
bool FindCode(const device_entry::NamedCode (&table)[N],
              const std::string& text, long& code) {
  for (const device_entry::NamedCode& row : table) {
    if (text == row.name) {
      code = row.code;
      return true;
    }
  }
  return false;
}

// "Configuration" replaces the defaults byte for byte; a shorter value
// leaves the remaining default bytes in place.
bool ReadPortableConfiguration(reg::Key& key,
                               PortableConfigurationBytes& configuration) {
  configuration = kDefaultPortableConfiguration;
  PortableConfigurationBytes buffer = configuration;
  reg::ValueInfo value;
  if (key.Query(device_entry::kConfiguration, buffer.data(), buffer.size(),
                value)
          .Failed()) {
    return false;
  }
  std::copy_n(buffer.begin(), value.size, configuration.begin());
  return true;
}

// "UserID" is read into nine bytes of which eight are used; a shorter text
// keeps the default's trailing zeros.
bool ReadUserID(reg::Key& key, std::string& userID) {
  userID = device_entry::kDefaultUserID;
  uint8_t buffer[9] = {};
  reg::ValueInfo value;
  if (key.Query(device_entry::kUserID, buffer, sizeof buffer, value).Failed())
    return false;
  const uint32_t used = std::min<uint32_t>(value.size, 8);
  for (uint32_t i = 0; i < used && buffer[i] != 0; ++i) {
    userID[i] = static_cast<char>(buffer[i]);
  }
  return true;
}

}  // namespace

std::string DeviceKeyPathFor(const std::string& deviceName) {
  return std::string(device_entry::kScannerDeviceRoot) + "\\" + deviceName;
}

bool LoadDeviceEntry(reg::Registry& registry, DeviceEntry& entry,
                     OpenFailure& failure) {
  auto fail = [&failure](const char* message) {
    failure = {message, {}};
    return false;
  };
  std::unique_ptr<reg::Key> key;
  if (registry.Open(reg::Root::LocalMachine, entry.DeviceKeyPath, false, key)
          .Failed()) {
    return fail("Device not found in registry");
  }

  // First, so that the trace sees the failures of the steps below.
  entry.TraceLevel = ReadTraceLevel(*key);
  ReadText(*key, device_entry::kTraceFolder, kMaxTraceFolder,
           entry.TraceFolder);

  if (!ReadText(*key, device_entry::kPort, 20, entry.PortName)) {
    return fail("Port setting not found in registry");
  }

  uint8_t lowByte = 0;
  if (ReadLowByte(*key, device_entry::kAutoScan, lowByte))
    entry.AutoScan = lowByte != 0;
  if (ReadLowByte(*key, device_entry::kDebugLevel, lowByte))
    entry.DebugLevel = lowByte;

  std::string text;
  if (ReadText(*key, device_entry::kCompatibility, 20, text)) {
    FindCode(device_entry::kCompatibilityModes, text, entry.CompatibilityMode);
  }

  entry.ScannerType = kTypeUnlisted;
  if (ReadText(*key, device_entry::kType, 50, text)) {
    FindCode(device_entry::kScannerTypes, text, entry.ScannerType);
  }

  if (IsPortableType(entry.ScannerType)) {
    if (!ReadPortableConfiguration(*key, entry.PortableConfiguration)) {
      return fail("Unable to load portable configuration from registry");
    }
    if (!ReadUserID(*key, entry.UserID)) {
      return fail("Unable to load UserID from registry");
    }
  }
  return true;
}
