#include "varnconf/win32/win32_main_view.h"

#include "varnconf/win32/dialog_controls.h"
#include "varnconf/win32/resource.h"

MainFields Win32MainView::ReadFields() {
  MainFields fields;
  fields.DeviceIndex = ListSelection(dialog_, IDC_DEVICE_LIST);
  fields.TypeIndex = ListSelection(dialog_, IDC_SCANNER_TYPE);
  fields.PortIndex = ListSelection(dialog_, IDC_PORT);
  fields.CompatibilityIndex = ListSelection(dialog_, IDC_COMPATIBILITY);
  fields.AutoScanChecked =
      static_cast<int>(IsDlgButtonChecked(dialog_, IDC_AUTOSCAN));
  return fields;
}

void Win32MainView::WriteFields(const MainFields& fields) {
  SelectInList(dialog_, IDC_DEVICE_LIST, fields.DeviceIndex);
  SelectInList(dialog_, IDC_SCANNER_TYPE, fields.TypeIndex);
  SelectInList(dialog_, IDC_PORT, fields.PortIndex);
  SelectInList(dialog_, IDC_COMPATIBILITY, fields.CompatibilityIndex);
  const int check = fields.AutoScanChecked < 0 || fields.AutoScanChecked > 2
                        ? 0
                        : fields.AutoScanChecked;
  CheckDlgButton(dialog_, IDC_AUTOSCAN, static_cast<UINT>(check));
}

void Win32MainView::SetDeviceList(const std::vector<std::string>& names) {
  FillList(dialog_, IDC_DEVICE_LIST, names);
}

void Win32MainView::ShowAutoScan(bool shown) {
  ShowWindow(GetDlgItem(dialog_, IDC_AUTOSCAN), shown ? SW_SHOW : SW_HIDE);
}

void Win32MainView::EnableSerialControls(bool enabled) {
  for (int id : {IDC_PORT, IDC_COMPATIBILITY, IDC_SETUP_SCANNER}) {
    EnableWindow(GetDlgItem(dialog_, id), enabled);
  }
}

void Win32MainView::EnableWorkingControls(bool enabled) {
  for (int id : {IDC_DEVICE_LIST, IDC_PORT, IDC_SCANNER_TYPE, IDC_AUTOSCAN,
                 IDC_COMPATIBILITY, IDC_NEW, IDC_DELETE, IDC_QUIT,
                 IDC_SETUP_SCANNER, IDC_TEST_DEVICE}) {
    EnableWindow(GetDlgItem(dialog_, id), enabled);
  }
}

void Win32MainView::ShowMessage(const std::string& text) {
  MessageBoxA(dialog_, text.c_str(), ApplicationName().c_str(), MB_OK);
}

void Win32MainView::ShowWarning(const std::string& text) {
  MessageBoxA(dialog_, text.c_str(), ApplicationName().c_str(),
              MB_OK | MB_ICONWARNING);
}
