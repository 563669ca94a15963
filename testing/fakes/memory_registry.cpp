#include "testing/fakes/memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace fakes {

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
      });
}

namespace {

class MemoryKey : public reg::Key {
 public:
  MemoryKey(MemoryRegistry& registry, std::string fullPath,
            MemoryRegistry::Values& values)
      : registry_(registry), fullPath_(std::move(fullPath)), values_(values) {}

  PlatformError Query(const std::string& name, uint8_t* buffer,
                      uint32_t capacity, reg::ValueInfo& info) override {
    auto it = values_.find(name);
    if (it == values_.end()) {
      return PlatformError::Of(syserr::kFileNotFound, "RegQueryValueEx");
    }
    info.type = it->second.type;
    info.size = static_cast<uint32_t>(it->second.data.size());
    if (info.size > capacity) {
      return PlatformError::Of(syserr::kMoreData, "RegQueryValueEx");
    }
    if (info.size > 0) std::memcpy(buffer, it->second.data.data(), info.size);
    return {};
  }

  PlatformError SetValue(const std::string& name, uint32_t type,
                         const uint8_t* data, uint32_t size) override {
    values_[name] = StoredValue{type, std::vector<uint8_t>(data, data + size)};
    return {};
  }

  PlatformError EnumKey(uint32_t index, uint32_t nameCapacity,
                        std::string& name) override {
    const std::vector<std::string> names = registry_.Subkeys(fullPath_);
    if (index >= names.size()) {
      return PlatformError::Of(syserr::kNoMoreItems, "RegEnumKeyEx");
    }
    if (names[index].size() >= nameCapacity) {
      return PlatformError::Of(syserr::kMoreData, "RegEnumKeyEx");
    }
    name = names[index];
    return {};
  }

  PlatformError EnumValue(uint32_t index, uint32_t nameCapacity,
                          std::string& name, uint8_t* data,
                          uint32_t dataCapacity,
                          reg::ValueInfo& info) override {
    if (index >= values_.size()) {
      return PlatformError::Of(syserr::kNoMoreItems, "RegEnumValue");
    }
    auto it = std::next(values_.begin(), index);
    if (it->first.size() >= nameCapacity) {
      return PlatformError::Of(syserr::kMoreData, "RegEnumValue");
    }
    name = it->first;
    info.type = it->second.type;
    info.size = static_cast<uint32_t>(it->second.data.size());
    if (info.size > dataCapacity) {
      return PlatformError::Of(syserr::kMoreData, "RegEnumValue");
    }
    if (info.size > 0) std::memcpy(data, it->second.data.data(), info.size);
    return {};
  }

 private:
  MemoryRegistry& registry_;
  const std::string fullPath_;
  MemoryRegistry::Values& values_;
};

}  // namespace

std::string MemoryRegistry::FullPath(reg::Root root,
                                     const std::string& path) const {
  return (root == reg::Root::LocalMachine ? "HKLM\\" : "HKCR\\") + path;
}

PlatformError MemoryRegistry::Open(reg::Root root, const std::string& path,
                                   bool /*writable*/,
                                   std::unique_ptr<reg::Key>& key) {
  const std::string full = FullPath(root, path);
  if (denied_.count(full) != 0) {
    return PlatformError::Of(syserr::kAccessDenied, "RegOpenKeyEx");
  }
  auto it = keys_.find(full);
  if (it == keys_.end()) {
    return PlatformError::Of(syserr::kFileNotFound, "RegOpenKeyEx");
  }
  key = std::make_unique<MemoryKey>(*this, full, it->second);
  return {};
}

MemoryRegistry::Values& MemoryRegistry::Ensure(reg::Root root,
                                               const std::string& path) {
  // Creating a key creates the keys above it.
  for (size_t pos = path.find('\\'); pos != std::string::npos;
       pos = path.find('\\', pos + 1)) {
    keys_[FullPath(root, path.substr(0, pos))];
  }
  return keys_[FullPath(root, path)];
}

PlatformError MemoryRegistry::Create(reg::Root root, const std::string& path,
                                     std::unique_ptr<reg::Key>& key) {
  if (path.empty()) {
    return PlatformError::Of(syserr::kInvalidHandle, "RegCreateKeyEx");
  }
  if (denied_.count(FullPath(root, path)) != 0) {
    return PlatformError::Of(syserr::kAccessDenied, "RegCreateKeyEx");
  }
  key = std::make_unique<MemoryKey>(*this, FullPath(root, path),
                                    Ensure(root, path));
  return {};
}

PlatformError MemoryRegistry::DeleteKey(reg::Root root,
                                        const std::string& path) {
  const std::string full = FullPath(root, path);
  if (keys_.count(full) == 0) {
    return PlatformError::Of(syserr::kFileNotFound, "RegDeleteKey");
  }
  if (!Subkeys(full).empty() || denied_.count(full) != 0) {
    return PlatformError::Of(syserr::kAccessDenied, "RegDeleteKey");
  }
  keys_.erase(full);
  return {};
}

std::vector<std::string> MemoryRegistry::Subkeys(
    const std::string& fullPath) const {
  const std::string prefix = fullPath + "\\";
  std::vector<std::string> names;
  for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
    const std::string& path = it->first;
    if (path.size() <= prefix.size() ||
        NoCaseLess()(path.substr(0, prefix.size()), prefix) ||
        NoCaseLess()(prefix, path.substr(0, prefix.size()))) {
      break;
    }
    const std::string rest = path.substr(prefix.size());
    if (rest.find('\\') == std::string::npos) names.push_back(rest);
  }
  return names;
}

void MemoryRegistry::SetString(reg::Root root, const std::string& path,
                               const std::string& name, const std::string& text,
                               bool withNul) {
  std::vector<uint8_t> data(text.begin(), text.end());
  if (withNul) data.push_back(0);
  Ensure(root, path)[name] = StoredValue{reg::kString, data};
}

void MemoryRegistry::SetDword(reg::Root root, const std::string& path,
                              const std::string& name, uint32_t value) {
  std::vector<uint8_t> data(4);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  Ensure(root, path)[name] = StoredValue{reg::kDword, data};
}

void MemoryRegistry::SetBinary(reg::Root root, const std::string& path,
                               const std::string& name,
                               const std::vector<uint8_t>& data) {
  Ensure(root, path)[name] = StoredValue{reg::kBinary, data};
}

bool MemoryRegistry::HasKey(reg::Root root, const std::string& path) const {
  return keys_.count(FullPath(root, path)) != 0;
}

const StoredValue* MemoryRegistry::Find(reg::Root root, const std::string& path,
                                        const std::string& name) const {
  auto key = keys_.find(FullPath(root, path));
  if (key == keys_.end()) return nullptr;
  auto value = key->second.find(name);
  return value == key->second.end() ? nullptr : &value->second;
}

std::string MemoryRegistry::Text(reg::Root root, const std::string& path,
                                 const std::string& name) const {
  const StoredValue* value = Find(root, path, name);
  if (value == nullptr) return {};
  auto end = std::find(value->data.begin(), value->data.end(), 0);
  return std::string(value->data.begin(), end);
}

std::vector<std::string> MemoryRegistry::Keys(reg::Root root) const {
  const std::string prefix = FullPath(root, "");
  std::vector<std::string> result;
  for (const auto& [path, values] : keys_) {
    if (path.compare(0, prefix.size(), prefix) == 0) {
      result.push_back(path.substr(prefix.size()));
    }
  }
  return result;
}

}  // namespace fakes
