// Searching the present HID interfaces for the scanner.
#include "common/hid/hid_search.h"

#include <gtest/gtest.h>

#include "testing/fakes/fake_hid.h"

namespace {

class RecordingReporter : public hid::SearchReporter {
 public:
  void OpenFailed(const PlatformError& error) override {
    openErrors.push_back(error.code);
  }
  void AttributesFailed() override { ++attributeFailures; }
  std::vector<uint32_t> openErrors;
  int attributeFailures = 0;
};

class HidSearchTest : public ::testing::Test {
 protected:
  std::unique_ptr<hid::Device> Find() {
    std::unique_ptr<hid::Device> scanner;
    error = hid::FindScanner(bus, reporter, scanner).code;
    return scanner;
  }
  fakes::FakeHidBus bus;
  RecordingReporter reporter;
  uint32_t error = 0;
};

TEST_F(HidSearchTest, ScannerAfterAnotherDeviceIsFoundAndTheOtherLeftAlone) {
  auto keyboard = bus.AddInterface("keyboard", 0x046D, 0xC31C);
  auto scanner = bus.AddScanner("scanner");
  std::unique_ptr<hid::Device> device = Find();
  ASSERT_TRUE(device);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(keyboard->Opens(), 1);
  EXPECT_TRUE(keyboard->Closed());
  EXPECT_EQ(scanner->Opens(), 1);
  EXPECT_FALSE(scanner->Closed());
  EXPECT_EQ(bus.Ends(), 1) << "the set is released";
  uint8_t report[12] = {0, 0x11};
  device->WriteReport(report, 12);
  EXPECT_EQ(scanner->Reports().size(), 1u);
  EXPECT_TRUE(keyboard->Reports().empty());
}

TEST_F(HidSearchTest, OnlyTheExactIdentityIsTheScanner) {
  bus.AddInterface("wrong vendor", 0x0001, 0x000A);
  bus.AddInterface("wrong product", 0x0000, 0x000B);
  EXPECT_FALSE(Find());
  EXPECT_EQ(error, syserr::kNoMoreItems);
  EXPECT_EQ(bus.Ends(), 1);
}

TEST_F(HidSearchTest, InterfaceThatCannotBeOpenedIsPassedOver) {
  auto locked = bus.AddScanner("locked");
  locked->openError = 5;
  bus.AddScanner("free");
  EXPECT_TRUE(Find());
  EXPECT_EQ(reporter.openErrors, (std::vector<uint32_t>{5}));
}

TEST_F(HidSearchTest, UnreadableAttributesEndTheSearch) {
  auto broken = bus.AddInterface("broken", 0x1234, 0x5678);
  broken->attributesError = 31;
  auto scanner = bus.AddScanner("scanner");
  EXPECT_FALSE(Find());
  EXPECT_EQ(error, 31u);
  EXPECT_EQ(reporter.attributeFailures, 1);
  EXPECT_TRUE(broken->Closed());
  EXPECT_EQ(scanner->Opens(), 0) << "no further interface is looked at";
}

TEST_F(HidSearchTest, EnumerationFailuresEndTheSearch) {
  bus.beginError = 13;
  EXPECT_FALSE(Find());
  EXPECT_EQ(error, 13u);
  bus.beginError = 0;
  bus.AddInterface("first", 1, 1);
  bus.AddScanner("second");
  bus.failingIndex = 1;
  bus.failingIndexError = 122;
  EXPECT_FALSE(Find());
  EXPECT_EQ(error, 122u);
}

}  // namespace
