// What the configuration program's logic needs of its main dialog: the
// fields bound to its controls (read from and written to them, as the user
// sees them), the device list's contents, which controls are shown or
// enabled, and message boxes. The Win32 dialog implements it; tests record.
#pragma once

#include <string>
#include <vector>

// List selections are positions in their lists; -1 is no selection.
struct MainFields {
  int DeviceIndex = -1;
  int TypeIndex = -1;
  int PortIndex = -1;
  int CompatibilityIndex = -1;
  int AutoScanChecked = 0;
};

class MainView {
 public:
  virtual ~MainView() = default;

  // The selections and the check state as the controls hold them.
  virtual MainFields ReadFields() = 0;
  // Selects the entry at each index (none for -1) and sets the check
  // state (a value outside 0..2 as 0).
  virtual void WriteFields(const MainFields& fields) = 0;
  virtual void SetDeviceList(const std::vector<std::string>& names) = 0;
  virtual void ShowAutoScan(bool shown) = 0;
  // The Port and Compatibility lists and Setup Scanner.
  virtual void EnableSerialControls(bool enabled) = 0;
  // The ten working controls: the four lists, AutoScan and the five
  // buttons.
  virtual void EnableWorkingControls(bool enabled) = 0;
  // An OK box owned by the dialog, captioned with the program's name;
  // a warning box shows the warning icon too.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
};
