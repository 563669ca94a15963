// Records every message box instead of showing it; a test may act when a
// box appears, as a user would before pressing OK.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "talscan/core/notifier.h"

namespace fakes {

struct ShownBox {
  std::string caption;
  std::string text;
};

class RecordingNotifier : public Notifier {
 public:
  void ShowWarning(const std::string& caption,
                   const std::string& text) override {
    std::function<void()> onShow;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back({caption, text});
      onShow = onShow_;
    }
    if (onShow) onShow();
  }
  std::string SystemErrorText(uint32_t error) override {
    return "System text of error " + std::to_string(error) + ".\r\n";
  }
  std::string ApplicationName() override { return "TALSCAN"; }

  std::vector<ShownBox> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  void OnShow(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    onShow_ = std::move(action);
  }

 private:
  std::mutex mutex_;
  std::vector<ShownBox> boxes_;
  std::function<void()> onShow_;
};

}  // namespace fakes
