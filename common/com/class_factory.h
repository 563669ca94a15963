// A class factory for one automation class of an in-process server. The
// factory lives as long as the library; server locks go to the library's
// own count.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace com {

template <typename Object>
class ClassFactory : public IClassFactory {
 public:
  explicit ClassFactory(void (*lockServer)(bool)) : lockServer_(lockServer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* created = new (std::nothrow) Object();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();  // the creation reference; *object holds its own
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lockServer_(lock != FALSE);
    return S_OK;
  }

 private:
  void (*lockServer_)(bool);
};

}  // namespace com
