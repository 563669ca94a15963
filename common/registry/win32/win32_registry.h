// The Windows registry behind reg::Registry, in the calling program's own
// view or, on 64-bit Windows, in the 32-bit or the 64-bit view.
#pragma once

#include "common/registry/registry.h"

namespace reg {

enum class View { kOwn, k32Bit, k64Bit };

class Win32Registry : public Registry {
 public:
  explicit Win32Registry(View view = View::kOwn) : view_(view) {}

  PlatformError Open(Root root, const std::string& path, bool writable,
                     std::unique_ptr<Key>& key) override;
  PlatformError Create(Root root, const std::string& path,
                       std::unique_ptr<Key>& key) override;
  PlatformError DeleteKey(Root root, const std::string& path) override;

 private:
  const View view_;
};

// True when this program is a 32-bit one on 64-bit Windows, whose own view
// of the registry is the 32-bit one.
bool RunsUnderWow64();

}  // namespace reg
