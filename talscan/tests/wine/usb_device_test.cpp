// The USB scanner type end to end under Wine: the real TALSCAN.dll finds,
// reads and writes the virtual USB scanner through Windows' own HID stack,
// and follows it when it is unplugged and plugged in again.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/standin/standin.h"
#include "testing/wine/control_events.h"
#include "testing/wine/virtual_scanner_suite.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr char kDevice[] = "UsbTill";
constexpr char kEnableReport[] = "001100000000000000000000";
constexpr char kDisableReport[] = "001200000000000000000000";

class UsbDevice : public wine::VirtualScannerSuite {
 protected:
  void SetUp() override {
    VirtualScannerSuite::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll"),
              S_OK);
    control = wine::Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(control);
    events = std::make_unique<wine::ControlEvents>(control.get());
    wine::WriteStandardEntry(kDevice, "OPOS USB Scanner", "COM1", "KORVA", 1);
  }
  void TearDown() override {
    control.CallLong(L"Close");
    events.reset();
  }

  long Open() { return control.CallLong(L"Open", {wine::Bstr(kDevice)}); }
  void ClaimAndEnable() {
    ASSERT_EQ(control.CallLong(L"ClaimDevice", {wine::Long(0)}), 0);
    control.PutBool(standin::kDeviceEnabled, true);
    control.PutBool(standin::kDecodeData, true);
    control.PutBool(standin::kDataEventEnabled, true);
  }
  // The data event that the scan brings, or an empty one.
  wine::ControlEvent Scan(const std::string& trailer,
                          const std::string& label) {
    const size_t seen = events->DataEvents().size();
    EXPECT_EQ(scanner->Scan(trailer, label), "OK");
    if (!events->WaitFor(seen + 1, 5000, standin::kDataEvent)) return {};
    control.PutBool(standin::kDataEventEnabled, true);  // for the next one
    return events->DataEvents()[seen];
  }
  bool WaitForStatuses(size_t count) {
    return events->WaitFor(count, 10000, standin::kStatusUpdateEvent);
  }

  wine::Dispatch control;
  std::unique_ptr<wine::ControlEvents> events;
};

TEST_F(UsbDevice, LabelsOfEachTrailerArriveWithTheirTypes) {
  ASSERT_EQ(Open(), 0);
  ClaimAndEnable();
  EXPECT_EQ(scanner->Outputs(1, 2000),
            std::vector<std::string>{kEnableReport});
  const struct {
    const char* trailer;
    const char* label;
    const char* scanData;
    const char* scanDataLabel;
    long type;
  } cases[] = {
      {"0D", "012345678905", "A012345678905", "012345678905", 101},
      {"16", "4006381333931", "F4006381333931", "4006381333931", 104},
      {"0C", "12345670", "FF12345670", "12345670", 103},
      {"0A", "01234565", "E01234565", "01234565", 102},
      {"000A0B", "CODE-39", "MCODE-39", "CODE-39", 108},
      {"000E0B", "A1234B", "NA1234B", "A1234B", 107},
      {"00180B", "Code 128 label", "KCode 128 label", "Code 128 label", 110},
      {"00190B", "C93", "LC93", "C93", 109},
      {"000C0B", "XYZ", "DXYZ", "DXYZ", 0},
      {"00250B", "9", "C9", "C9", 0},
  };
  for (const auto& c : cases) {
    const wine::ControlEvent event = Scan(c.trailer, c.label);
    EXPECT_EQ(event.scanData, c.scanData) << c.trailer;
    EXPECT_EQ(event.scanDataLabel, c.scanDataLabel) << c.trailer;
    EXPECT_EQ(event.scanDataType, c.type) << c.trailer;
  }
  // A report whose trailer is in neither table carries nothing: the next
  // label is the next event.
  EXPECT_EQ(scanner->Scan("00300B", "LOST"), "OK");
  EXPECT_EQ(Scan("0D", "036000291452").scanData, "A036000291452");

  control.PutBool(standin::kDeviceEnabled, false);
  EXPECT_EQ(scanner->Outputs(1, 2000),
            std::vector<std::string>{kDisableReport});
  EXPECT_EQ(control.CallLong(L"Close"), 0);
  EXPECT_EQ(scanner->Scan("0D", "012345678905"), "OK");
  wine::PumpUntil([] { return false; }, 300);
  EXPECT_EQ(events->DataEvents().size(), std::size(cases) + 1)
      << "nothing after Close";
}

// A scanner that fails the enable report: the application is told, and
// the device stays open and reads labels.
TEST_F(UsbDevice, RefusedOutputReportIsShown) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(scanner->Command("refuse-output on"), "OK");
  wine::BoxAnswerer boxes;
  ClaimAndEnable();
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].text,
            "Send error= " + std::to_string(ERROR_IO_DEVICE));
  ASSERT_EQ(scanner->Command("refuse-output off"), "OK");
  EXPECT_EQ(Scan("0D", "012345678905").scanData, "A012345678905");
}

// The cable pulled out while the application waits for labels, and put
// back: it hears of both, and labels flow again without its doing anything.
TEST_F(UsbDevice, UnplugAndReplugWhileEnabled) {
  ASSERT_EQ(Open(), 0);
  ClaimAndEnable();
  EXPECT_EQ(Scan("0D", "012345678905").scanData, "A012345678905");
  scanner->Outputs();

  ASSERT_EQ(scanner->Unplug(), "OK unplugged");
  ASSERT_TRUE(WaitForStatuses(1));
  ASSERT_EQ(scanner->Plug(), "OK plugged");
  ASSERT_TRUE(WaitForStatuses(2));
  EXPECT_EQ(events->StatusUpdates(), (std::vector<long>{2004, 2001}));
  EXPECT_EQ(scanner->Outputs(1, 2000),
            std::vector<std::string>{kEnableReport})
      << "the scanner that came back is told to scan again";
  EXPECT_EQ(Scan("16", "4006381333931").scanData, "F4006381333931");
  EXPECT_EQ(control.CallLong(L"Close"), 0);
}

TEST_F(UsbDevice, UnpluggedScannerCannotBeOpened) {
  ASSERT_EQ(scanner->Unplug(), "OK unplugged");
  wine::BoxAnswerer boxes;
  EXPECT_EQ(Open(), 111);
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].text.rfind("Unable to open USB Scanner.", 0), 0u)
      << boxes.Boxes()[0].text;
  ASSERT_EQ(scanner->Plug(), "OK plugged");
  EXPECT_EQ(Open(), 0) << "plugged in again, it opens";
  ClaimAndEnable();
  EXPECT_EQ(Scan("0D", "012345678905").scanData, "A012345678905");
}

}  // namespace
