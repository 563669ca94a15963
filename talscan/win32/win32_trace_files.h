// The trace's files on Windows: appends through a handle opened for each
// write with FILE_APPEND_DATA (so whole writes of two processes never mix),
// files moved aside with MoveFileEx, and a named mutex per file that one
// rotation at a time holds, in every session.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>

#include "talscan/core/trace_files.h"

class Win32TraceFiles : public TraceFiles {
 public:
  explicit Win32TraceFiles(HMODULE module) : module_(module) {}
  PlatformError CreateFolder(const std::string& folder) override;
  PlatformError Append(const std::string& path, const std::string& bytes,
                       uint64_t& size) override;
  uint64_t Size(const std::string& path) override;
  PlatformError Move(const std::string& from, const std::string& to) override;
  void LockRotation(const std::string& path) override;
  void UnlockRotation(const std::string& path) override;
  void Report(const std::string& text) override;
  std::string ProgramData() override;
  uint32_t CurrentThreadId() override;
  std::string ProcessDescription() override;
  std::string LibraryDescription() override;

 private:
  static std::string LockKey(const std::string& path);

  HMODULE module_;
  std::mutex locksMutex_;
  std::map<std::string, HANDLE> locks_;
};
