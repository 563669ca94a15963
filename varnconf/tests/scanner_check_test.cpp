// Setup Scanner and Test Device against a scripted control object: the
// calls in their order, the messages, the controls' state, the Scanner
// Test window, and presses that arrive while a call waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fakes/memory_registry.h"
#include "testing/fakes/recording_main_view.h"
#include "testing/fakes/recording_test_view.h"
#include "testing/fakes/scripted_control_object.h"
#include "varnconf/core/scanner_check.h"

namespace {

using Calls = std::vector<std::string>;

const char kPortPath[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\LX410";
const char kSetupWarning[] =
    "Could not verify if scanner is setup correct. Please check, if the "
    "scanner driver is able to detect the symbology. If not, you need to "
    "setup the scanner manually by scanning 'Start of Configuration', "
    "'BarcodeID Enable', 'End of Configuration' from the User's Manual.";
const Calls kTestOpening = {"Open LX410", "ClaimDevice 0", "DeviceEnabled on",
                            "DataEventEnabled on", "DecodeData on"};

class ScannerCheckTest : public ::testing::Test {
 protected:
  ScannerCheckTest()
      : config(registry, view, "C:\\TALSCAN.dll"),
        check(config, view, test, &control) {
    config.StartUp();
    // Left behind by another writer: a rewrite of the entry mends it.
    registry.SetString(reg::Root::LocalMachine, kPortPath, "Port", "com1");
  }
  bool Rewritten() {
    return registry.Text(reg::Root::LocalMachine, kPortPath, "Port") == "COM1";
  }
  void Label(const std::string& data, const std::string& label, long type) {
    control.scanData = data;
    control.scanDataLabel = label;
    control.scanDataType = type;
    check.OnDataEvent();
  }

  fakes::MemoryRegistry registry;
  fakes::RecordingMainView view;
  fakes::RecordingTestView test;
  fakes::ScriptedControlObject control;
  DeviceConfig config;
  ScannerCheck check;
};

TEST_F(ScannerCheckTest, SetupScannerProgramsThroughDirectIOAndAlwaysCloses) {
  const struct {
    long openResult;
    long directIOResult;
    Calls calls;
    std::vector<std::string> warnings;
    bool rewritten;
  } cases[] = {
      {0, 0, {"Open LX410", "DirectIO 12345 0 []", "Close"}, {}, true},
      {0, 111, {"Open LX410", "DirectIO 12345 0 []", "Close"},
       {kSetupWarning}, true},
      {109, 0, {"Open LX410", "Close"},
       {"OPOS Error = 109.\nCould not open scanner device."}, false},
  };
  for (const auto& c : cases) {
    control.openResult = c.openResult;
    control.directIOResult = c.directIOResult;
    control.calls.clear();
    view.warnings.clear();
    registry.SetString(reg::Root::LocalMachine, kPortPath, "Port", "com1");
    bool enabledDuringDirectIO = true;
    bool enabledDuringClose = true;
    bool rewrittenBeforeClose = true;
    bool busyDuringClose = false;
    control.onCall = [&](const std::string& call) {
      if (call.rfind("DirectIO", 0) == 0) {
        enabledDuringDirectIO = view.workingControlsEnabled;
      }
      // Close may handle messages while it waits: the dialog is given back
      // only once it has returned.
      if (call == "Close") {
        enabledDuringClose = view.workingControlsEnabled;
        rewrittenBeforeClose = Rewritten();
        busyDuringClose = check.Busy();
      }
    };
    check.SetupScanner();
    EXPECT_EQ(control.calls, c.calls) << c.openResult << c.directIOResult;
    EXPECT_EQ(view.warnings, c.warnings);
    if (c.openResult == 0) {
      EXPECT_FALSE(enabledDuringDirectIO);
      EXPECT_FALSE(enabledDuringClose);
      EXPECT_FALSE(rewrittenBeforeClose);
    }
    EXPECT_TRUE(busyDuringClose);
    EXPECT_FALSE(check.Busy());
    EXPECT_TRUE(view.workingControlsEnabled);
    EXPECT_EQ(Rewritten(), c.rewritten);
    EXPECT_FALSE(test.shown);
  }
}

TEST_F(ScannerCheckTest, TestDeviceShowsEachLabelUntilClose) {
  test.SetTexts("old", "old", "old");
  check.TestDevice();
  EXPECT_EQ(control.calls, kTestOpening);
  EXPECT_TRUE(test.shown);
  EXPECT_EQ(test.centred, 1);
  EXPECT_EQ(test.scanData, "");
  EXPECT_FALSE(view.workingControlsEnabled);

  Label("A012345678905", "012345678905", 101);
  EXPECT_EQ(test.scanData, "A012345678905");
  EXPECT_EQ(test.scanDataLabel, "012345678905");
  EXPECT_EQ(test.symbology, "101 (UPC-A)");
  EXPECT_EQ(control.calls.back(), "DataEventEnabled on");
  Label("G1234", "1234", 501);
  EXPECT_EQ(test.scanDataLabel, "1234") << "the second label replaces";
  EXPECT_EQ(test.symbology, "501 (Unknown)");

  control.calls.clear();
  check.CloseTest();
  EXPECT_EQ(control.calls, Calls{"Close"});
  EXPECT_FALSE(test.shown);
  EXPECT_TRUE(view.workingControlsEnabled);
  EXPECT_TRUE(Rewritten());
  Label("late", "late", 101);
  EXPECT_EQ(test.scanData, "G1234") << "an event after Close shows nothing";
  EXPECT_EQ(control.calls, Calls{"Close"});
}

TEST_F(ScannerCheckTest, TestOfADeviceThatCannotOpenShowsTheLastTexts) {
  control.openResult = 104;
  test.SetTexts("kept", "kept", "kept");
  check.TestDevice();
  EXPECT_EQ(view.warnings,
            std::vector<std::string>{
                "OPOS Error = 104.\nCould not open scanner device."});
  EXPECT_EQ(control.calls, Calls{"Open LX410"});
  EXPECT_TRUE(test.shown);
  EXPECT_EQ(test.centred, 0);
  EXPECT_EQ(test.scanData, "kept");
  EXPECT_FALSE(view.workingControlsEnabled);
  Label("A1", "1", 101);
  EXPECT_EQ(test.scanData, "kept");
  check.CloseTest();
  EXPECT_TRUE(view.workingControlsEnabled);
  EXPECT_FALSE(test.shown);
  EXPECT_TRUE(Rewritten());
}

TEST_F(ScannerCheckTest, PressesWhileACallWaitsAreIgnored) {
  control.onCall = [&](const std::string& call) {
    if (call.rfind("Open", 0) == 0 || call == "Close") {
      check.SetupScanner();
      check.TestDevice();
      check.CloseTest();
    }
  };
  check.SetupScanner();
  EXPECT_EQ(control.calls, (Calls{"Open LX410", "DirectIO 12345 0 []",
                                  "Close"}));
  control.calls.clear();
  check.TestDevice();
  EXPECT_EQ(control.calls, kTestOpening);
  control.calls.clear();
  check.CloseTest();
  EXPECT_EQ(control.calls, Calls{"Close"});
  EXPECT_FALSE(test.shown);
}

TEST_F(ScannerCheckTest, QuitClosesATestFirstButNeverEndsACallInProgress) {
  EXPECT_TRUE(check.ReadyToQuit());
  std::vector<bool> readyDuringCalls;
  control.onCall = [&](const std::string& call) {
    if (call.rfind("DirectIO", 0) == 0 || call == "Close") {
      readyDuringCalls.push_back(check.ReadyToQuit());
    }
  };
  check.SetupScanner();
  check.TestDevice();
  control.calls.clear();
  EXPECT_TRUE(check.ReadyToQuit());
  EXPECT_EQ(control.calls, Calls{"Close"});
  EXPECT_FALSE(test.shown);
  EXPECT_TRUE(Rewritten());
  EXPECT_EQ(readyDuringCalls, (std::vector<bool>{false, false, false}));
}

TEST_F(ScannerCheckTest, WithoutControlObjectOrEntryNothingIsCalled) {
  ScannerCheck missing(config, view, test, nullptr);
  missing.SetupScanner();
  ASSERT_EQ(view.warnings.size(), 1u);
  EXPECT_NE(view.warnings[0].find("control object is not installed"),
            std::string::npos);
  missing.TestDevice();
  EXPECT_TRUE(test.shown);
  missing.OnDataEvent();
  missing.CloseTest();
  EXPECT_TRUE(view.workingControlsEnabled);

  view.SetDeviceList({});
  check.SetupScanner();
  check.TestDevice();
  EXPECT_EQ(view.messages,
            (std::vector<std::string>{
                "There is no device to set up. Create one with New.",
                "There is no device to test. Create one with New."}));
  EXPECT_TRUE(control.calls.empty());
  EXPECT_FALSE(test.shown);
}

TEST(SymbologyText, NamesEachCodeAndCallsTheRestUnknown) {
  const struct {
    long code;
    const char* text;
  } cases[] = {
      {101, "101 (UPC-A)"},         {104, "104 (EAN-13)"},
      {105, "105 (Unknown)"},       {110, "110 (Code 128)"},
      {113, "113 (Unknown)"},       {117, "117 (Unknown)"},
      {119, "119 (EAN-13 with supplemental barcode)"},
      {0, "0 (Unknown)"},           {501, "501 (Unknown)"},
      {-1, "-1 (Unknown)"},
  };
  for (const auto& c : cases) EXPECT_EQ(SymbologyText(c.code), c.text);
}

}  // namespace
