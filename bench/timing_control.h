// A control object for benchmarks: it notes when the service object's
// callbacks arrive, and can ask for the next label from inside SOData.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

class TimingControl : public IDispatch {
 public:
  enum Callback { kData = 1, kStatusUpdate = 2, kOther = 3 };

  TimingControl() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TimingControl() { CloseHandle(arrived_); }

  // The service object to re-enable data events on after each label.
  void ReenableOn(IDispatch* service) { service_ = service; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT,
                                          LCID, DISPID* ids) override {
    *ids = lstrcmpiW(names[0], L"SOData") == 0           ? kData
           : lstrcmpiW(names[0], L"SOStatusUpdate") == 0 ? kStatusUpdate
                                                         : kOther;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD,
                                   DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (id == kData) {
      lastData_ = now.QuadPart;
      ++dataEvents_;
      if (service_ != nullptr) SetDataEventEnabled();
    } else if (id == kStatusUpdate && params && params->cArgs == 1) {
      lastStatus_ = V_I4(&params->rgvarg[0]);
      lastStatusTime_ = now.QuadPart;
    }
    SetEvent(arrived_);
    return S_OK;
  }

  bool WaitForCallback(DWORD timeoutMs) {
    return WaitForSingleObject(arrived_, timeoutMs) == WAIT_OBJECT_0;
  }
  LONGLONG LastData() const { return lastData_; }
  long DataEvents() const { return dataEvents_; }
  long LastStatus() const { return lastStatus_; }
  LONGLONG LastStatusTime() const { return lastStatusTime_; }

 private:
  void SetDataEventEnabled() {
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = 1;  // Number
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 2;  // DataEventEnabled
    DISPPARAMS call = {args, nullptr, 2, 0};
    service_->Invoke(11, IID_NULL, 0, DISPATCH_METHOD, &call, nullptr,
                     nullptr, nullptr);
  }

  HANDLE arrived_;
  IDispatch* service_ = nullptr;
  std::atomic<LONGLONG> lastData_{0};
  std::atomic<long> dataEvents_{0};
  std::atomic<long> lastStatus_{0};
  std::atomic<LONGLONG> lastStatusTime_{0};
};
