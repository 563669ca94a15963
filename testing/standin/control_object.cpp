#include "testing/standin/control_object.h"

#include <olectl.h>

#include <cstdlib>

#include "common/com/automation.h"
#include "common/opos/opos.h"
#include "testing/standin/standin.h"

extern HMODULE standinModule;
void StandInObjectCreated();
void StandInObjectDestroyed();

namespace {

// The service object's methods, in the order of their identifiers.
enum ServiceMethod {
  kCheckHealthSO,
  kClaimSO,
  kClearInputSO,
  kClearOutputSO,
  kCloseSO,
  kCOFreezeEventsSO,
  kDirectIOSO,
  kOpenServiceSO,
  kReleaseSO,
  kGetPropertyNumberSO,
  kSetPropertyNumberSO,
  kSetPropertyStringSO,
  kGetPropertyStringSO,
};
const wchar_t* const kServiceNames[13] = {L"CheckHealth",
                                          L"Claim",
                                          L"ClearInput",
                                          L"ClearOutput",
                                          L"Close",
                                          L"COFreezeEvents",
                                          L"DirectIO",
                                          L"OpenService",
                                          L"Release",
                                          L"GetPropertyNumber",
                                          L"SetPropertyNumber",
                                          L"SetPropertyString",
                                          L"GetPropertyString"};

enum MemberKind { kNumber, kBoolean, kText, kMethod, kCallback };

struct MemberInfo {
  const wchar_t* name;
  DISPID id;
  MemberKind kind;
  long index;  // property index at the service object
  bool settable;
};

const MemberInfo kMembers[] = {
    {L"DataEventEnabled", standin::kDataEventEnabled, kBoolean,
     opos::pidx::DataEventEnabled, true},
    {L"DeviceEnabled", standin::kDeviceEnabled, kBoolean,
     opos::pidx::DeviceEnabled, true},
    {L"FreezeEvents", standin::kFreezeEvents, kBoolean,
     opos::pidx::FreezeEvents, true},
    {L"AutoDisable", standin::kAutoDisable, kBoolean, opos::pidx::AutoDisable,
     true},
    {L"BinaryConversion", standin::kBinaryConversion, kNumber,
     opos::pidx::BinaryConversion, true},
    {L"Claimed", standin::kClaimed, kBoolean, opos::pidx::Claimed, false},
    {L"DataCount", standin::kDataCount, kNumber, opos::pidx::DataCount, false},
    {L"ResultCode", standin::kResultCode, kNumber, opos::pidx::ResultCode,
     false},
    {L"State", standin::kState, kNumber, opos::pidx::State, false},
    {L"ResultCodeExtended", standin::kResultCodeExtended, kNumber,
     opos::pidx::ResultCodeExtended, false},
    {L"ServiceObjectVersion", standin::kServiceObjectVersion, kNumber,
     opos::pidx::ServiceObjectVersion, false},
    {L"DeviceDescription", standin::kDeviceDescription, kText,
     opos::pidx::DeviceDescription, false},
    {L"DeviceName", standin::kDeviceName, kText, opos::pidx::DeviceName, false},
    {L"ServiceObjectDescription", standin::kServiceObjectDescription, kText,
     opos::pidx::ServiceObjectDescription, false},
    {L"CheckHealthText", standin::kCheckHealthText, kText,
     opos::pidx::CheckHealthText, false},
    {L"DecodeData", standin::kDecodeData, kBoolean, opos::pidx::DecodeData,
     true},
    {L"ScanData", standin::kScanData, kText, opos::pidx::ScanData, false},
    {L"ScanDataLabel", standin::kScanDataLabel, kText,
     opos::pidx::ScanDataLabel, false},
    {L"ScanDataType", standin::kScanDataType, kNumber, opos::pidx::ScanDataType,
     false},
    {L"ClaimDevice", standin::kClaimDevice, kMethod, 0, false},
    {L"ReleaseDevice", standin::kReleaseDevice, kMethod, 0, false},
    {L"CheckHealth", standin::kCheckHealth, kMethod, 0, false},
    {L"Close", standin::kClose, kMethod, 0, false},
    {L"DirectIO", standin::kDirectIO, kMethod, 0, false},
    {L"Open", standin::kOpen, kMethod, 0, false},
    {L"ClearInput", standin::kClearInput, kMethod, 0, false},
    {L"ClearOutput", standin::kClearOutput, kMethod, 0, false},
    {L"COFreezeEvents", standin::kCOFreezeEvents, kMethod, 0, false},
    {L"GetPropertyNumber", standin::kGetPropertyNumber, kMethod, 0, false},
    {L"SetPropertyNumber", standin::kSetPropertyNumber, kMethod, 0, false},
    {L"GetPropertyString", standin::kGetPropertyString, kMethod, 0, false},
    {L"SetPropertyString", standin::kSetPropertyString, kMethod, 0, false},
    {L"TakeCallbackLog", standin::kTakeCallbackLog, kMethod, 0, false},
    {L"SOData", standin::kSOData, kCallback, 0, false},
    {L"SODirectIO", standin::kSODirectIO, kCallback, 0, false},
    {L"SOError", standin::kSOError, kCallback, 0, false},
    {L"SOOutputComplete", standin::kSOOutputComplete, kCallback, 0, false},
    {L"SOStatusUpdate", standin::kSOStatusUpdate, kCallback, 0, false},
};

const MemberInfo* FindMember(DISPID id) {
  for (const MemberInfo& member : kMembers) {
    if (member.id == id) return &member;
  }
  return nullptr;
}

constexpr UINT kEventMessage = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"StandInOposScannerEvents";
// A DirectIO event waits this long for the creating thread.
constexpr UINT kSendTimeoutMs = 2000;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam) {
  if (message == kEventMessage) {
    auto* control = reinterpret_cast<ScannerControl*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
    auto* event = reinterpret_cast<ScannerControl::Event*>(lparam);
    if (control != nullptr) control->Raise(*event);
    if (wparam == 0) delete event;  // posted events belong to the window
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND CreateEventWindow(ScannerControl* control) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = EventWindowProc;
  windowClass.hInstance = standinModule;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0,
                                HWND_MESSAGE, nullptr, standinModule, nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
  return window;
}

VARIANT TextVariant(BSTR text) {
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_BSTR;
  V_BSTR(&variant) = text;
  return variant;
}

// Enumerates the one connection point.
class PointEnumerator final : public IEnumConnectionPoints {
 public:
  explicit PointEnumerator(IConnectionPoint* point, ULONG next = 0)
      : point_(point), next_(next) {
    point_->AddRef();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) ||
        IsEqualIID(riid, IID_IEnumConnectionPoints)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG remaining = --references_;
    if (remaining == 0) {
      point_->Release();
      delete this;
    }
    return remaining;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points,
                                 ULONG* fetched) override {
    if (points == nullptr) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && next_ == 0) {
      points[0] = point_;
      point_->AddRef();
      next_ = given = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool skipped = next_ == 0 && count == 1;
    next_ = 1;
    return skipped ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new PointEnumerator(point_, next_);
    return S_OK;
  }

 private:
  IConnectionPoint* point_;
  ULONG next_;
  ULONG references_ = 1;
};

}  // namespace

