// The registry as the driver set sees it: keys opened by path under a root,
// values read into a buffer of a given size, and written whole. The Win32
// implementation maps each call to one registry API call; tests use an
// in-memory registry with the same rules (names match without regard to case,
// data larger than the reader's buffer is not delivered).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace reg {

enum class Root { LocalMachine, ClassesRoot };

// Registry value types, numbered as the registry numbers them.
enum ValueType : uint32_t {
  kNone = 0,
  kString = 1,
  kBinary = 3,
  kDword = 4,
};

struct QueryResult {
  enum Status { kOk, kMissing, kTooLarge };
  Status status = kMissing;
  uint32_t size = 0;  // bytes written to the buffer when kOk
  uint32_t type = kNone;

  bool ok() const { return status == kOk; }
};

class Key {
 public:
  virtual ~Key() = default;

  // Copies the value's data into buffer. Data larger than capacity is
  // reported as kTooLarge, as the registry reports it, and the buffer's
  // content is then unspecified.
  virtual QueryResult Query(const std::string& name, uint8_t* buffer,
                            uint32_t capacity) = 0;

  // Writes the value whole; an empty name is the key's default value.
  virtual bool SetValue(const std::string& name, uint32_t type,
                        const uint8_t* data, uint32_t size) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens an existing key; nullptr when it does not exist or cannot be
  // opened with the access asked for.
  virtual std::unique_ptr<Key> Open(Root root, const std::string& path,
                                    bool writable) = 0;

  // Opens the key, creating it and the keys above it when missing; nullptr
  // on failure.
  virtual std::unique_ptr<Key> Create(Root root, const std::string& path) = 0;
};

// Opens the key, creating it when missing, and writes a REG_SZ value with
// its terminating NUL, as COM registrations are written.
bool WriteText(Registry& registry, Root root, const std::string& path,
               const std::string& name, const std::string& text);

}  // namespace reg
