// The three in-process server entry points and the library's start-up.
#include <windows.h>

#include <string>

#include "common/com/class_factory.h"
#include "common/device_entry/entry_values.h"
#include "common/registry/win32/win32_registry.h"
#include "talscan/win32/module.h"
#include "talscan/win32/scanner_so.h"

namespace {

com::ClassFactory<ScannerSO> factory(module::Lock);

constexpr const char* kProgID = device_entry::kServiceProgID;
constexpr char kClsid[] = "{3C11BE62-5309-11D6-8E44-0050DAC580E1}";

void SetDefault(reg::Registry& registry, const std::string& path,
                const std::string& value) {
  reg::WriteText(registry, reg::Root::ClassesRoot, path, "", value);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    module::SetHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid,
                                            void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_ScannerSO)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return module::CanUnload() ? S_OK : S_FALSE;
}

// Writes the class registration with the library's full path; the result
// is S_OK whatever the registry calls return.
extern "C" HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(module::Handle(), path, MAX_PATH);
  reg::Win32Registry registry;
  const std::string clsidKey = std::string("CLSID\\") + kClsid;
  SetDefault(registry, kProgID, kProgID);
  SetDefault(registry, std::string(kProgID) + "\\CLSID", kClsid);
  SetDefault(registry, clsidKey, kProgID);
  SetDefault(registry, clsidKey + "\\ProgID", kProgID);
  SetDefault(registry, clsidKey + "\\InProcServer32", path);
  return S_OK;
}
