// Receive threads for host tests, on std::thread. A thread that does not
// end in time cannot be killed portably: Terminate detaches it and counts,
// and a test that reaches it has found a hang.
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
  std::unique_ptr<RunningThread> Start(std::function<void()> body,
                                       uint32_t& error) override;

  void FailNextStart() { failNext_ = true; }
  int Started() const { return started_; }
  int Terminated() const { return terminated_; }

 private:
  class Thread;
  std::atomic<bool> failNext_{false};
  std::atomic<int> started_{0};
  std::atomic<int> terminated_{0};
};

class StdThreadLauncher::Thread : public RunningThread {
 public:
  Thread(std::function<void()> body, std::atomic<int>& terminated)
      : done_(std::make_shared<Done>()), terminated_(terminated) {
    std::shared_ptr<Done> done = done_;
    thread_ = std::thread([body = std::move(body), done] {
      body();
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
    std::unique_lock<std::mutex> lock(done_->mutex);
    return done_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [this] { return done_->ended; });
  }
  bool IsRunning() const override {
    std::lock_guard<std::mutex> lock(done_->mutex);
    return !done_->ended;
  }
  void Terminate() override {
    ++terminated_;
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
  std::atomic<int>& terminated_;
  std::thread thread_;
};

inline std::unique_ptr<RunningThread> StdThreadLauncher::Start(
    std::function<void()> body, uint32_t& error) {
  if (failNext_.exchange(false)) {
    error = 8;  // not enough memory, as a failing thread start reports
    return nullptr;
  }
  ++started_;
  return std::make_unique<Thread>(std::move(body), terminated_);
}

}  // namespace fakes
