#include "common/registry/registry.h"

namespace reg {

PlatformError WriteText(Registry& registry, Root root, const std::string& path,
                        const std::string& name, const std::string& text) {
  std::unique_ptr<Key> key;
  const PlatformError error = registry.Create(root, path, key);
  if (error.Failed()) return error;
  return key->SetValue(name, kString,
                       reinterpret_cast<const uint8_t*>(text.c_str()),
                       static_cast<uint32_t>(text.size() + 1));
}

}  // namespace reg
