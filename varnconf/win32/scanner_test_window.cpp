#include "varnconf/win32/scanner_test_window.h"

#include "varnconf/win32/dialog_controls.h"
#include "varnconf/win32/resource.h"

ScannerTestWindow::ScannerTestWindow(HINSTANCE instance, HWND owner,
                                     HFONT headingFont,
                                     std::function<void()> close)
    : close_(std::move(close)) {
  window_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SCANNER_TEST),
                               owner, Proc, reinterpret_cast<LPARAM>(this));
  SendDlgItemMessageA(window_, IDC_TEST_HEADING, WM_SETFONT,
                      reinterpret_cast<WPARAM>(headingFont), TRUE);
}

INT_PTR CALLBACK ScannerTestWindow::Proc(HWND window, UINT message,
                                         WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ScannerTestWindow*>(
      GetWindowLongPtrA(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      return TRUE;
    case WM_COMMAND: {
      // Enter and Escape act as Close: they never hide the window while
      // the control object stays open.
      const int id = LOWORD(wParam);
      if ((id == IDC_TEST_CLOSE || id == IDOK || id == IDCANCEL) && self) {
        self->close_();
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (id >= IDC_TEST_SCAN_DATA && id <= IDC_TEST_SYMBOLOGY) {
        return BlueText(reinterpret_cast<HDC>(wParam));
      }
      return FALSE;
    }
  }
  return FALSE;
}

void ScannerTestWindow::SetTexts(const std::string& scanData,
                                 const std::string& scanDataLabel,
                                 const std::string& symbology) {
  SetDlgItemTextA(window_, IDC_TEST_SCAN_DATA, scanData.c_str());
  SetDlgItemTextA(window_, IDC_TEST_SCAN_DATA_LABEL, scanDataLabel.c_str());
  SetDlgItemTextA(window_, IDC_TEST_SYMBOLOGY, symbology.c_str());
}

void ScannerTestWindow::CenterOnScreen() {
  RECT frame = {};
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, TRUE);
}

void ScannerTestWindow::Show(bool shown) {
  ShowWindow(window_, shown ? SW_SHOW : SW_HIDE);
}
