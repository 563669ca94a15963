// The configuration program's main dialog for tests: the controls' state
// as plain fields that a test sets as a user would, and a record of what
// the logic showed.
#pragma once

#include <string>
#include <vector>

#include "varnconf/core/main_view.h"

namespace fakes {

class RecordingMainView : public MainView {
 public:
  MainFields ReadFields() override { return controls; }
  void WriteFields(const MainFields& fields) override {
    controls = fields;
    if (fields.DeviceIndex >= static_cast<int>(deviceList.size())) {
      controls.DeviceIndex = -1;
    }
    if (fields.AutoScanChecked < 0 || fields.AutoScanChecked > 2) {
      controls.AutoScanChecked = 0;
    }
  }
  void SetDeviceList(const std::vector<std::string>& names) override {
    deviceList = names;
    controls.DeviceIndex = -1;  // a refilled list has no selection
  }
  void ShowAutoScan(bool shown) override { autoScanShown = shown; }
  void EnableSerialControls(bool enabled) override {
    serialControlsEnabled = enabled;
  }
  void EnableWorkingControls(bool enabled) override {
    workingControlsEnabled = enabled;
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
  }
  void ShowWarning(const std::string& text) override {
    warnings.push_back(text);
  }

  MainFields controls;
  std::vector<std::string> deviceList;
  bool autoScanShown = false;
  bool serialControlsEnabled = true;
  bool workingControlsEnabled = true;
  std::vector<std::string> messages;
  std::vector<std::string> warnings;
};

}  // namespace fakes
