// Trace files in memory: files and their contents, moves, what was
// reported to the system, and failures a test asks for; the writer's
// thread is 7, the process and library are a till's.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "talscan/core/trace_files.h"

namespace fakes {

class MemoryTraceFiles : public TraceFiles {
 public:
  PlatformError CreateFolder(const std::string&) override {
    if (folderError != 0) return PlatformError::Of(folderError, "CreateDirectory");
    return {};
  }
  PlatformError Append(const std::string& path, const std::string& bytes,
                       uint64_t& size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appendError != 0) return PlatformError::Of(appendError, "WriteFile");
    std::string& file = files_[path];
    file += bytes;
    size = file.size();
    return {};
  }
  uint64_t Size(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(path);
    return found == files_.end() ? 0 : found->second.size();
  }
  PlatformError Move(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (moveError != 0) return PlatformError::Of(moveError, "MoveFileEx");
    const auto found = files_.find(from);
    if (found == files_.end()) return PlatformError::Of(2, "MoveFileEx");
    files_[to] = found->second;
    files_.erase(from);
    return {};
  }
  void Report(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(text);
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
  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  int LocksHeld() const { return locks_; }

  uint32_t folderError = 0;  // non-zero: CreateFolder fails with it
  uint32_t appendError = 0;  // non-zero: Append fails with it
  uint32_t moveError = 0;    // non-zero: Move fails with it

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> reports_;
  int locks_ = 0;
};

}  // namespace fakes
