// What Setup Scanner and Test Device use of the OPOS Scanner control
// object, member by member. A member that cannot be called at all answers
// as a failed OPOS call (OPOS_E_FAILURE) or with an empty value.
#pragma once

#include <string>

class ControlObject {
 public:
  virtual ~ControlObject() = default;

  virtual long Open(const std::string& deviceName) = 0;
  virtual long Close() = 0;
  virtual long ClaimDevice(long timeoutMs) = 0;
  virtual long DirectIO(long command, long& data, std::string& text) = 0;
  virtual void SetDataEventEnabled(bool enabled) = 0;
  virtual void SetDeviceEnabled(bool enabled) = 0;
  virtual void SetDecodeData(bool decode) = 0;
  virtual std::string ScanData() = 0;
  virtual std::string ScanDataLabel() = 0;
  virtual long ScanDataType() = 0;
};
