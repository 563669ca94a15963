// Labels held back while data events are disabled or frozen: a first-in
// first-out ring of 300 raw labels, stored in fixed slots so that queueing
// never allocates.
#pragma once

#include <cstdint>

#include "talscan/core/label_frame.h"

class LabelQueue {
 public:
  static constexpr int kCapacity = 300;

  int Count() const { return count_; }

  // False, keeping nothing, when the queue is full.
  bool Push(const uint8_t* bytes, int length) {
    if (count_ == kCapacity) return false;
    slots_[(head_ + count_) % kCapacity].Assign(bytes, length);
    ++count_;
    return true;
  }

  // Copies the oldest label into `out` and removes it; false when the
  // queue is empty.
  bool Pop(Label& out) {
    if (count_ == 0) return false;
    out = slots_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return true;
  }

  void Clear() {
    head_ = 0;
    count_ = 0;
  }

 private:
  Label slots_[kCapacity];
  int head_ = 0;
  int count_ = 0;
};
