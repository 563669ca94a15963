// The Windows registry behind reg::Registry.
#pragma once

#include "common/registry/registry.h"

namespace reg {

class Win32Registry : public Registry {
 public:
  std::unique_ptr<Key> Open(Root root, const std::string& path,
                            bool writable) override;
  std::unique_ptr<Key> Create(Root root, const std::string& path) override;
};

}  // namespace reg