// The control's class information: only the default event interface, as
// containers ask for it. With STANDIN_WITHOUT_CLASS_INFO set the control
// does not offer it, as some controls do not, and a client must find the
// connection point by enumerating.
class ScannerControl::ClassInfo final : public IProvideClassInfo2 {
 public:
  explicit ClassInfo(ScannerControl& owner) : owner_(owner) {}
  static bool Offered() {
    return GetEnvironmentVariableA("STANDIN_WITHOUT_CLASS_INFO", nullptr, 0) ==
           0;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    return owner_.QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID_OPOSScannerEvents;
    return S_OK;
  }

 private:
  ScannerControl& owner_;
};

// The control's one connection point, for the event interface.
class ScannerControl::Connection final : public IConnectionPointContainer,
                                         public IConnectionPoint {
 public:
  explicit Connection(ScannerControl& owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (IsEqualIID(riid, IID_IConnectionPoint)) {
      *object = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    return owner_.QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE
  EnumConnectionPoints(IEnumConnectionPoints** points) override {
    if (points == nullptr) return E_POINTER;
    *points = new PointEnumerator(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, DIID_OPOSScannerEvents) &&
        !IsEqualIID(riid, IID_IDispatch)) {
      return CONNECT_E_NOCONNECTION;
    }
    *point = this;
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID_OPOSScannerEvents;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (container == nullptr) return E_POINTER;
    *container = this;
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(DIID_OPOSScannerEvents,
                                    reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch,
                                    reinterpret_cast<void**>(&dispatch)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = owner_.Advise(dispatch);
    dispatch->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    owner_.Unadvise(cookie);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** e) override {
    if (e) *e = nullptr;
    return E_NOTIMPL;
  }

 private:
  ScannerControl& owner_;
};

ScannerControl::ScannerControl()
    : connection_(new Connection(*this)),
      classInfo_(new ClassInfo(*this)),
      creatorThread_(GetCurrentThreadId()),
      window_(CreateEventWindow(this)) {
  StandInObjectCreated();
}

ScannerControl::~ScannerControl() {
  if (service_ != nullptr) CloseService();
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  for (const auto& connection : sinks_) connection.second->Release();
  delete connection_;
  delete classInfo_;
  StandInObjectDestroyed();
}

HRESULT ScannerControl::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
  } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
    *object = static_cast<IConnectionPointContainer*>(connection_);
  } else if ((IsEqualIID(riid, IID_IProvideClassInfo2) ||
              IsEqualIID(riid, IID_IProvideClassInfo)) &&
             ClassInfo::Offered()) {
    *object = static_cast<IProvideClassInfo2*>(classInfo_);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ScannerControl::AddRef() { return ++references_; }

ULONG ScannerControl::Release() {
  const ULONG remaining = --references_;
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT ScannerControl::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ScannerControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ScannerControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                      DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (const MemberInfo& member : kMembers) {
      if (i == 0 && com::SameName(names[i], member.name)) ids[i] = member.id;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT ScannerControl::Invoke(DISPID id, REFIID, LCID, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                               UINT* argError) {
  const MemberInfo* member = FindMember(id);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (member->kind == kCallback) return Callback(id, params);
  // A control object that fails every call, for its clients' tests.
  if (GetEnvironmentVariableA("STANDIN_FAIL_EVERY_CALL", nullptr, 0) != 0) {
    return E_FAIL;
  }
  return Member(id, flags, params, result, argError);
}

HRESULT ScannerControl::CallService(int method,
                                    std::initializer_list<VARIANT> args,
                                    VARIANT* result) {
  if (service_ == nullptr) return E_UNEXPECTED;
  return com::Call(service_, serviceIds_[method], DISPATCH_METHOD, args,
                   result);
}

long ScannerControl::ServiceLong(int method,
                                 std::initializer_list<VARIANT> args) {
  if (service_ == nullptr) return lastResult_ = 101;  // OPOS_E_CLOSED
  VARIANT result;
  VariantInit(&result);
  if (FAILED(CallService(method, args, &result))) return 111;
  return com::TakeLong(result);
}

long ScannerControl::Open(const std::string& deviceName) {
  if (service_ != nullptr) return 106;  // already open
  const std::string path =
      "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\" + deviceName;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return opos::kNoExist;
  }
  char progID[256] = {};
  DWORD size = sizeof progID - 1;
  const LONG status = RegQueryValueExA(key, "", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(progID), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return opos::kNoExist;

  CLSID clsid;
  const std::wstring wideProgID(progID, progID + strlen(progID));
  if (FAILED(CLSIDFromProgID(wideProgID.c_str(), &clsid))) {
    return opos::kNoService;
  }
  IDispatch* service = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IDispatch,
                              reinterpret_cast<void**>(&service)))) {
    return opos::kNoService;
  }
  for (int i = 0; i < 13; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(kServiceNames[i]);
    if (FAILED(service->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT,
                                      &serviceIds_[i]))) {
      service->Release();
      return opos::kNoService;
    }
  }
  service_ = service;
  BSTR deviceClass = SysAllocString(L"Scanner");
  BSTR name = com::ToBstr(deviceName);
  VARIANT self;
  VariantInit(&self);
  V_VT(&self) = VT_DISPATCH;
  V_DISPATCH(&self) = this;
  const long result = ServiceLong(
      kOpenServiceSO, {TextVariant(deviceClass), TextVariant(name), self});
  SysFreeString(deviceClass);
  SysFreeString(name);
  if (result != 0) {
    service_->Release();
    service_ = nullptr;
  }
  return result;
}

