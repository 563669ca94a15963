// The stand-in OPOS Scanner control object: it opens the service object
// named by a device entry, forwards the application's calls to it, and
// turns the service object's callbacks into events raised on the thread
// that created the control, as the standard control does.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class ScannerControl final : public IDispatch {
 public:
  ScannerControl();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names,
                                          UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid,
                                   WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

  // Events, raised on the creating thread. A connection is known by its
  // cookie, a number: a pointer would not fit it on 64-bit Windows.
  DWORD Advise(IDispatch* sink);
  void Unadvise(DWORD cookie);
  // One event on its way to the creating thread.
  struct Event {
    DISPID id = 0;
    long number = 0;
    long data = 0;
    std::string text;
  };
  void Raise(Event& event);

 private:
  class Connection;
  class ClassInfo;
  ~ScannerControl();

  long Open(const std::string& deviceName);
  void PumpBeforeClose();
  long CloseService();
  HRESULT CallService(int method, std::initializer_list<VARIANT> args,
                      VARIANT* result);
  long ServiceLong(int method, std::initializer_list<VARIANT> args);
  HRESULT Member(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 UINT* argError);
  HRESULT Callback(DISPID id, DISPPARAMS* params);
  void Deliver(Event* event, bool waitForIt);
  void Log(const std::string& line);

  std::atomic<ULONG> references_{1};
  Connection* connection_;
  ClassInfo* classInfo_;
  DWORD creatorThread_;
  HWND window_;
  IDispatch* service_ = nullptr;
  DISPID serviceIds_[13] = {};
  long lastResult_ = 0;
  std::mutex logMutex_;
  std::string callbackLog_;
  std::mutex sinksMutex_;
  std::vector<std::pair<DWORD, IDispatch*>> sinks_;
  DWORD nextCookie_ = 1;
};
