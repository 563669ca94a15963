// Entry points of the stand-in control object's in-process server.
#include <windows.h>

#include <atomic>
#include <string>

#include "common/com/class_factory.h"
#include "common/registry/win32/win32_registry.h"
#include "testing/standin/control_object.h"
#include "testing/standin/standin.h"

HMODULE standinModule = nullptr;

namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

void LockServer(bool lock) { lock ? ++serverLocks : --serverLocks; }

com::ClassFactory<ScannerControl> factory(LockServer);

constexpr char kClsid[] = "{CCB90182-B81E-11D2-AB74-0040054C3719}";
constexpr char kProgID[] = "OPOS.Scanner";

void SetValue(reg::Registry& registry, const std::string& path,
              const std::string& name, const std::string& value) {
  reg::WriteText(registry, reg::Root::ClassesRoot, path, name, value);
}

}  // namespace

void StandInObjectCreated() { ++liveObjects; }
void StandInObjectDestroyed() { --liveObjects; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) standinModule = instance;
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid,
                                            void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_OPOSScanner)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(standinModule, path, MAX_PATH);
  reg::Win32Registry registry;
  const std::string clsidKey = std::string("CLSID\\") + kClsid;
  SetValue(registry, clsidKey, "", "OPOS Scanner Control (stand-in)");
  SetValue(registry, clsidKey + "\\InprocServer32", "", path);
  SetValue(registry, clsidKey + "\\InprocServer32", "ThreadingModel",
           "Apartment");
  SetValue(registry, clsidKey + "\\ProgID", "", kProgID);
  SetValue(registry, kProgID, "", "OPOS Scanner Control (stand-in)");
  SetValue(registry, std::string(kProgID) + "\\CLSID", "", kClsid);
  return S_OK;
}
