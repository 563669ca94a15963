// Trace files in memory: folders, files and their contents, moves, and
// failures a test asks for; the writer's thread is 7, the process and
// library are a till's.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "talscan/core/trace_files.h"

namespace fakes {

class MemoryTraceFiles : public TraceFiles {
 public:
  PlatformError CreateFolder(const std::string& folder) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folderError != 0) return PlatformError::Of(folderError, "CreateDirectory");
    folders_.insert(folder);
    return {};
  }
  PlatformError Append(const std::string& path, const std::string& bytes,
                       uint64_t& size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appendError != 0) return PlatformError::Of(appendError, "WriteFile");
    std::string& file = files_[path];
    file += bytes;
    size = file.size();
    ++appends_;
    return {};
  }
  uint64_t Size(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(path);
    return found == files_.end() ? 0 : found->second.size();
  }
  PlatformError Move(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(from);
    if (found == files_.end()) return PlatformError::Of(2, "MoveFileEx");
    files_[to] = found->second;
    files_.erase(from);
    return {};
  }
  void LockRotation(const std::string&) override { ++locks_; }
  void UnlockRotation(const std::string&) override { --locks_; }
  std::string ProgramData() override { return "C:\\ProgramData"; }
  uint32_t CurrentThreadId() override { return 7; }
  std::string ProcessDescription() override {
    return "process C:\\Till\\pos.exe, id 4242";
  }
  std::string LibraryDescription() override {
    return "TALSCAN.dll 1.9.1.0, 32-bit";
  }

  // The files there are, by path, and what they hold.
  std::map<std::string, std::string> Files() {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_;
  }
  std::string File(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(path);
    return found == files_.end() ? "" : found->second;
  }
  int Appends() const { return appends_; }
  int LocksHeld() const { return locks_; }

  uint32_t folderError = 0;  // non-zero: CreateFolder fails with it
  uint32_t appendError = 0;  // non-zero: Append fails with it

 private:
  std::mutex mutex_;
  std::set<std::string> folders_;
  std::map<std::string, std::string> files_;
  int appends_ = 0;
  int locks_ = 0;
};

}  // namespace fakes
