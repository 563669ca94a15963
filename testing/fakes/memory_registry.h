// An in-memory registry with the rules of the real one: key paths and
// value names match without regard to case, a key's parent must exist to
// open it, and data larger than the reader's buffer is reported, not cut.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/registry/registry.h"

namespace fakes {

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct StoredValue {
  uint32_t type = reg::kNone;
  std::vector<uint8_t> data;
};

class MemoryRegistry : public reg::Registry {
 public:
  using Values = std::map<std::string, StoredValue, NoCaseLess>;

  PlatformError Open(reg::Root root, const std::string& path, bool writable,
                     std::unique_ptr<reg::Key>& key) override;
  PlatformError Create(reg::Root root, const std::string& path,
                       std::unique_ptr<reg::Key>& key) override;
  PlatformError DeleteKey(reg::Root root, const std::string& path) override;
  // The names of the subkeys of a key, in the registry's order.
  std::vector<std::string> Subkeys(const std::string& fullPath) const;

  // Set-up and inspection for tests.
  void SetString(reg::Root root, const std::string& path,
                 const std::string& name, const std::string& text,
                 bool withNul = false);
  void SetDword(reg::Root root, const std::string& path,
                const std::string& name, uint32_t value);
  void SetBinary(reg::Root root, const std::string& path,
                 const std::string& name, const std::vector<uint8_t>& data);
  bool HasKey(reg::Root root, const std::string& path) const;
  // The stored value, or nullptr.
  const StoredValue* Find(reg::Root root, const std::string& path,
                          const std::string& name) const;
  // The value's data up to its first NUL, as text.
  std::string Text(reg::Root root, const std::string& path,
                   const std::string& name) const;
  // Every key path under a root, in sorted order.
  std::vector<std::string> Keys(reg::Root root) const;
  // Opening or creating the key fails, as for a key without access.
  void DenyOpen(reg::Root root, const std::string& path) {
    denied_.insert(FullPath(root, path));
  }

 private:
  Values& Ensure(reg::Root root, const std::string& path);
  std::string FullPath(reg::Root root, const std::string& path) const;

  std::map<std::string, Values, NoCaseLess> keys_;
  std::set<std::string, NoCaseLess> denied_;
};

}  // namespace fakes
