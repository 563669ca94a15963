// Starting the one receive thread and ending it within a bound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/platform/platform_error.h"

class RunningThread {
 public:
  virtual ~RunningThread() = default;
  // True when the thread has ended within the time given. Messages sent
  // to the calling thread and COM's calls into its apartment get through
  // while it waits, as the receive thread may be inside a callback that
  // waits for them; what was posted to it stays for its own loop.
  virtual bool WaitForExit(uint32_t milliseconds) = 0;
  // True while the thread runs; never waits.
  virtual bool IsRunning() const = 0;
  // Stops a thread that did not end in time.
  virtual void Terminate() = 0;
  // True when called on this thread itself.
  virtual bool IsCurrent() const = 0;
};

class ThreadLauncher {
 public:
  virtual ~ThreadLauncher() = default;
  // Starts the thread at once; `thread` is left empty when it could not
  // be started.
  virtual PlatformError Start(std::function<void()> body,
                              std::unique_ptr<RunningThread>& thread) = 0;
};
