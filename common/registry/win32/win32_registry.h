// The Windows registry behind reg::Registry.
#pragma once

#include "common/registry/registry.h"

namespace reg {

class Win32Registry : public Registry {
 public:
  PlatformError Open(Root root, const std::string& path, bool writable,
                     std::unique_ptr<Key>& key) override;
  PlatformError Create(Root root, const std::string& path,
                       std::unique_ptr<Key>& key) override;
  PlatformError DeleteKey(Root root, const std::string& path) override;
};

}  // namespace reg
