// The Scanner Test window (template 134): created hidden with the main
// dialog, shown for each test, never destroyed before the program ends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "varnconf/core/scanner_check.h"

class ScannerTestWindow : public ScannerTestView {
 public:
  // `close` runs for its Close button, Enter, Escape and Alt+F4.
  ScannerTestWindow(HINSTANCE instance, HWND owner, HFONT headingFont,
                    std::function<void()> close);
  HWND Handle() const { return window_; }

  void SetTexts(const std::string& scanData, const std::string& scanDataLabel,
                const std::string& symbology) override;
  void CenterOnScreen() override;
  void Show(bool shown) override;

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam);

  std::function<void()> close_;
  HWND window_ = nullptr;
};
