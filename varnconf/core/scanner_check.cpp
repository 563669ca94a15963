#include "varnconf/core/scanner_check.h"

#include "common/opos/opos.h"
#include "common/opos/symbology_name.h"

namespace {

// Asks the service object to program the scanner (its answer: 0 or 111).
constexpr long kProgramScannerCommand = 12345;

const char kSetupWarning[] =
    "Could not verify if scanner is setup correct. Please check, if the "
    "scanner driver is able to detect the symbology. If not, you need to "
    "setup the scanner manually by scanning 'Start of Configuration', "
    "'BarcodeID Enable', 'End of Configuration' from the User's Manual.";
const char kNoControlObject[] =
    "The OPOS Scanner control object is not installed on this machine.\n"
    "Could not open scanner device.";
const char kNothingToSetUp[] =
    "There is no device to set up. Create one with New.";
const char kNothingToTest[] = "There is no device to test. Create one with New.";

std::string OpenError(long result) {
  return "OPOS Error = " + std::to_string(result) +
         ".\nCould not open scanner device.";
}

}  // namespace

std::string SymbologyText(long scanDataType) {
  return std::to_string(scanDataType) + " (" + SymbologyName(scanDataType) +
         ")";
}

ScannerCheck::ScannerCheck(DeviceConfig& config, MainView& main,
                           ScannerTestView& test, ControlObject* control)
    : config_(config), main_(main), test_(test), control_(control) {}

// The control object's Open, its failure shown in a warning box.
long ScannerCheck::Open(const std::string& device) {
  if (control_ == nullptr) {
    main_.ShowWarning(kNoControlObject);
    return opos::kFailure;
  }
  const long result = control_->Open(device);
  if (result != opos::kSuccess) main_.ShowWarning(OpenError(result));
  return result;
}

// The start both buttons share: nothing else under way, and an entry to
// act on, which becomes CurrentDeviceName.
bool ScannerCheck::Begin(Activity activity, const char* nothingListed) {
  if (activity_ != Activity::kIdle) return false;
  if (!config_.SelectCurrentDevice()) {
    main_.ShowMessage(nothingListed);
    return false;
  }
  activity_ = activity;
  return true;
}

// The dialog is given back only once Close has returned: Close may handle
// messages while it waits, and a press on Delete, New or the list must not
// run inside it.
void ScannerCheck::SetupScanner() {
  if (!Begin(Activity::kSettingUp, kNothingToSetUp)) return;
  const bool opened = Open(config_.CurrentDeviceName()) == opos::kSuccess;
  if (opened) {
    main_.EnableWorkingControls(false);
    long data = 0;
    std::string text;
    if (control_->DirectIO(kProgramScannerCommand, data, text) !=
        opos::kSuccess) {
      main_.ShowWarning(kSetupWarning);
    }
  }
  if (control_ != nullptr) control_->Close();
  if (opened) {
    main_.EnableWorkingControls(true);
    config_.ApplyTypeRules();
  }
  activity_ = Activity::kIdle;
}

void ScannerCheck::TestDevice() {
  if (!Begin(Activity::kOpeningTest, kNothingToTest)) return;
  if (Open(config_.CurrentDeviceName()) == opos::kSuccess) {
    testOpen_ = true;
    // A claim or an enabling that fails leaves a window that waits.
    control_->ClaimDevice(0);
    control_->SetDeviceEnabled(true);
    control_->SetDataEventEnabled(true);
    control_->SetDecodeData(true);
    test_.SetTexts("", "", "");
    test_.CenterOnScreen();
  }
  main_.EnableWorkingControls(false);
  test_.Show(true);
  activity_ = Activity::kTesting;
}

void ScannerCheck::OnDataEvent() {
  // An event of an earlier test, or of none, shows nothing.
  if (!testOpen_) return;
  const std::string scanData = control_->ScanData();
  const std::string scanDataLabel = control_->ScanDataLabel();
  test_.SetTexts(scanData, scanDataLabel,
                 SymbologyText(control_->ScanDataType()));
  control_->SetDataEventEnabled(true);
}

void ScannerCheck::CloseTest() {
  if (activity_ != Activity::kTesting) return;
  activity_ = Activity::kClosingTest;
  testOpen_ = false;
  if (control_ != nullptr) control_->Close();
  main_.EnableWorkingControls(true);
  config_.ApplyTypeRules();
  test_.Show(false);
  activity_ = Activity::kIdle;
}

bool ScannerCheck::ReadyToQuit() {
  if (activity_ == Activity::kTesting) CloseTest();
  return activity_ == Activity::kIdle;
}
