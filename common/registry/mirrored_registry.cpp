#include "common/registry/mirrored_registry.h"

namespace reg {

namespace {

// The primary's outcome, else the mirror's.
PlatformError Both(const PlatformError& primary, const PlatformError& mirror) {
  return primary.Failed() ? primary : mirror;
}

// A mirror whose key could not be had holds the error instead; each write
// then reports it, and still reaches the primary.
class MirroredKey : public Key {
 public:
  MirroredKey(std::unique_ptr<Key> primary, std::unique_ptr<Key> mirror,
              PlatformError mirrorError)
      : primary_(std::move(primary)),
        mirror_(std::move(mirror)),
        mirrorError_(mirrorError) {}

  PlatformError Query(const std::string& name, uint8_t* buffer,
                      uint32_t capacity, ValueInfo& info) override {
    return primary_->Query(name, buffer, capacity, info);
  }
  PlatformError SetValue(const std::string& name, uint32_t type,
                         const uint8_t* data, uint32_t size) override {
    const PlatformError primary = primary_->SetValue(name, type, data, size);
    if (!mirror_) return Both(primary, mirrorError_);
    return Both(primary, mirror_->SetValue(name, type, data, size));
  }
  PlatformError EnumKey(uint32_t index, uint32_t nameCapacity,
                        std::string& name) override {
    return primary_->EnumKey(index, nameCapacity, name);
  }
  PlatformError EnumValue(uint32_t index, uint32_t nameCapacity,
                          std::string& name, uint8_t* data,
                          uint32_t dataCapacity, ValueInfo& info) override {
    return primary_->EnumValue(index, nameCapacity, name, data, dataCapacity,
                               info);
  }

 private:
  std::unique_ptr<Key> primary_;
  std::unique_ptr<Key> mirror_;
  PlatformError mirrorError_;
};

}  // namespace

// The mirror's key is created: the primary's is there.
PlatformError MirroredRegistry::Mirrored(Root root, const std::string& path,
                                         std::unique_ptr<Key>& key) {
  std::unique_ptr<Key> mirror;
  const PlatformError error = mirror_.Create(root, path, mirror);
  key = std::make_unique<MirroredKey>(std::move(key), std::move(mirror), error);
  return {};
}

PlatformError MirroredRegistry::Open(Root root, const std::string& path,
                                     bool writable, std::unique_ptr<Key>& key) {
  const PlatformError error = primary_.Open(root, path, writable, key);
  if (error.Failed() || !writable) return error;
  return Mirrored(root, path, key);
}

PlatformError MirroredRegistry::Create(Root root, const std::string& path,
                                       std::unique_ptr<Key>& key) {
  const PlatformError error = primary_.Create(root, path, key);
  if (error.Failed()) return error;
  return Mirrored(root, path, key);
}

// The mirror's copy goes only with the primary's, so that a key the
// primary keeps (a subkey added by hand) stays in both. A key either never
// had is no failure.
PlatformError MirroredRegistry::DeleteKey(Root root, const std::string& path) {
  PlatformError primary = primary_.DeleteKey(root, path);
  if (primary.Is(syserr::kFileNotFound)) primary = {};
  if (primary.Failed()) return primary;
  PlatformError mirror = mirror_.DeleteKey(root, path);
  if (mirror.Is(syserr::kFileNotFound)) mirror = {};
  return mirror;
}

}  // namespace reg