// With STANDIN_CLOSE_PUMPS_MS set, Close first dispatches the calling
// thread's messages for that long, as a control object does whose Close
// waits for a thread of its own.
void ScannerControl::PumpBeforeClose() {
  char value[16] = {};
  if (GetEnvironmentVariableA("STANDIN_CLOSE_PUMPS_MS", value, sizeof value) ==
      0) {
    return;
  }
  const ULONGLONG end = GetTickCount64() + strtoul(value, nullptr, 10);
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now),
                              QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {  // the caller's loop ends on it
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

long ScannerControl::CloseService() {
  const long result = ServiceLong(kCloseSO, {});
  service_->Release();
  service_ = nullptr;
  return result;
}

HRESULT ScannerControl::Member(DISPID id, WORD flags, DISPPARAMS* params,
                               VARIANT* result, UINT* argError) {
  const MemberInfo& member = *FindMember(id);
  com::Arguments args(params);
  HRESULT hr = S_OK;
  if (member.kind != kMethod) {
    if (flags & DISPATCH_PROPERTYPUT) {
      if (!member.settable) return DISP_E_MEMBERNOTFOUND;
      if (params == nullptr || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      DISPPARAMS value = {params->rgvarg, nullptr, 1, 0};
      com::Arguments putArgs(&value);
      long number = 0;
      hr = putArgs.Long(0, number);
      if (hr != S_OK) return hr;
      if (member.kind == kBoolean) number = number != 0 ? 1 : 0;
      ServiceLong(kSetPropertyNumberSO,
                  {com::LongVariant(member.index), com::LongVariant(number)});
      return S_OK;
    }
    if (result == nullptr) return S_OK;
    VariantInit(result);
    if (member.kind == kText) {
      if (service_ == nullptr) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(L"");
        return S_OK;
      }
      return CallService(kGetPropertyStringSO, {com::LongVariant(member.index)},
                         result);
    }
    long value = 0;
    if (service_ != nullptr) {
      value =
          ServiceLong(kGetPropertyNumberSO, {com::LongVariant(member.index)});
    } else if (id == standin::kState) {
      value = 1;
    } else if (id == standin::kResultCode) {
      value = lastResult_;
    }
    *result = member.kind == kBoolean ? com::BoolVariant(value != 0)
                                      : com::LongVariant(value);
    return S_OK;
  }

  long number = 0;
  long number2 = 0;
  std::string text;
  long answer = 0;
  switch (id) {
    case standin::kOpen:
      if ((hr = args.Expect(1)) != S_OK) return hr;
      if ((hr = args.String(0, text)) != S_OK) break;
      answer = Open(text);
      break;
    case standin::kClose:
      if ((hr = args.Expect(0)) != S_OK) return hr;
      PumpBeforeClose();
      answer = service_ ? CloseService() : 101;
      break;
    case standin::kClaimDevice:
    case standin::kCheckHealth:
    case standin::kCOFreezeEvents:
    case standin::kGetPropertyNumber:
      if ((hr = args.Expect(1)) != S_OK) return hr;
      if ((hr = args.Long(0, number)) != S_OK) break;
      answer =
          ServiceLong(id == standin::kClaimDevice      ? kClaimSO
                      : id == standin::kCheckHealth    ? kCheckHealthSO
                      : id == standin::kCOFreezeEvents ? kCOFreezeEventsSO
                                                       : kGetPropertyNumberSO,
                      {com::LongVariant(number)});
      break;
    case standin::kReleaseDevice:
    case standin::kClearInput:
    case standin::kClearOutput:
      if ((hr = args.Expect(0)) != S_OK) return hr;
      answer = ServiceLong(id == standin::kReleaseDevice ? kReleaseSO
                           : id == standin::kClearInput  ? kClearInputSO
                                                         : kClearOutputSO,
                           {});
      break;
    case standin::kDirectIO:
      // pData and pString go to the service object as the caller sent them.
      if ((hr = args.Expect(3)) != S_OK) return hr;
      if ((hr = args.Long(0, number)) != S_OK) break;
      answer = ServiceLong(kDirectIOSO, {com::LongVariant(number),
                                         params->rgvarg[1], params->rgvarg[0]});
      break;
    case standin::kSetPropertyNumber:
      if ((hr = args.Expect(2)) != S_OK) return hr;
      if ((hr = args.Long(0, number)) != S_OK) break;
      if ((hr = args.Long(1, number2)) != S_OK) break;
      ServiceLong(kSetPropertyNumberSO,
                  {com::LongVariant(number), com::LongVariant(number2)});
      return S_OK;
    case standin::kSetPropertyString: {
      if ((hr = args.Expect(2)) != S_OK) return hr;
      if ((hr = args.Long(0, number)) != S_OK) break;
      if ((hr = args.String(1, text)) != S_OK) break;
      BSTR value = com::ToBstr(text);
      ServiceLong(kSetPropertyStringSO,
                  {com::LongVariant(number), TextVariant(value)});
      SysFreeString(value);
      return S_OK;
    }
    case standin::kGetPropertyString:
      if ((hr = args.Expect(1)) != S_OK) return hr;
      if ((hr = args.Long(0, number)) != S_OK) break;
      if (result == nullptr) return S_OK;
      if (service_ == nullptr) {
        VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(L"");
        return S_OK;
      }
      return CallService(kGetPropertyStringSO, {com::LongVariant(number)},
                         result);
    case standin::kTakeCallbackLog: {
      if ((hr = args.Expect(0)) != S_OK) return hr;
      std::string log;
      {
        std::lock_guard<std::mutex> lock(logMutex_);
        log.swap(callbackLog_);
      }
      if (result) {
        VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = com::ToBstr(log);
      }
      return S_OK;
    }
  }
  if (hr != S_OK) {
    if (argError) *argError = args.ArgError();
    return hr;
  }
  lastResult_ = answer;
  if (result) *result = com::LongVariant(answer);
  return S_OK;
}

// A callback from the service object, on whichever thread it runs.
HRESULT ScannerControl::Callback(DISPID id, DISPPARAMS* params) {
  com::Arguments args(params);
  auto* event = new Event();
  event->id = id == standin::kSOData           ? standin::kDataEvent
              : id == standin::kSODirectIO     ? standin::kDirectIOEvent
              : id == standin::kSOStatusUpdate ? standin::kStatusUpdateEvent
              : id == standin::kSOError        ? standin::kErrorEvent
                                               : standin::kOutputCompleteEvent;
  if (id == standin::kSODirectIO) {
    HRESULT hr = args.Expect(3);
    if (hr == S_OK) hr = args.Long(0, event->number);
    if (hr == S_OK) hr = args.Long(1, event->data);
    if (hr == S_OK) hr = args.String(2, event->text);
    if (hr != S_OK) {
      delete event;
      return hr;
    }
    Log("SODirectIO " + std::to_string(event->number) + " " +
        std::to_string(event->data) + " [" + event->text + "]");
    Deliver(event, true);
    // The application may change pData and pString; the service object
    // sees the change.
    VARIANT* data = &params->rgvarg[1];
    VARIANT* text = &params->rgvarg[0];
    if (V_VT(data) == (VT_I4 | VT_BYREF) && V_I4REF(data)) {
      *V_I4REF(data) = event->data;
    }
    if (V_VT(text) == (VT_BSTR | VT_BYREF) && V_BSTRREF(text)) {
      SysFreeString(*V_BSTRREF(text));
      *V_BSTRREF(text) = com::ToBstr(event->text);
    }
    delete event;
    return S_OK;
  }
  if (params != nullptr && params->cArgs > 0) args.Long(0, event->number);
  std::string line = (id == standin::kSOData           ? "SOData "
                      : id == standin::kSOStatusUpdate ? "SOStatusUpdate "
                                                       : "SOError ") +
                     std::to_string(event->number);
  if (id == standin::kSOData) {
    // Reads the label from inside the callback, on the service object's
    // thread, as a control that keeps each event's data would.
    VARIANT data;
    VariantInit(&data);
    CallService(kGetPropertyStringSO, {com::LongVariant(opos::pidx::ScanData)},
                &data);
    const long type = ServiceLong(kGetPropertyNumberSO,
                                  {com::LongVariant(opos::pidx::ScanDataType)});
    line += " [" +
            com::ToAnsi(V_VT(&data) == VT_BSTR ? V_BSTR(&data) : nullptr) +
            "] " + std::to_string(type);
    VariantClear(&data);
  }
  Log(line);
  Deliver(event, false);
  return S_OK;
}

void ScannerControl::Log(const std::string& line) {
  const bool onCreator = GetCurrentThreadId() == creatorThread_;
  std::lock_guard<std::mutex> lock(logMutex_);
  callbackLog_ +=
      line + (onCreator ? " (creator thread)\n" : " (other thread)\n");
}

void ScannerControl::Deliver(Event* event, bool waitForIt) {
  if (GetCurrentThreadId() == creatorThread_) {
    Raise(*event);
    if (!waitForIt) delete event;
    return;
  }
  if (waitForIt) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window_, kEventMessage, 1,
                        reinterpret_cast<LPARAM>(event), SMTO_NORMAL,
                        kSendTimeoutMs, &ignored);
  } else if (!PostMessageW(window_, kEventMessage, 0,
                           reinterpret_cast<LPARAM>(event))) {
    delete event;
  }
}

DWORD ScannerControl::Advise(IDispatch* sink) {
  sink->AddRef();
  std::lock_guard<std::mutex> lock(sinksMutex_);
  sinks_.emplace_back(nextCookie_, sink);
  return nextCookie_++;
}

void ScannerControl::Unadvise(DWORD cookie) {
  std::lock_guard<std::mutex> lock(sinksMutex_);
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      it->second->Release();
      sinks_.erase(it);
      return;
    }
  }
}

void ScannerControl::Raise(Event& event) {
  std::vector<IDispatch*> sinks;
  {
    std::lock_guard<std::mutex> lock(sinksMutex_);
    for (const auto& connection : sinks_) sinks.push_back(connection.second);
  }
  for (IDispatch* sink : sinks) {
    if (event.id != standin::kDirectIOEvent) {
      com::Call(sink, event.id, DISPATCH_METHOD,
                {com::LongVariant(event.number)});
      continue;
    }
    com::CallWithReferences(sink, event.id, event.number, event.data,
                            event.text);
  }
}
