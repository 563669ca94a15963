// A client of its own architecture for the package tests: creates an
// in-process server by ProgID and tells whether the library loaded for it
// is the one expected.
//   inproc_server_check <ProgID> <library path>
// Exit code 0: created from that library; 1: created from another; 2: not
// created.
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  CoInitialize(nullptr);
  const std::wstring progID(argv[1], argv[1] + std::strlen(argv[1]));
  CLSID clsid;
  IUnknown* object = nullptr;
  int result = 2;
  if (SUCCEEDED(CLSIDFromProgID(progID.c_str(), &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IUnknown,
                                 reinterpret_cast<void**>(&object)))) {
    result = GetModuleHandleA(argv[2]) != nullptr ? 0 : 1;
    object->Release();
  }
  CoUninitialize();
  return result;
}
