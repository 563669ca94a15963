// Property access by OPOS index number and its effect on ResultCode.
#include <gtest/gtest.h>

#include "talscan/tests/service_fixture.h"

namespace {

class PropertiesTest : public ServiceTest {};

TEST_F(PropertiesTest, NumbersOfAClosedDevice) {
  const struct {
    long index;
    long value;
  } expected[] = {
      {opos::pidx::Claimed, 0},
      {opos::pidx::DataEventEnabled, 0},
      {opos::pidx::DeviceEnabled, 0},
      {opos::pidx::FreezeEvents, 0},
      {opos::pidx::OutputID, 0},
      {opos::pidx::ResultCode, opos::kClosed},
      {opos::pidx::ResultCodeExtended, 0},
      {opos::pidx::ServiceObjectVersion, 1006008},
      {opos::pidx::State, opos::kStateClosed},
      {opos::pidx::AutoDisable, 0},
      {opos::pidx::BinaryConversion, 0},
      {opos::pidx::DataCount, 0},
      {opos::pidx::PowerNotify, 0},
      {opos::pidx::PowerState, 2000},
      {opos::pidx::CapPowerReporting, 0},
      {opos::pidx::DecodeData, 0},
      {opos::pidx::ScanDataType, 0},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(Property(e.index), e.value) << e.index;
    EXPECT_EQ(Result(), opos::kClosed) << "a known index keeps ResultCode";
  }
}

TEST_F(PropertiesTest, UnknownNumberIndexReturnsZeroAndIllegal) {
  for (long index : {9999L, 0L, -1L, 15L, 500L, 10003L, 1000001L,
                     static_cast<long>(0x7FFFFFFF)}) {
    service.COFreezeEvents(false);
    EXPECT_EQ(Property(index), 0) << index;
    EXPECT_EQ(Result(), opos::kIllegal) << index;
  }
}

TEST_F(PropertiesTest, SettableNumbersStoreWhatTheyAreGiven) {
  for (long index : {opos::pidx::DeviceEnabled, opos::pidx::AutoDisable,
                     opos::pidx::BinaryConversion, opos::pidx::DecodeData,
                     opos::pidx::FreezeEvents, opos::pidx::DataEventEnabled}) {
    service.SetPropertyNumber(index, 7);
    EXPECT_EQ(Result(), opos::kSuccess) << index;
    EXPECT_EQ(Property(index), 7) << "stored while closed: " << index;
  }
}

TEST_F(PropertiesTest, ReadOnlyOrUnknownIndexStoresNothing) {
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  for (long index : {opos::pidx::Claimed, opos::pidx::State,
                     opos::pidx::ResultCode, opos::pidx::DataCount,
                     opos::pidx::ScanDataType, 9999L}) {
    const long before = Property(index);
    service.SetPropertyNumber(index, 1);
    EXPECT_EQ(Result(), opos::kIllegal) << index;
    if (index != opos::pidx::ResultCode) {
      EXPECT_EQ(Property(index), before);
    }
  }
}

TEST_F(PropertiesTest, StringsByIndex) {
  EXPECT_EQ(service.GetPropertyString(opos::pidx::CheckHealthText), "");
  EXPECT_EQ(service.GetPropertyString(opos::pidx::DeviceDescription),
            "Barcode Scanner (RS232/USB Interface)");
  EXPECT_EQ(service.GetPropertyString(opos::pidx::DeviceName),
            "Barcode Scanner");
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ServiceObjectDescription),
            "OPOS Scanner Driver, Release 2008 .");
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "");
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanDataLabel), "");
  EXPECT_EQ(Result(), opos::kClosed);
  EXPECT_EQ(service.GetPropertyString(5), "[Error]");
  EXPECT_EQ(service.GetPropertyString(-7), "[Error]");
  EXPECT_EQ(Result(), opos::kClosed) << "an unknown string keeps ResultCode";
}

TEST_F(PropertiesTest, SetPropertyStringIsAlwaysIllegal) {
  for (long index : {opos::pidx::ScanData, opos::pidx::DeviceName, 0L}) {
    service.COFreezeEvents(false);
    service.SetPropertyString(index, "x");
    EXPECT_EQ(Result(), opos::kIllegal);
    EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "");
  }
}

TEST_F(PropertiesTest, DeviceEnabledSendsTheEnableByteOfAFixedLaser) {
  WriteEntry("Till", "Model 73 Series");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 0);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 5);
  EXPECT_EQ(serial.WrittenText(), "\x0E\x0F\x0E");
}

TEST_F(PropertiesTest, OtherSerialTypesAreNotToldAboutDeviceEnabled) {
  for (const char* type : {"Handheld", "Model 88 Series",
                           "Portable Scanner M-20"}) {
    WriteEntry("Till", type);
    ASSERT_EQ(Open("Till"), opos::kSuccess) << type;
    service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
    EXPECT_EQ(serial.WrittenText(), "") << type;
    ASSERT_EQ(service.Close(), opos::kSuccess);
  }
}

TEST_F(PropertiesTest, DecodeDataNeverDeliversAQueuedLabel) {
  service.SetPropertyNumber(opos::pidx::DecodeData, 1);
  EXPECT_EQ(events.DataEvents(), 0);
}

}  // namespace
