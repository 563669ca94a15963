// The main dialog's logic on the in-memory registry: what is listed, what
// a selection shows, what each change writes, New and Delete, and that no
// write ever lands outside a listed entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fakes/memory_registry.h"
#include "testing/fakes/recording_main_view.h"
#include "varnconf/core/device_config.h"

namespace {

using reg::Root;

const char kRoot[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
const char kService[] = "C:\\Drivers\\TALSCAN.dll";
const std::vector<uint8_t> kConfiguration = {
    0x40, 0x06, 0x40, 0x01, 0x40, 0x06, 0x40, 0x06, 0xC0, 0x3F,
    0x04, 0x00, 0x00, 0x00, 0x43, 0x4F, 0x00, 0x00, 0x00, 0x00};

std::string Path(const std::string& device) {
  return std::string(kRoot) + "\\" + device;
}

class DeviceConfigTest : public ::testing::Test {
 protected:
  DeviceConfigTest() : config(registry, view, kService) {}

  // An entry as another writer may have left it.
  void Entry(const std::string& device, const std::string& type,
             const std::string& port,
             const std::string& progID = "TALSCAN.ScannerSO") {
    registry.SetString(Root::LocalMachine, Path(device), "", progID);
    registry.SetString(Root::LocalMachine, Path(device), "Type", type);
    registry.SetString(Root::LocalMachine, Path(device), "Port", port);
    registry.SetString(Root::LocalMachine, Path(device), "Compatibility",
                       "SYMBOL");
  }
  std::string Value(const std::string& device, const std::string& name) {
    return registry.Text(Root::LocalMachine, Path(device), name);
  }
  uint32_t Dword(const std::string& device, const std::string& name) {
    const fakes::StoredValue* value =
        registry.Find(Root::LocalMachine, Path(device), name);
    if (value == nullptr || value->data.size() != 4) return 0xFFFFFFFF;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           static_cast<uint32_t>(value->data[3]) << 24;
  }
  // The user picks entry `index` of a list, and the dialog answers.
  void PickType(int index) {
    view.controls.TypeIndex = index;
    config.ApplyTypeRules();
  }

  fakes::MemoryRegistry registry;
  fakes::RecordingMainView view;
  DeviceConfig config;
};

TEST_F(DeviceConfigTest, FirstStartCreatesTheDefaultEntryAndSelectsIt) {
  config.StartUp();
  ASSERT_EQ(view.deviceList, std::vector<std::string>{"LX410"});
  EXPECT_EQ(view.controls.DeviceIndex, 0);
  EXPECT_EQ(view.controls.TypeIndex, 0);
  EXPECT_EQ(view.controls.PortIndex, 0);
  EXPECT_EQ(view.controls.CompatibilityIndex, 0);
  const struct {
    const char* name;
    uint32_t type;
    std::string data;
  } expected[] = {
      {"", reg::kString, "TALSCAN.ScannerSO"},
      {"AutoScan", reg::kDword, std::string(4, '\0')},
      {"Compatibility", reg::kString, "KORVA"},
      {"Configuration", reg::kBinary,
       std::string(kConfiguration.begin(), kConfiguration.end())},
      {"Description", reg::kString, "OPOS Scanner Driver, Release 2008 ."},
      {"Port", reg::kString, "COM1"},
      {"Service", reg::kString, kService},
      {"Type", reg::kString, "Omni-directional Laser"},
      {"UserID", reg::kString, "00000000"},
      {"Version", reg::kString, "1.9.0"},
  };
  for (const auto& value : expected) {
    const fakes::StoredValue* stored =
        registry.Find(Root::LocalMachine, Path("LX410"), value.name);
    ASSERT_NE(stored, nullptr) << value.name;
    EXPECT_EQ(stored->type, value.type) << value.name;
    EXPECT_EQ(std::string(stored->data.begin(), stored->data.end()), value.data)
        << value.name << ": strings go without NUL";
  }
  EXPECT_EQ(registry.Find(Root::LocalMachine, Path("LX410"), "DebugLevel"),
            nullptr);
}

TEST_F(DeviceConfigTest, OnlyThisDriversEntriesAreListedAndOthersNeverTouched) {
  Entry("Till", "Handheld", "COM2");
  Entry("Other", "Handheld", "COM2", "OTHER.ScannerSO");
  Entry("Lower", "Handheld", "COM2", "talscan.scannerso");
  registry.SetString(Root::LocalMachine, Path("NoDefault"), "Port", "COM1");
  registry.SetString(Root::LocalMachine, Path(std::string(1100, 'x')), "",
                     "TALSCAN.ScannerSO");
  config.StartUp();
  EXPECT_EQ(view.deviceList, std::vector<std::string>{"Till"});
  EXPECT_EQ(Value("Other", "Type"), "Handheld");
  EXPECT_EQ(registry.Find(Root::LocalMachine, Path("Other"), "Service"),
            nullptr)
      << "another driver's entry is not written";
  EXPECT_EQ(Value("Till", "Service"), kService) << "every start rewrites";
}

TEST_F(DeviceConfigTest, StoredTextsSelectByCaseInsensitivePrefix) {
  const struct {
    const char* type;
    const char* port;
    int typeIndex;
    int portIndex;
  } cases[] = {
      {"Omni-directional Laser", "com1", 0, 0},
      {"handheld", "COM", 1, 0},
      {"Model 88 Series", "COM10", -1, -1},
      {"OPOS USB Scanner", "COM9", 3, 8},
      {"Portable Scanner M-40", "LPT1", -1, -1},
  };
  for (const auto& c : cases) {
    Entry("Till", c.type, c.port);
    config.RefreshDeviceList();
    view.controls = MainFields();
    view.controls.DeviceIndex = 0;
    config.LoadSelectedDevice();
    EXPECT_EQ(view.controls.TypeIndex, c.typeIndex) << c.type;
    EXPECT_EQ(view.controls.PortIndex, c.portIndex) << c.port;
    EXPECT_EQ(view.controls.CompatibilityIndex, 3) << "SYMBOL";
  }
}

TEST_F(DeviceConfigTest, AutoScanShowsForHandheldOnlyAndIsWrittenWhileHidden) {
  Entry("Till", "Handheld", "COM1");
  registry.SetDword(Root::LocalMachine, Path("Till"), "AutoScan", 1);
  config.StartUp();
  EXPECT_TRUE(view.autoScanShown);
  EXPECT_EQ(view.controls.AutoScanChecked, 1);
  PickType(0);
  EXPECT_FALSE(view.autoScanShown);
  EXPECT_EQ(Dword("Till", "AutoScan"), 1u);
  EXPECT_EQ(Value("Till", "Type"), "Omni-directional Laser");
}

TEST_F(DeviceConfigTest,
       UsbTypeDisablesPortCompatibilityAndSetupButKeepsTheirValues) {
  Entry("Till", "Handheld", "COM4");
  config.StartUp();
  PickType(3);
  EXPECT_FALSE(view.serialControlsEnabled);
  EXPECT_FALSE(view.autoScanShown);
  EXPECT_EQ(Value("Till", "Port"), "COM4");
  EXPECT_EQ(Value("Till", "Compatibility"), "SYMBOL");
  PickType(2);
  EXPECT_TRUE(view.serialControlsEnabled);
}

TEST_F(DeviceConfigTest, AChangeResetsConfigurationAndUserID) {
  Entry("Till", "Handheld", "COM1");
  registry.SetString(Root::LocalMachine, Path("Till"), "UserID", "ABCDEFGH");
  registry.SetBinary(Root::LocalMachine, Path("Till"), "Configuration", {1});
  config.StartUp();
  EXPECT_EQ(Value("Till", "UserID"), "00000000");
  EXPECT_EQ(
      registry.Find(Root::LocalMachine, Path("Till"), "Configuration")->data,
      kConfiguration);
}

TEST_F(DeviceConfigTest, NewEntryIsWrittenListedAndSelectedByPrefix) {
  Entry("Scanner2", "Handheld", "COM1");
  config.StartUp();
  NewDevice device{"scanner", "Handheld", "COM3", "BEETLE", 1};
  config.AddDevice(device);
  ASSERT_EQ(view.deviceList.size(), 2u);
  ASSERT_GE(view.controls.DeviceIndex, 0);
  EXPECT_EQ(view.deviceList[view.controls.DeviceIndex], "scanner");
  EXPECT_EQ(Value("scanner", "Port"), "COM3");
  EXPECT_EQ(Value("scanner", "Compatibility"), "BEETLE");
  EXPECT_EQ(Dword("scanner", "AutoScan"), 1u);
  EXPECT_EQ(view.controls.TypeIndex, 1);
}

TEST_F(DeviceConfigTest, NewOverAnotherDriversEntryMakesItOurs) {
  Entry("Shared", "Handheld", "COM1", "OTHER.ScannerSO");
  config.StartUp();
  config.AddDevice({"Shared", "OPOS USB Scanner", "COM2", "KORVA", 0});
  EXPECT_EQ(Value("Shared", ""), "TALSCAN.ScannerSO");
  EXPECT_NE(std::find(view.deviceList.begin(), view.deviceList.end(), "Shared"),
            view.deviceList.end());
}

TEST_F(DeviceConfigTest, NamesThatCannotBeAnEntryOfTheirOwnAreRefused) {
  config.StartUp();
  const std::vector<std::string> before = registry.Keys(Root::LocalMachine);
  for (const std::string& name :
       {std::string(), std::string("a\\b"), std::string(256, 'n')}) {
    view.messages.clear();
    config.AddDevice({name, "Handheld", "COM1", "KORVA", 0});
    EXPECT_EQ(view.messages.size(), 1u) << name;
  }
  EXPECT_EQ(registry.Keys(Root::LocalMachine), before);
  EXPECT_EQ(registry.Find(Root::LocalMachine, kRoot, "Port"), nullptr);
}

TEST_F(DeviceConfigTest,
       DeleteSelectsTheFirstRemainingAndRefusesSubkeysSilently) {
  Entry("A", "Handheld", "COM1");
  Entry("B", "OPOS USB Scanner", "COM2");
  registry.SetString(Root::LocalMachine, Path("B") + "\\Sub", "", "x");
  config.StartUp();
  view.controls.DeviceIndex = 1;
  config.DeleteSelectedDevice();
  EXPECT_TRUE(registry.HasKey(Root::LocalMachine, Path("B")));
  EXPECT_EQ(view.deviceList.size(), 2u);
  EXPECT_TRUE(view.messages.empty());

  view.controls.DeviceIndex = 0;
  config.DeleteSelectedDevice();
  EXPECT_FALSE(registry.HasKey(Root::LocalMachine, Path("A")));
  EXPECT_EQ(view.deviceList, std::vector<std::string>{"B"});
  EXPECT_EQ(view.controls.DeviceIndex, 0);
  EXPECT_EQ(view.controls.TypeIndex, 3) << "B is loaded";
}

TEST_F(DeviceConfigTest, WithNoEntryListedNothingIsWrittenOrDeleted) {
  config.StartUp();
  view.controls.DeviceIndex = 0;
  config.DeleteSelectedDevice();
  ASSERT_TRUE(view.deviceList.empty());
  const std::vector<std::string> before = registry.Keys(Root::LocalMachine);
  PickType(1);
  view.controls.PortIndex = 4;
  config.WriteDeviceEntry();
  config.DeleteSelectedDevice();
  EXPECT_EQ(view.messages.size(), 1u) << "Delete says what is missing";
  EXPECT_EQ(registry.Keys(Root::LocalMachine), before);
  EXPECT_EQ(registry.Find(Root::LocalMachine, kRoot, "Type"), nullptr);
}

TEST_F(DeviceConfigTest, ValuesAreFoundByExactNameWhateverTheirType) {
  Entry("Till", "Handheld", "COM1");
  registry.SetBinary(Root::LocalMachine, Path("Till"), "AutoScan", {7});
  registry.SetString(Root::LocalMachine, Path("Till"), "Long",
                     std::string(1500, 'y'));
  uint32_t number = 0;
  EXPECT_TRUE(config.ReadDwordValue("Till", "AutoScan", number));
  EXPECT_EQ(number, 7u) << "a short value's missing bytes are 0";
  std::string text;
  EXPECT_FALSE(config.ReadStringValue("Till", "port", text)) << "case counts";
  EXPECT_FALSE(config.ReadStringValue("Till", "Long", text))
      << "larger than the buffer";
  EXPECT_TRUE(config.ReadStringValue("Till", "Port", text));
  EXPECT_EQ(text, "COM1");
}

TEST_F(DeviceConfigTest, MissingScannerKeyGivesAnEmptyListThenTheDefault) {
  registry.DenyOpen(Root::LocalMachine, kRoot);
  config.RefreshDeviceList();
  EXPECT_TRUE(view.deviceList.empty());
}

}  // namespace
