// What the trace needs of the system: a folder to make, lines appended to
// a file in one write, files moved aside, a lock that one rotation at a
// time holds across processes, and who is writing. Failures are
// PlatformErrors.
#pragma once

#include <cstdint>
#include <string>

#include "common/platform/platform_error.h"

class TraceFiles {
 public:
  virtual ~TraceFiles() = default;

  // Makes the folder and the folders above it that are missing.
  virtual PlatformError CreateFolder(const std::string& folder) = 0;
  // Appends the bytes at the end of the file (made if missing) in one
  // write, so that another process's lines never land inside them; gives
  // the file's size after it.
  virtual PlatformError Append(const std::string& path,
                               const std::string& bytes, uint64_t& size) = 0;
  // 0 for a file that is not there.
  virtual uint64_t Size(const std::string& path) = 0;
  // Replaces `to` if it is there.
  virtual PlatformError Move(const std::string& from,
                             const std::string& to) = 0;
  // Held by one process at a time for the file's path.
  virtual void LockRotation(const std::string& path) = 0;
  virtual void UnlockRotation(const std::string& path) = 0;

  // Tells the system that a trace stopped, where an engineer looks when
  // the file is missing (the event log); never waits.
  virtual void Report(const std::string& text) = 0;

  // The system's folder for data of all users (%ProgramData%).
  virtual std::string ProgramData() = 0;
  virtual uint32_t CurrentThreadId() = 0;
  // The header's second and third lines: the process's program and id,
  // the library's version and architecture.
  virtual std::string ProcessDescription() = 0;
  virtual std::string LibraryDescription() = 0;
};
