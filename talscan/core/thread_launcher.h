// Starting the one receive thread and ending it within a bound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class RunningThread {
 public:
  virtual ~RunningThread() = default;
  // True when the thread has ended within the time given.
  virtual bool WaitForExit(uint32_t milliseconds) = 0;
  // Stops a thread that did not end in time.
  virtual void Terminate() = 0;
  // True when called on this thread itself.
  virtual bool IsCurrent() const = 0;
};

class ThreadLauncher {
 public:
  virtual ~ThreadLauncher() = default;
  // nullptr, with the system error, when the thread could not be started.
  virtual std::unique_ptr<RunningThread> Start(std::function<void()> body,
                                               uint32_t& error) = 0;
};
