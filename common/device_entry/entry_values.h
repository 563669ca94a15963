// The device entry as both its writer (the configuration program) and its
// reader (the service object) know it: where entries live, the names of
// their values, the texts that code the scanner type and compatibility
// mode, and the values the writer always puts in.
#pragma once

#include <array>
#include <cstdint>

using PortableConfigurationBytes = std::array<uint8_t, 20>;
// What a portable scanner is configured with when the entry says nothing.
constexpr PortableConfigurationBytes kDefaultPortableConfiguration = {
    0x40, 0x06, 0x40, 0x01, 0x40, 0x06, 0x40, 0x06, 0xC0, 0x3F,
    0x04, 0x00, 0x00, 0x00, 0x43, 0x4F, 0x00, 0x00, 0x00, 0x00};

// Scanner types coded from the "Type" value.
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

// Compatibility modes coded from the "Compatibility" value.
enum CompatibilityMode : long {
  kModeKorva = 0,
  kModeMetrologic = 1,
  kModeBeetle = 2,
  kModeSymbol = 3,
  kModeKvx = 4,
};

namespace device_entry {

// HKEY_LOCAL_MACHINE: the device class key; each subkey is one entry.
constexpr char kScannerDeviceRoot[] =
    "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
// The service object's ProgID: an entry's default value, and the caption
// of the service object's messages.
constexpr char kServiceProgID[] = "TALSCAN.ScannerSO";
constexpr char kServiceLibrary[] = "TALSCAN.dll";

// Value names.
constexpr char kAutoScan[] = "AutoScan";
constexpr char kCompatibility[] = "Compatibility";
constexpr char kConfiguration[] = "Configuration";
constexpr char kDebugLevel[] = "DebugLevel";
// Set by hand for a field engineer's trace; Varnconf leaves them alone.
constexpr char kTraceLevel[] = "TraceLevel";
constexpr char kTraceFolder[] = "TraceFolder";
constexpr char kDescription[] = "Description";
constexpr char kPort[] = "Port";
constexpr char kService[] = "Service";
constexpr char kType[] = "Type";
constexpr char kUserID[] = "UserID";
constexpr char kVersion[] = "Version";

// What the writer always puts in; the description is also the service
// object's own.
constexpr char kDescriptionText[] = "OPOS Scanner Driver, Release 2008 .";
constexpr char kVersionText[] = "1.9.0";
constexpr char kDefaultPort[] = "COM1";
constexpr char kDefaultUserID[] = "00000000";

struct NamedCode {
  const char* name;
  long code;
};

// The texts a reader accepts, compared exactly and case-sensitively; any
// other "Type" is the unlisted type.
constexpr NamedCode kScannerTypes[] = {
    {"Omni-directional Laser", kTypeFixedLaser},
    {"Portable Scanner M-20", kTypePortableM20},
    {"Portable Scanner M-40", kTypePortableM40},
    {"Model 88 Series", kTypeModel88},
    {"Model 73 Series", kTypeFixedLaser},
    {"OPOS USB Scanner", kTypeUsb},
};

constexpr NamedCode kCompatibilityModes[] = {
    {"KORVA", kModeKorva},   {"METROLOGIC", kModeMetrologic},
    {"BEETLE", kModeBeetle}, {"SYMBOL", kModeSymbol},
    {"KVX", kModeKvx},
};

}  // namespace device_entry
