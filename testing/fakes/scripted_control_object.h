// The OPOS Scanner control object for tests of the configuration
// program: every call recorded in order, results and the label scripted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "varnconf/core/control_object.h"

namespace fakes {

class ScriptedControlObject : public ControlObject {
 public:
  long Open(const std::string& deviceName) override {
    Record("Open " + deviceName);
    return openResult;
  }
  long Close() override {
    Record("Close");
    return 0;
  }
  long ClaimDevice(long timeoutMs) override {
    Record("ClaimDevice " + std::to_string(timeoutMs));
    return 0;
  }
  long DirectIO(long command, long& data, std::string& text) override {
    Record("DirectIO " + std::to_string(command) + " " +
                    std::to_string(data) + " [" + text + "]");
    return directIOResult;
  }
  void SetDataEventEnabled(bool enabled) override {
    Record(enabled ? "DataEventEnabled on" : "DataEventEnabled off");
  }
  void SetDeviceEnabled(bool enabled) override {
    Record(enabled ? "DeviceEnabled on" : "DeviceEnabled off");
  }
  void SetDecodeData(bool decode) override {
    Record(decode ? "DecodeData on" : "DecodeData off");
  }
  std::string ScanData() override { return scanData; }
  std::string ScanDataLabel() override { return scanDataLabel; }
  long ScanDataType() override { return scanDataType; }

  void Record(const std::string& call) {
    calls.push_back(call);
    if (onCall) onCall(call);
  }

  long openResult = 0;
  long directIOResult = 0;
  std::string scanData;
  std::string scanDataLabel;
  long scanDataType = 0;
  std::vector<std::string> calls;
  // Runs inside each call, as a message dispatched while it waits would.
  std::function<void(const std::string&)> onCall;
};

}  // namespace fakes
