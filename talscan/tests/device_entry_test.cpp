// Reading a device entry: value sizes, type and compatibility codes, the
// portable values, and the failures with their messages.
#include "talscan/core/device_entry.h"

#include <gtest/gtest.h>

#include "testing/fakes/memory_registry.h"

namespace {

using reg::Root;

class DeviceEntryTest : public ::testing::Test {
 protected:
  DeviceEntryTest() { entry.DeviceKeyPath = DeviceKeyPathFor("Till1"); }

  void Set(const std::string& name, const std::string& text,
           bool withNul = false) {
    registry.SetString(Root::LocalMachine, entry.DeviceKeyPath, name, text,
                       withNul);
  }
  void SetDword(const std::string& name, uint32_t value) {
    registry.SetDword(Root::LocalMachine, entry.DeviceKeyPath, name, value);
  }
  void SetBinary(const std::string& name, std::vector<uint8_t> data) {
    registry.SetBinary(Root::LocalMachine, entry.DeviceKeyPath, name, data);
  }
  // The failure's message, or "" when the entry was read.
  std::string Load() {
    OpenFailure failure;
    if (LoadDeviceEntry(registry, entry, failure)) return "";
    EXPECT_FALSE(failure.error.Failed()) << "no system text for entry failures";
    return failure.message;
  }
  long TypeOf(const std::string& type) {
    Set("Port", "COM1");
    Set("Type", type);
    EXPECT_EQ(Load(), "");
    return entry.ScannerType;
  }
  long ModeOf(const std::string& compatibility) {
    Set("Port", "COM1");
    Set("Compatibility", compatibility);
    entry.CompatibilityMode = kModeKorva;
    EXPECT_EQ(Load(), "");
    return entry.CompatibilityMode;
  }

  fakes::MemoryRegistry registry;
  DeviceEntry entry;
};

TEST_F(DeviceEntryTest, MissingOrUnopenableKeyIsDeviceNotFound) {
  EXPECT_EQ(Load(), "Device not found in registry");
  Set("Port", "COM1");
  registry.DenyOpen(Root::LocalMachine, entry.DeviceKeyPath);
  EXPECT_EQ(Load(), "Device not found in registry");
}

TEST_F(DeviceEntryTest, PortIsRequiredAndMustFitTwentyBytes) {
  Set("Type", "OPOS USB Scanner");
  EXPECT_EQ(Load(), "Port setting not found in registry");
  EXPECT_EQ(entry.ScannerType, kTypeUnlisted) << "read stops at the port";

  Set("Port", std::string(19, 'P'));
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.PortName, std::string(19, 'P'));

  Set("Port", std::string(20, 'Q'));
  EXPECT_EQ(Load(), "Port setting not found in registry");
  Set("Port", std::string(19, 'R'), /*withNul=*/true);
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.PortName, std::string(19, 'R'));
  Set("Port", std::string(300, 'S'));
  EXPECT_EQ(Load(), "Port setting not found in registry");
}

TEST_F(DeviceEntryTest, StringsEndAtByteCountOrEarlierNul) {
  registry.SetBinary(Root::LocalMachine, entry.DeviceKeyPath, "Port",
                     {'C', 'O', 'M', '3', 0, 'X', 'Y'});
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.PortName, "COM3");
  Set("Port", "COM4");
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.PortName, "COM4");
}

TEST_F(DeviceEntryTest, TypeNamesMatchExactlyAndCaseSensitively) {
  EXPECT_EQ(TypeOf("Omni-directional Laser"), kTypeFixedLaser);
  EXPECT_EQ(TypeOf("Model 73 Series"), kTypeFixedLaser);
  EXPECT_EQ(TypeOf("Model 88 Series"), kTypeModel88);
  EXPECT_EQ(TypeOf("OPOS USB Scanner"), kTypeUsb);
  EXPECT_EQ(TypeOf("Handheld"), kTypeUnlisted);
  EXPECT_EQ(TypeOf("omni-directional laser"), kTypeUnlisted);
  EXPECT_EQ(TypeOf("Omni-directional Laser "), kTypeUnlisted);
  EXPECT_EQ(TypeOf(""), kTypeUnlisted);
  EXPECT_EQ(TypeOf(std::string(49, 'x')), kTypeUnlisted);
}

