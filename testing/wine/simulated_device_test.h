// A test on a simulated scanner: the simulator's port, TALSCAN.dll
// registered, and the stand-in control object with an application's
// event sink on it. The device is closed and the port removed after each
// test.
#pragma once

#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "testing/standin/standin.h"
#include "testing/wine/control_events.h"
#include "testing/wine/wine_support.h"

namespace wine {

class SimulatedDeviceTest : public ::testing::Test {
 protected:
  SimulatedDeviceTest(std::string port, std::string device)
      : port_(std::move(port)), device_(std::move(device)) {}

  void SetUp() override {
    ASSERT_TRUE(sim.Connected()) << "run under with_simulator.sh";
    ASSERT_EQ(RegisterLibrary(ProgramFolder() + "TALSCAN.dll"), S_OK);
    sim.OpenPort(port_);
    control = Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(control);
    events = std::make_unique<ControlEvents>(control.get());
  }
  void TearDown() override {
    control.CallLong(L"Close");
    events.reset();
    sim.ClosePort(port_);
  }

  // Writes the device entry for the simulated port and opens it.
  long OpenEntry(const std::string& type,
                 const std::string& compatibility = "KORVA",
                 DWORD debugLevel = 0) {
    WriteStandardEntry(device_, type, port_, compatibility, debugLevel);
    return control.CallLong(L"Open", {Bstr(device_)});
  }
  void ClaimAndEnable(bool dataEvents = true) {
    ASSERT_EQ(control.CallLong(L"ClaimDevice", {Long(0)}), 0);
    control.PutBool(standin::kDeviceEnabled, true);
    control.PutBool(standin::kDecodeData, true);
    control.PutBool(standin::kDataEventEnabled, dataEvents);
  }
  long DirectIO(long command) {
    return control.CallLong(L"DirectIO", {Long(command), Long(0), Bstr("")});
  }
  long Get(DISPID id) { return control.GetLong(id); }

  const std::string port_;
  const std::string device_;
  SimulatorClient sim;
  Dispatch control;
  std::unique_ptr<ControlEvents> events;
};

}  // namespace wine
