// The main dialog's controls behind MainView.
#pragma once

#include <windows.h>

#include "varnconf/core/main_view.h"

class Win32MainView : public MainView {
 public:
  explicit Win32MainView(HWND dialog) : dialog_(dialog) {}

  MainFields ReadFields() override;
  void WriteFields(const MainFields& fields) override;
  void SetDeviceList(const std::vector<std::string>& names) override;
  void ShowAutoScan(bool shown) override;
  void EnableSerialControls(bool enabled) override;
  void EnableWorkingControls(bool enabled) override;
  void ShowMessage(const std::string& text) override;
  void ShowWarning(const std::string& text) override;

 private:
  HWND dialog_;
};
