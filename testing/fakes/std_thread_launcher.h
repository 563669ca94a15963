// Receive threads for host tests, on std::thread. A thread that does not
// end in time cannot be killed portably: Terminate detaches it and counts.
// A test that reaches it unasked has found a hang; a test that asks for it
// (ExpireWaits) plays a handler that blocks past the bound. A test may
// also run work inside the next wait, as a message the waiting thread
// handles meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "talscan/core/thread_launcher.h"

namespace fakes {

class StdThreadLauncher : public ThreadLauncher {
 public:
  PlatformError Start(std::function<void()> body,
                      std::unique_ptr<RunningThread>& thread) override;

  void FailNextStart() { failNext_ = true; }
  // While set, every wait for a thread's end times out at once.
  void ExpireWaits(bool expire) { expireWaits_ = expire; }
  // Runs `work` on the waiting thread when the next wait begins.
  void DuringNextWait(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    duringWait_ = std::move(work);
  }
  int Started() const { return started_; }
  int Terminated() const { return terminated_; }
  // Threads whose body has returned, stopped by force or not.
  int Ended() const { return ended_; }

 private:
  class Thread;
  std::atomic<bool> failNext_{false};
  std::atomic<bool> expireWaits_{false};
  std::atomic<int> started_{0};
  std::atomic<int> terminated_{0};
  std::atomic<int> ended_{0};
  std::mutex mutex_;
  std::function<void()> duringWait_;

  void RunWorkDuringWait() {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work.swap(duringWait_);
    }
    if (work) work();
  }
};

class StdThreadLauncher::Thread : public RunningThread {
 public:
  Thread(std::function<void()> body, StdThreadLauncher& launcher)
      : done_(std::make_shared<Done>()), launcher_(launcher) {
    std::shared_ptr<Done> done = done_;
    std::atomic<int>* ended = &launcher.ended_;
    thread_ = std::thread([body = std::move(body), done, ended]() mutable {
      body();
      body = nullptr;  // what the body held goes before the end is told
      ++*ended;        // the last touch of the launcher
      std::lock_guard<std::mutex> lock(done->mutex);
      done->ended = true;
      done->changed.notify_all();
    });
  }
  ~Thread() override {
    if (thread_.joinable()) {
      if (IsCurrent()) {
        thread_.detach();
      } else {
        thread_.join();
      }
    }
  }
  bool WaitForExit(uint32_t milliseconds) override {
    launcher_.RunWorkDuringWait();
    if (launcher_.expireWaits_) return false;
    std::unique_lock<std::mutex> lock(done_->mutex);
    return done_->changed.wait_for(lock,
                                   std::chrono::milliseconds(milliseconds),
                                   [this] { return done_->ended; });
  }
  bool IsRunning() const override {
    std::lock_guard<std::mutex> lock(done_->mutex);
    return !done_->ended;
  }
  void Terminate() override {
    if (!thread_.joinable()) return;  // stopped already
    ++launcher_.terminated_;
    thread_.detach();
  }
  bool IsCurrent() const override {
    return thread_.get_id() == std::this_thread::get_id();
  }

 private:
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
  };
  std::shared_ptr<Done> done_;
  StdThreadLauncher& launcher_;
  std::thread thread_;
};

inline PlatformError StdThreadLauncher::Start(
    std::function<void()> body, std::unique_ptr<RunningThread>& thread) {
  // Not enough memory, as a failing thread start reports.
  if (failNext_.exchange(false)) {
    return PlatformError::Of(syserr::kNotEnoughMemory, "CreateThread");
  }
  ++started_;
  thread = std::make_unique<Thread>(std::move(body), *this);
  return {};
}

}  // namespace fakes
