#include "talscan/win32/scanner_so.h"

#include "common/com/automation.h"
#include "common/opos/opos.h"
#include "talscan/core/scanner_service.h"
#include "talscan/win32/event_driver.h"
#include "talscan/win32/module.h"

const CLSID CLSID_ScannerSO = {
    0x3C11BE62,
    0x5309,
    0x11D6,
    {0x8E, 0x44, 0x00, 0x50, 0xDA, 0xC5, 0x80, 0xE1}};
const IID DIID_ScannerSO = {0x3C11BE61,
                            0x5309,
                            0x11D6,
                            {0x8E, 0x44, 0x00, 0x50, 0xDA, 0xC5, 0x80, 0xE1}};

namespace {

enum MethodId : DISPID {
  kCheckHealth = 1,
  kClaim,
  kClearInput,
  kClearOutput,
  kClose,
  kCOFreezeEvents,
  kDirectIO,
  kOpenService,
  kRelease,
  kGetPropertyNumber,
  kSetPropertyNumber,
  kSetPropertyString,
  kGetPropertyString,
};

struct Method {
  const wchar_t* name;
  DISPID id;
  UINT arguments;
};

// In the order of their identifiers.
constexpr Method kMethods[] = {
    {L"CheckHealth", kCheckHealth, 1},
    {L"Claim", kClaim, 1},
    {L"ClearInput", kClearInput, 0},
    {L"ClearOutput", kClearOutput, 0},
    {L"Close", kClose, 0},
    {L"COFreezeEvents", kCOFreezeEvents, 1},
    {L"DirectIO", kDirectIO, 3},
    {L"OpenService", kOpenService, 3},
    {L"Release", kRelease, 0},
    {L"GetPropertyNumber", kGetPropertyNumber, 1},
    {L"SetPropertyNumber", kSetPropertyNumber, 2},
    {L"SetPropertyString", kSetPropertyString, 2},
    {L"GetPropertyString", kGetPropertyString, 1},
};

void SetLong(VARIANT* result, long value) {
  if (result == nullptr) return;
  VariantInit(result);
  V_VT(result) = VT_I4;
  V_I4(result) = value;
}

HRESULT SetString(VARIANT* result, const std::string& text) {
  if (result == nullptr) return S_OK;
  VariantInit(result);
  BSTR value = com::ToBstr(text);
  if (value == nullptr) return E_OUTOFMEMORY;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = value;
  return S_OK;
}

}  // namespace

ScannerSO::ScannerSO() : released_(std::make_shared<std::atomic<bool>>(false)) {
  module::AddObject();
}

// The release ends an opening that the control object did not close,
// when it is the last object or the opening's callbacks are this object's:
// no callback may reach a control object that is letting go, Close waits
// for any under way, and the port must be free for the next opening. The
// object counts as alive until then, so that the library is not unloaded
// under the wait.
ScannerSO::~ScannerSO() {
  *released_ = true;
  if (module::IsLastObject()) {
    module::Service().EndOpening();
  } else if (std::shared_ptr<EventSink> opened = opened_.lock()) {
    module::Service().EndOpeningCalling(opened.get());
  }
  module::RemoveObject();
}

HRESULT ScannerSO::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, DIID_ScannerSO)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ScannerSO::AddRef() { return ++references_; }

ULONG ScannerSO::Release() {
  const ULONG remaining = --references_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT ScannerSO::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ScannerSO::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ScannerSO::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                 DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  if (count == 0) return S_OK;
  // The methods have no named parameters.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  ids[0] = DISPID_UNKNOWN;
  for (const Method& method : kMethods) {
    if (com::SameName(names[0], method.name)) {
      ids[0] = method.id;
      break;
    }
  }
  return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT ScannerSO::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                          DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                          UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (id < kCheckHealth || id > kGetPropertyString) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) {
    return DISP_E_MEMBERNOTFOUND;
  }
  // The library stays while a call runs in it, even one whose object a
  // message handled meanwhile has released.
  module::CallInProgress call;
  return Dispatch(id, params, result, argError);
}

HRESULT ScannerSO::Dispatch(DISPID id, DISPPARAMS* params, VARIANT* result,
                            UINT* argError) {
  com::Arguments args(params);
  HRESULT hr = args.Expect(kMethods[id - kCheckHealth].arguments);
  if (hr != S_OK) return hr;

  ScannerService& service = module::Service();
  long number = 0;
  long number2 = 0;
  bool flag = false;
  std::string text;
  std::string text2;
  IDispatch* control = nullptr;
  switch (id) {
    case kCheckHealth:
      hr = args.Long(0, number);
      if (hr == S_OK) SetLong(result, service.CheckHealth(number));
      break;
    case kClaim:
      hr = args.Long(0, number);
      if (hr == S_OK) SetLong(result, service.Claim(number));
      break;
    case kClearInput: SetLong(result, service.ClearInput()); break;
    case kClearOutput: SetLong(result, service.ClearOutput()); break;
    case kClose: SetLong(result, service.Close()); break;
    case kCOFreezeEvents:
      hr = args.Bool(0, flag);
      if (hr == S_OK) SetLong(result, service.COFreezeEvents(flag));
      break;
    case kDirectIO:
      // pData and pString must be there and of their types; the service
      // object neither reads nor writes them.
      hr = args.Long(0, number);
      if (hr == S_OK) hr = args.Long(1, number2);
      if (hr == S_OK) hr = args.String(2, text);
      if (hr == S_OK) SetLong(result, service.DirectIO(number));
      break;
    case kOpenService:
      hr = args.String(0, text);
      if (hr == S_OK) hr = args.String(1, text2);
      if (hr == S_OK) hr = args.Dispatch(2, control);
      if (hr == S_OK) {
        auto callbacks = std::make_shared<EventDriver>(control, released_);
        const long opened = service.OpenService(text, text2, callbacks);
        if (opened == opos::kSuccess) opened_ = callbacks;
        SetLong(result, opened);
      }
      break;
    case kRelease: SetLong(result, service.Release()); break;
    case kGetPropertyNumber:
      hr = args.Long(0, number);
      if (hr == S_OK) SetLong(result, service.GetPropertyNumber(number));
      break;
    case kSetPropertyNumber:
      hr = args.Long(0, number);
      if (hr == S_OK) hr = args.Long(1, number2);
      if (hr == S_OK) service.SetPropertyNumber(number, number2);
      break;
    case kSetPropertyString:
      hr = args.Long(0, number);
      if (hr == S_OK) hr = args.String(1, text);
      if (hr == S_OK) service.SetPropertyString(number, text);
      break;
    case kGetPropertyString:
      hr = args.Long(0, number);
      if (hr == S_OK) hr = SetString(result, service.GetPropertyString(number));
      break;
  }
  if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTOPTIONAL) &&
      argError != nullptr) {
    *argError = args.ArgError();
  }
  return hr;
}
