// Setup Scanner and Test Device: the selected entry opened through the
// OPOS Scanner control object, the scanner programmed, or every scanned
// label shown in the Scanner Test window until it is closed.
#pragma once

#include <string>

#include "varnconf/core/control_object.h"
#include "varnconf/core/device_config.h"
#include "varnconf/core/main_view.h"

// The Scanner Test window: created once, shown for each test.
class ScannerTestView {
 public:
  virtual ~ScannerTestView() = default;

  virtual void SetTexts(const std::string& scanData,
                        const std::string& scanDataLabel,
                        const std::string& symbology) = 0;
  // Moved to the middle of the screen, keeping its size, and repainted.
  virtual void CenterOnScreen() = 0;
  virtual void Show(bool shown) = 0;
};

class ScannerCheck {
 public:
  // control is null when the control object could not be created.
  ScannerCheck(DeviceConfig& config, MainView& main, ScannerTestView& test,
               ControlObject* control);

  void SetupScanner();
  void TestDevice();
  void OnDataEvent();
  // Close in the Scanner Test window (also its Enter and Escape).
  void CloseTest();
  // Whether the program may end now: a test shown is closed first. Not
  // while a call to the control object waits, or the dialog would be gone
  // when it returns.
  bool ReadyToQuit();
  // While Setup Scanner or a test is under way the main dialog's working
  // controls take no command: a call to the control object may handle
  // messages while it waits, and a command sent to a control then must not
  // run inside it.
  bool Busy() const { return activity_ != Activity::kIdle; }

 private:

  DeviceConfig& config_;
  MainView& main_;
  ScannerTestView& test_;
  ControlObject* const control_;
  // What runs now. A message box, or the control object's Close, pumps
  // messages, so another press can come in meanwhile: it is ignored.
  enum class Activity {
    kIdle,
    kSettingUp,
    kOpeningTest,
    kTesting,
    kClosingTest
  };
  Activity activity_ = Activity::kIdle;

  bool Begin(Activity activity, const char* nothingListed);
  long Open(const std::string& device);
  // The control object is open for the test shown.
  bool testOpen_ = false;
};

// "%d (<name>)" for a ScanDataType code.
std::string SymbologyText(long scanDataType);
