#include "varnconf/win32/opos_scanner_control.h"

#include <olectl.h>

#include "common/com/automation.h"
#include "common/opos/opos.h"

namespace {

// {CCB90182-B81E-11D2-AB74-0040054C3719}
const CLSID kOposScanner = {0xCCB90182,
                            0xB81E,
                            0x11D2,
                            {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

// The control object's members by dispatch id.
constexpr DISPID kDataEventEnabled = 16;
constexpr DISPID kDeviceEnabled = 17;
constexpr DISPID kClaimDevice = 32;
constexpr DISPID kClose = 35;
constexpr DISPID kDirectIO = 36;
constexpr DISPID kOpen = 37;
constexpr DISPID kDecodeData = 50;
constexpr DISPID kScanData = 51;
constexpr DISPID kScanDataLabel = 52;
constexpr DISPID kScanDataType = 53;
constexpr DISPID kDataEvent = 1;

// The one connection point for the control's events: the default source
// its class information names, else the only one it has.
IConnectionPoint* FindEventPoint(IDispatch* control) {
  IConnectionPointContainer* container = nullptr;
  if (FAILED(control->QueryInterface(
          IID_IConnectionPointContainer,
          reinterpret_cast<void**>(&container)))) {
    return nullptr;
  }
  IConnectionPoint* point = nullptr;
  IProvideClassInfo2* classInfo = nullptr;
  if (SUCCEEDED(control->QueryInterface(
          IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)))) {
    IID events;
    if (SUCCEEDED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID,
                                     &events))) {
      container->FindConnectionPoint(events, &point);
    }
    classInfo->Release();
  }
  IEnumConnectionPoints* points = nullptr;
  if (point == nullptr &&
      SUCCEEDED(container->EnumConnectionPoints(&points)) &&
      points != nullptr) {
    IConnectionPoint* found[2] = {};
    ULONG count = 0;
    points->Next(2, found, &count);
    if (count == 1) {
      point = found[0];
    } else {
      for (ULONG i = 0; i < count; ++i) found[i]->Release();
    }
    points->Release();
  }
  container->Release();
  return point;
}

// A call's result as a number, `otherwise` when the call failed or its
// result is none or not a number.
long Number(HRESULT hr, VARIANT& result, long otherwise) {
  long number = otherwise;
  if (SUCCEEDED(hr) && V_VT(&result) != VT_EMPTY &&
      SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4))) {
    number = V_I4(&result);
  }
  VariantClear(&result);
  return number;
}

}  // namespace

// Takes the control's events: a DataEvent becomes the window's message,
// sent when it comes on the window's thread (as the control object
// delivers it) and posted when it does not.
class OposScannerControl::EventSink final : public IDispatch {
 public:
  EventSink(REFIID events, HWND window, UINT message)
      : events_(events), window_(window), message_(message) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, events_)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG remaining = --references_;
    if (remaining == 0) delete this;
    return remaining;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID,
                                        ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*,
                                   VARIANT*, EXCEPINFO*, UINT*) override {
    if (id != kDataEvent) return S_OK;  // the other events are not used
    if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) {
      SendMessageA(window_, message_, 0, 0);
    } else {
      PostMessageA(window_, message_, 0, 0);
    }
    return S_OK;
  }

 private:
  const IID events_;
  const HWND window_;
  const UINT message_;
  ULONG references_ = 1;
};

std::unique_ptr<OposScannerControl> OposScannerControl::Create(
    HWND window, UINT dataEventMessage) {
  IDispatch* control = nullptr;
  if (FAILED(CoCreateInstance(kOposScanner, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IDispatch,
                              reinterpret_cast<void**>(&control)))) {
    return nullptr;
  }
  // A container starts a control without saved state so.
  IPersistStreamInit* persist = nullptr;
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit,
                                        reinterpret_cast<void**>(&persist)))) {
    persist->InitNew();
    persist->Release();
  }
  std::unique_ptr<OposScannerControl> wrapped(new OposScannerControl(control));
  wrapped->ConnectEvents(window, dataEventMessage);
  return wrapped;
}

OposScannerControl::OposScannerControl(IDispatch* control)
    : control_(control) {}

void OposScannerControl::ConnectEvents(HWND window, UINT dataEventMessage) {
  point_ = FindEventPoint(control_);
  if (point_ == nullptr) return;
  IID events = IID_IDispatch;
  point_->GetConnectionInterface(&events);
  sink_ = new EventSink(events, window, dataEventMessage);
  if (FAILED(point_->Advise(sink_, &cookie_))) {
    point_->Release();
    point_ = nullptr;
  }
}

OposScannerControl::~OposScannerControl() {
  if (point_ != nullptr) {
    point_->Unadvise(cookie_);
    point_->Release();
  }
  if (sink_ != nullptr) sink_->Release();
  control_->Release();
}

// A failed call, or one without an OPOS result, counts as OPOS_E_FAILURE.
long OposScannerControl::Method(DISPID id,
                                std::initializer_list<VARIANT> args) {
  VARIANT result;
  VariantInit(&result);
  return Number(com::Call(control_, id, DISPATCH_METHOD, args, &result),
                result, opos::kFailure);
}

void OposScannerControl::Put(DISPID id, bool value) {
  com::Call(control_, id, DISPATCH_PROPERTYPUT, {com::BoolVariant(value)});
}

std::string OposScannerControl::Text(DISPID id) {
  VARIANT result;
  VariantInit(&result);
  std::string text;
  if (SUCCEEDED(com::Call(control_, id, DISPATCH_PROPERTYGET, {}, &result)) &&
      SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR))) {
    text = com::ToAnsi(V_BSTR(&result));
  }
  VariantClear(&result);
  return text;
}

long OposScannerControl::Open(const std::string& deviceName) {
  VARIANT name;
  VariantInit(&name);
  V_VT(&name) = VT_BSTR;
  V_BSTR(&name) = com::ToBstr(deviceName);
  const long result = Method(kOpen, {name});
  VariantClear(&name);
  return result;
}

long OposScannerControl::Close() { return Method(kClose, {}); }

long OposScannerControl::ClaimDevice(long timeoutMs) {
  return Method(kClaimDevice, {com::LongVariant(timeoutMs)});
}

long OposScannerControl::DirectIO(long command, long& data,
                                  std::string& text) {
  VARIANT result;
  VariantInit(&result);
  // pData and pString by reference, as the member declares them.
  return Number(com::CallWithReferences(control_, kDirectIO, command, data,
                                        text, &result),
                result, opos::kFailure);
}

void OposScannerControl::SetDataEventEnabled(bool enabled) {
  Put(kDataEventEnabled, enabled);
}

void OposScannerControl::SetDeviceEnabled(bool enabled) {
  Put(kDeviceEnabled, enabled);
}

void OposScannerControl::SetDecodeData(bool decode) {
  Put(kDecodeData, decode);
}

std::string OposScannerControl::ScanData() { return Text(kScanData); }

std::string OposScannerControl::ScanDataLabel() {
  return Text(kScanDataLabel);
}

long OposScannerControl::ScanDataType() {
  VARIANT result;
  VariantInit(&result);
  return Number(
      com::Call(control_, kScanDataType, DISPATCH_PROPERTYGET, {}, &result),
      result, 0);
}
