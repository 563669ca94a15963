// The configuration program's Scanner Test window for tests: what it
// shows, and how often it was centred.
#pragma once

#include <string>

#include "varnconf/core/scanner_check.h"

namespace fakes {

class RecordingTestView : public ScannerTestView {
 public:
  void SetTexts(const std::string& data, const std::string& label,
                const std::string& symbologyText) override {
    scanData = data;
    scanDataLabel = label;
    symbology = symbologyText;
  }
  void CenterOnScreen() override { ++centred; }
  void Show(bool isShown) override { shown = isShown; }

  std::string scanData;
  std::string scanDataLabel;
  std::string symbology;
  int centred = 0;
  bool shown = false;
};

}  // namespace fakes
