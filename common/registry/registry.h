// The registry as the driver set sees it: keys opened by path under a root,
// values read into a buffer of a given size, and written whole. The Win32
// implementation maps each call to one registry API call; tests use an
// in-memory registry with the same rules (names match without regard to case,
// data larger than the reader's buffer is not delivered). Failures are
// PlatformErrors carrying the registry's own error codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/platform_error.h"

namespace reg {

enum class Root { LocalMachine, ClassesRoot };

// Registry value types, numbered as the registry numbers them.
enum ValueType : uint32_t {
  kNone = 0,
  kString = 1,
  kBinary = 3,
  kDword = 4,
};

// What a query found: the value's size in bytes and its type.
struct ValueInfo {
  uint32_t size = 0;
  uint32_t type = kNone;
};

class Key {
 public:
  virtual ~Key() = default;

  // Copies the value's data into buffer. A missing value fails with
  // syserr::kFileNotFound; data larger than capacity with syserr::kMoreData,
  // as the registry reports them, and the buffer's content is then
  // unspecified.
  virtual PlatformError Query(const std::string& name, uint8_t* buffer,
                              uint32_t capacity, ValueInfo& info) = 0;

  // Writes the value whole; an empty name is the key's default value.
  virtual PlatformError SetValue(const std::string& name, uint32_t type,
                                 const uint8_t* data, uint32_t size) = 0;

  // The name of subkey `index`, read into `nameCapacity` bytes;
  // syserr::kNoMoreItems after the last. A longer name fails with
  // syserr::kMoreData.
  virtual PlatformError EnumKey(uint32_t index, uint32_t nameCapacity,
                                std::string& name) = 0;
  // Value `index`: its name (into `nameCapacity` bytes, an empty name being
  // the default value) and its data; syserr::kNoMoreItems after the last.
  virtual PlatformError EnumValue(uint32_t index, uint32_t nameCapacity,
                                  std::string& name, uint8_t* data,
                                  uint32_t dataCapacity, ValueInfo& info) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens an existing key, with the access asked for.
  virtual PlatformError Open(Root root, const std::string& path, bool writable,
                             std::unique_ptr<Key>& key) = 0;

  // Opens the key, creating it and the keys above it when missing.
  virtual PlatformError Create(Root root, const std::string& path,
                               std::unique_ptr<Key>& key) = 0;

  // Deletes a key that has no subkeys; one with subkeys is refused.
  virtual PlatformError DeleteKey(Root root, const std::string& path) = 0;
};

// Opens the key, creating it when missing, and writes a REG_SZ value with
// its terminating NUL, as COM registrations are written.
PlatformError WriteText(Registry& registry, Root root, const std::string& path,
                        const std::string& name, const std::string& text);

}  // namespace reg
