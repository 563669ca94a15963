#include "testing/wine/control_events.h"

#include <ocidl.h>

#include "common/com/automation.h"
#include "testing/standin/standin.h"
#include "testing/wine/wine_support.h"

namespace wine {

ControlEvents::ControlEvents(IDispatch* control) : control_(control) {
  IConnectionPointContainer* container = nullptr;
  if (FAILED(control->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(&container)))) {
    return;
  }
  if (SUCCEEDED(container->FindConnectionPoint(DIID_OPOSScannerEvents,
                                               &point_))) {
    point_->Advise(static_cast<IDispatch*>(this), &cookie_);
  }
  container->Release();
}

ControlEvents::~ControlEvents() {
  if (point_ != nullptr) {
    point_->Unadvise(cookie_);
    point_->Release();
  }
}

std::vector<ControlEvent> ControlEvents::DataEvents() const {
  std::vector<ControlEvent> data;
  for (const ControlEvent& event : events_) {
    if (event.id == standin::kDataEvent) data.push_back(event);
  }
  return data;
}

std::vector<long> ControlEvents::StatusUpdates() const {
  std::vector<long> statuses;
  for (const ControlEvent& event : events_) {
    if (event.id == standin::kStatusUpdateEvent) statuses.push_back(event.number);
  }
  return statuses;
}

bool ControlEvents::WaitFor(size_t count, DWORD timeoutMs, DISPID kind) {
  return PumpUntil(
      [&] {
        size_t seen = 0;
        for (const ControlEvent& event : events_) {
          seen += kind == 0 || event.id == kind;
        }
        return seen >= count;
      },
      timeoutMs);
}

HRESULT ControlEvents::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, DIID_OPOSScannerEvents)) {
    *object = static_cast<IDispatch*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ControlEvents::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT ControlEvents::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ControlEvents::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return DISP_E_UNKNOWNNAME;
}

HRESULT ControlEvents::Invoke(DISPID id, REFIID, LCID, WORD,
                              DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                              UINT*) {
  ControlEvent event;
  event.id = id;
  event.thread = GetCurrentThreadId();
  com::Arguments args(params);
  if (params != nullptr && params->cArgs > 0) args.Long(0, event.number);
  if (id == standin::kDirectIOEvent && params->cArgs == 3) {
    args.Long(1, event.data);
    args.String(2, event.text);
  }
  if (id == standin::kDataEvent) {
    Dispatch control(control_);
    control_->AddRef();
    event.scanData = control.GetString(standin::kScanData);
    event.scanDataLabel = control.GetString(standin::kScanDataLabel);
    event.scanDataType = control.GetLong(standin::kScanDataType);
  }
  events_.push_back(event);
  // The handler may raise further events, so it works on its own copy.
  if (handler_) handler_(event);
  if (id == standin::kDirectIOEvent && params->cArgs == 3) {
    // The handler may answer through pData and pString.
    VARIANT* data = &params->rgvarg[1];
    VARIANT* text = &params->rgvarg[0];
    if (V_VT(data) == (VT_I4 | VT_BYREF)) *V_I4REF(data) = event.data;
    if (V_VT(text) == (VT_BSTR | VT_BYREF)) {
      SysFreeString(*V_BSTRREF(text));
      *V_BSTRREF(text) = com::ToBstr(event.text);
    }
  }
  return S_OK;
}

}  // namespace wine
