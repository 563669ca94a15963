#include "common/registry/win32/win32_registry.h"

#include <windows.h>

namespace reg {

namespace {

HKEY RootKey(Root root) {
  return root == Root::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

class Win32Key : public Key {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }

  QueryResult Query(const std::string& name, uint8_t* buffer,
                    uint32_t capacity) override {
    QueryResult result;
    DWORD type = REG_NONE;
    DWORD size = capacity;
    const LONG status =
        RegQueryValueExA(key_, name.c_str(), nullptr, &type, buffer, &size);
    result.type = type;
    result.size = size;
    if (status == ERROR_SUCCESS) {
      result.status = QueryResult::kOk;
    } else if (status == ERROR_MORE_DATA) {
      result.status = QueryResult::kTooLarge;
    }
    return result;
  }

  bool SetValue(const std::string& name, uint32_t type, const uint8_t* data,
                uint32_t size) override {
    return RegSetValueExA(key_, name.c_str(), 0, type, data, size) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY key_;
};

}  // namespace

std::unique_ptr<Key> Win32Registry::Open(Root root, const std::string& path,
                                         bool writable) {
  HKEY key = nullptr;
  const REGSAM access = writable ? KEY_READ | KEY_WRITE : KEY_QUERY_VALUE;
  if (RegOpenKeyExA(RootKey(root), path.c_str(), 0, access, &key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32Key>(key);
}

std::unique_ptr<Key> Win32Registry::Create(Root root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32Key>(key);
}

}  // namespace reg
