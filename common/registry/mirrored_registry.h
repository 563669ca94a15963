// A registry written in two places and read in one: on 64-bit Windows the
// configuration program, a 32-bit program, keeps the device entries of the
// 32-bit and the 64-bit view the same. Reads, enumeration and read-only
// opens act on the primary; every write and every delete goes to both. A
// key opened for writing that the mirror lacks is created there, so that
// an entry written before there was a mirror comes into line at its next
// write. The primary's outcome is the call's; the mirror's failures are
// reported by the writes and deletes, when the primary's succeeded. A key
// is deleted from the mirror only when the primary's delete succeeded.
#pragma once

#include "common/registry/registry.h"

namespace reg {

class MirroredRegistry : public Registry {
 public:
  MirroredRegistry(Registry& primary, Registry& mirror)
      : primary_(primary), mirror_(mirror) {}

  PlatformError Open(Root root, const std::string& path, bool writable,
                     std::unique_ptr<Key>& key) override;
  PlatformError Create(Root root, const std::string& path,
                       std::unique_ptr<Key>& key) override;
  PlatformError DeleteKey(Root root, const std::string& path) override;

 private:
  PlatformError Mirrored(Root root, const std::string& path,
                         std::unique_ptr<Key>& key);

  Registry& primary_;
  Registry& mirror_;
};

}  // namespace reg
