// ScannerSO: the automation object the control object creates. Its
// thirteen methods, by name (any letter case) and dispatch identifier 1 to
// 13, forward to the process's scanner service.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>

#include "talscan/core/event_sink.h"

// {3C11BE62-5309-11D6-8E44-0050DAC580E1}
extern const CLSID CLSID_ScannerSO;
// {3C11BE61-5309-11D6-8E44-0050DAC580E1}
extern const IID DIID_ScannerSO;

class ScannerSO final : public IDispatch {
 public:
  ScannerSO();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid,
                                        ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names,
                                          UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid,
                                   WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

 private:
  virtual ~ScannerSO();
  HRESULT Dispatch(DISPID id, DISPPARAMS* params, VARIANT* result,
                   UINT* argError);

  std::atomic<ULONG> references_{1};
  // Set when the control object lets go of this object: the callbacks of
  // the openings it made stop.
  const std::shared_ptr<std::atomic<bool>> released_;
  // The callbacks of this object's last successful opening.
  std::weak_ptr<EventSink> opened_;
};
