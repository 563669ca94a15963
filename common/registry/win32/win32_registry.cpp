#include "common/registry/win32/win32_registry.h"

#include <windows.h>

#include <vector>

namespace reg {

namespace {

PlatformError Outcome(LONG status, const char* step) {
  return status == ERROR_SUCCESS
             ? PlatformError()
             : PlatformError::Of(static_cast<uint32_t>(status), step);
}

HKEY RootKey(Root root) {
  return root == Root::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

REGSAM ViewAccess(View view) {
  switch (view) {
    case View::k32Bit: return KEY_WOW64_32KEY;
    case View::k64Bit: return KEY_WOW64_64KEY;
    case View::kOwn: break;
  }
  return 0;
}

class Win32Key : public Key {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }

  PlatformError Query(const std::string& name, uint8_t* buffer,
                      uint32_t capacity, ValueInfo& info) override {
    DWORD type = REG_NONE;
    DWORD size = capacity;
    const LONG status =
        RegQueryValueExA(key_, name.c_str(), nullptr, &type, buffer, &size);
    info.type = type;
    info.size = size;
    return Outcome(status, "RegQueryValueEx");
  }

  PlatformError SetValue(const std::string& name, uint32_t type,
                         const uint8_t* data, uint32_t size) override {
    return Outcome(RegSetValueExA(key_, name.c_str(), 0, type, data, size),
                   "RegSetValueEx");
  }

  PlatformError EnumKey(uint32_t index, uint32_t nameCapacity,
                        std::string& name) override {
    std::vector<char> buffer(nameCapacity + 1, 0);
    DWORD length = nameCapacity;
    const LONG status = RegEnumKeyExA(key_, index, buffer.data(), &length,
                                      nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) name.assign(buffer.data(), length);
    return Outcome(status, "RegEnumKeyEx");
  }

  PlatformError EnumValue(uint32_t index, uint32_t nameCapacity,
                          std::string& name, uint8_t* data,
                          uint32_t dataCapacity, ValueInfo& info) override {
    std::vector<char> buffer(nameCapacity + 1, 0);
    DWORD length = nameCapacity;
    DWORD type = REG_NONE;
    DWORD size = dataCapacity;
    const LONG status = RegEnumValueA(key_, index, buffer.data(), &length,
                                      nullptr, &type, data, &size);
    if (status == ERROR_SUCCESS) name.assign(buffer.data(), length);
    info.type = type;
    info.size = size;
    return Outcome(status, "RegEnumValue");
  }

 private:
  HKEY key_;
};

}  // namespace

PlatformError Win32Registry::Open(Root root, const std::string& path,
                                  bool writable, std::unique_ptr<Key>& key) {
  HKEY opened = nullptr;
  // Reading asks for values and the subkeys' names, nothing more.
  const REGSAM access = (writable ? KEY_READ | KEY_WRITE
                                  : KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS) |
                        ViewAccess(view_);
  const PlatformError error =
      Outcome(RegOpenKeyExA(RootKey(root), path.c_str(), 0, access, &opened),
              "RegOpenKeyEx");
  if (!error.Failed()) key = std::make_unique<Win32Key>(opened);
  return error;
}

PlatformError Win32Registry::DeleteKey(Root root, const std::string& path) {
  return Outcome(
      RegDeleteKeyExA(RootKey(root), path.c_str(), ViewAccess(view_), 0),
      "RegDeleteKeyEx");
}

PlatformError Win32Registry::Create(Root root, const std::string& path,
                                    std::unique_ptr<Key>& key) {
  HKEY created = nullptr;
  const PlatformError error =
      Outcome(RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE | ViewAccess(view_),
                              nullptr, &created, nullptr),
              "RegCreateKeyEx");
  if (!error.Failed()) key = std::make_unique<Win32Key>(created);
  return error;
}

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace reg
