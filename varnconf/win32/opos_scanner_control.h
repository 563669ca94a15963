// The OPOS Scanner control object, created in-process as a container
// creates a control, called by dispatch id, and its DataEvent connected.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "varnconf/core/control_object.h"

class OposScannerControl final : public ControlObject {
 public:
  // Null when the control object is not registered or cannot be created.
  // Each DataEvent becomes `dataEventMessage` to `window`, handled on the
  // window's thread.
  static std::unique_ptr<OposScannerControl> Create(HWND window,
                                                    UINT dataEventMessage);
  ~OposScannerControl() override;
  OposScannerControl(const OposScannerControl&) = delete;
  OposScannerControl& operator=(const OposScannerControl&) = delete;

  long Open(const std::string& deviceName) override;
  long Close() override;
  long ClaimDevice(long timeoutMs) override;
  long DirectIO(long command, long& data, std::string& text) override;
  void SetDataEventEnabled(bool enabled) override;
  void SetDeviceEnabled(bool enabled) override;
  void SetDecodeData(bool decode) override;
  std::string ScanData() override;
  std::string ScanDataLabel() override;
  long ScanDataType() override;

 private:
  class EventSink;
  explicit OposScannerControl(IDispatch* control);
  void ConnectEvents(HWND window, UINT dataEventMessage);
  long Method(DISPID id, std::initializer_list<VARIANT> args);
  void Put(DISPID id, bool value);
  std::string Text(DISPID id);

  IDispatch* control_;
  EventSink* sink_ = nullptr;
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
};