TEST_F(DeviceEntryTest, TypeIsResetBeforeItIsRead) {
  Set("Port", "COM1");
  entry.ScannerType = kTypeUsb;
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.ScannerType, kTypeUnlisted);
  Set("Type", "Model 88 Series" + std::string(40, ' '));  // over 49 chars
  entry.ScannerType = kTypeUsb;
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.ScannerType, kTypeUnlisted);
}

TEST_F(DeviceEntryTest, CompatibilityNamesMatchExactlyOrLeaveTheMode) {
  EXPECT_EQ(ModeOf("KORVA"), kModeKorva);
  EXPECT_EQ(ModeOf("METROLOGIC"), kModeMetrologic);
  EXPECT_EQ(ModeOf("BEETLE"), kModeBeetle);
  EXPECT_EQ(ModeOf("SYMBOL"), kModeSymbol);
  EXPECT_EQ(ModeOf("KVX"), kModeKvx);
  EXPECT_EQ(ModeOf("korva"), kModeKorva);
  entry.CompatibilityMode = kModeSymbol;
  Set("Compatibility", "symbol");
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.CompatibilityMode, kModeSymbol) << "no match keeps the mode";
  Set("Compatibility", std::string(20, 'K'));
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.CompatibilityMode, kModeSymbol);
}

TEST_F(DeviceEntryTest, AutoScanAndDebugLevelUseTheLowestByte) {
  Set("Port", "COM1");
  SetDword("AutoScan", 0x100);
  SetDword("DebugLevel", 256);
  EXPECT_EQ(Load(), "");
  EXPECT_FALSE(entry.AutoScan);
  EXPECT_EQ(entry.DebugLevel, 0);

  SetDword("AutoScan", 1);
  SetDword("DebugLevel", 0x1FF);
  EXPECT_EQ(Load(), "");
  EXPECT_TRUE(entry.AutoScan);
  EXPECT_EQ(entry.DebugLevel, 255);

  // The registry type is not checked; larger data counts as missing.
  Set("AutoScan", "0");
  SetBinary("DebugLevel", {1, 2, 3, 4, 5});
  EXPECT_EQ(Load(), "");
  EXPECT_TRUE(entry.AutoScan) << "'0' is not a zero byte";
  EXPECT_EQ(entry.DebugLevel, 255) << "too large: keeps its value";
}

TEST_F(DeviceEntryTest, NonPortableEntriesNeedNoPortableValues) {
  Set("Port", "COM2");
  Set("Type", "Omni-directional Laser");
  entry.UserID = "keepthis";
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.UserID, "keepthis");
}

TEST_F(DeviceEntryTest, PortableEntriesNeedConfigurationAndUserID) {
  Set("Port", "COM2");
  Set("Type", "Portable Scanner M-20");
  EXPECT_EQ(Load(), "Unable to load portable configuration from registry");

  SetBinary("Configuration", std::vector<uint8_t>(21, 1));
  EXPECT_EQ(Load(), "Unable to load portable configuration from registry");

  std::vector<uint8_t> configuration(20);
  for (int i = 0; i < 20; ++i) configuration[i] = static_cast<uint8_t>(i + 1);
  SetBinary("Configuration", configuration);
  EXPECT_EQ(Load(), "Unable to load UserID from registry");
  EXPECT_EQ(std::vector<uint8_t>(entry.PortableConfiguration.begin(),
                                 entry.PortableConfiguration.end()),
            configuration);

  Set("UserID", "123456789");  // nine bytes fit the buffer
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.UserID, "12345678");
  Set("UserID", "1234567890");
  EXPECT_EQ(Load(), "Unable to load UserID from registry");
}

TEST_F(DeviceEntryTest, ShortPortableValuesKeepTheDefaultsBehindThem) {
  Set("Port", "COM2");
  Set("Type", "Portable Scanner M-40");
  SetBinary("Configuration", {0xAA, 0xBB});
  Set("UserID", "42", /*withNul=*/true);
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(entry.ScannerType, kTypePortableM40);
  EXPECT_EQ(entry.PortableConfiguration[0], 0xAA);
  EXPECT_EQ(entry.PortableConfiguration[1], 0xBB);
  EXPECT_EQ(entry.PortableConfiguration[2], kDefaultPortableConfiguration[2]);
  EXPECT_EQ(entry.PortableConfiguration[19], kDefaultPortableConfiguration[19]);
  EXPECT_EQ(entry.UserID, "42000000");
}

}  // namespace
