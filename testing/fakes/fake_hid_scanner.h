// A USB scanner that is present or absent, and records output reports.
#pragma once

#include <array>
#include <mutex>
#include <vector>

#include "so/core/hid_scanner.h"
#include "so/core/system_errors.h"

namespace fakes {

class FakeHidScanner : public HidScanner {
 public:
  bool IsOpen() const override { return open_; }
  uint32_t Open() override {
    if (!present_) return syserr::kNoMoreItems;
    open_ = true;
    ++opens_;
    return 0;
  }
  void Close() override { open_ = false; }
  uint32_t WriteReport(
      const uint8_t (&report)[kHidOutputReportSize]) override {
    if (!open_) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.emplace_back();
    std::copy(report, report + kHidOutputReportSize, reports_.back().begin());
    return writeError_;
  }

  void SetPresent(bool present) { present_ = present; }
  void FailWrites(uint32_t error) { writeError_ = error; }
  int Opens() const { return opens_; }
  std::vector<std::array<uint8_t, kHidOutputReportSize>> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  std::mutex mutex_;
  bool present_ = false;
  bool open_ = false;
  int opens_ = 0;
  uint32_t writeError_ = 0;
  std::vector<std::array<uint8_t, kHidOutputReportSize>> reports_;
};

}  // namespace fakes
