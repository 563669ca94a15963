// A fixed serial scanner under Wine: the real TALSCAN.dll opened through
// the stand-in control object on a COM port whose other end the scanner
// simulator plays.
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <gtest/gtest.h>
#include <windows.h>

#include "testing/standin/standin.h"
#include "testing/wine/control_events.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr char kPort[] = "COM5";

class SerialScanner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Connected()) << "run under with_simulator.sh";
    ASSERT_EQ(wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll"),
              S_OK);
    sim.OpenPort(kPort);
    control = wine::Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(control);
    events = std::make_unique<wine::ControlEvents>(control.get());
  }
  void TearDown() override {
    control.CallLong(L"Close");
    events.reset();
    sim.ClosePort(kPort);
  }

  long OpenDevice(const std::string& type,
                  const std::string& compatibility = "KORVA") {
    wine::WriteStandardEntry("SerialTill", type, kPort, compatibility);
    return control.CallLong(L"Open", {wine::Bstr("SerialTill")});
  }
  void ClaimAndEnable() {
    ASSERT_EQ(control.CallLong(L"ClaimDevice", {wine::Long(0)}), 0);
    control.PutBool(standin::kDeviceEnabled, true);
    control.PutBool(standin::kDataEventEnabled, true);
    control.PutBool(standin::kDecodeData, true);
  }

  wine::SimulatorClient sim;
  wine::Dispatch control;
  std::unique_ptr<wine::ControlEvents> events;
};

TEST_F(SerialScanner, PortIsSetUpAsTheScannerNeedsIt) {
  ASSERT_EQ(OpenDevice("Omni-directional Laser"), 0);
  EXPECT_EQ(sim.Settings(kPort),
            "speed=9600 csize=8 parity=none stopbits=2 crtscts=0");
  control.CallLong(L"Close");
  ASSERT_EQ(OpenDevice("Portable Scanner M-40"), 0);
  EXPECT_EQ(sim.Settings(kPort),
            "speed=2400 csize=8 parity=none stopbits=2 crtscts=0");
}

TEST_F(SerialScanner, ScannedLabelArrivesAsADataEvent) {
  ASSERT_EQ(OpenDevice("Model 73 Series"), 0);
  ClaimAndEnable();
  EXPECT_EQ(sim.Written(kPort, 1000, 1), "\x0E") << "the enable byte";
  sim.Feed(kPort, "A012345678905\r\n");
  ASSERT_TRUE(events->WaitFor(1, 5000, standin::kDataEvent));
  const wine::ControlEvent event = events->DataEvents()[0];
  EXPECT_EQ(event.number, 1);
  EXPECT_EQ(event.scanData, "A012345678905");
  EXPECT_EQ(event.scanDataLabel, "012345678905");
  EXPECT_EQ(event.scanDataType, 101);
}

}  // namespace
