#include "varnconf/win32/new_device_dialog.h"

#include <string>
#include <vector>

#include "varnconf/core/device_lists.h"
#include "varnconf/win32/dialog_controls.h"
#include "varnconf/win32/resource.h"

namespace {

void ApplyRules(HWND dialog) {
  const lists::TypeRules rules = lists::RulesFor(
      lists::TextAt(lists::kScannerTypes, ListSelection(dialog, IDC_NEW_TYPE)));
  ShowWindow(GetDlgItem(dialog, IDC_NEW_AUTOSCAN),
             rules.showAutoScan ? SW_SHOW : SW_HIDE);
  EnableWindow(GetDlgItem(dialog, IDC_NEW_PORT), rules.serialControlsEnabled);
  EnableWindow(GetDlgItem(dialog, IDC_NEW_COMPATIBILITY),
               rules.serialControlsEnabled);
}

void Accept(HWND dialog, NewDevice& chosen) {
  const int length = GetWindowTextLengthA(GetDlgItem(dialog, IDC_NEW_NAME));
  std::vector<char> name(static_cast<size_t>(length) + 1, 0);
  GetDlgItemTextA(dialog, IDC_NEW_NAME, name.data(), length + 1);
  chosen.Name = name.data();
  chosen.Type =
      lists::TextAt(lists::kScannerTypes, ListSelection(dialog, IDC_NEW_TYPE));
  chosen.Port =
      lists::TextAt(lists::kPorts, ListSelection(dialog, IDC_NEW_PORT));
  chosen.Compatibility = lists::TextAt(
      lists::kCompatibilityModes, ListSelection(dialog, IDC_NEW_COMPATIBILITY));
  chosen.AutoScan =
      IsDlgButtonChecked(dialog, IDC_NEW_AUTOSCAN) == BST_CHECKED ? 1 : 0;
}

INT_PTR CALLBACK NewDeviceProc(HWND dialog, UINT message, WPARAM wParam,
                               LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      FillList(dialog, IDC_NEW_TYPE, lists::kScannerTypes);
      FillList(dialog, IDC_NEW_COMPATIBILITY, lists::kCompatibilityModes);
      FillList(dialog, IDC_NEW_PORT, lists::kPorts);
      // Preset: the first entry of each list, AutoScan off and hidden.
      SelectInList(dialog, IDC_NEW_TYPE, 0);
      SelectInList(dialog, IDC_NEW_COMPATIBILITY, 0);
      SelectInList(dialog, IDC_NEW_PORT, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_NEW_TYPE:
          if (HIWORD(wParam) == CBN_SELCHANGE) ApplyRules(dialog);
          return TRUE;
        case IDOK:
          Accept(dialog, *reinterpret_cast<NewDevice*>(
                             GetWindowLongPtrA(dialog, DWLP_USER)));
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

bool RunNewDeviceDialog(HINSTANCE instance, HWND owner, NewDevice& chosen) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_NEW_DEVICE), owner,
                         NewDeviceProc,
                         reinterpret_cast<LPARAM>(&chosen)) == IDOK;
}
