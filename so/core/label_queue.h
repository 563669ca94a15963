// Labels held back while data events are disabled or frozen: a first-in
// first-out ring of 300 raw frames, stored in fixed slots so that queueing
// never allocates.
#pragma once

#include <cstdint>
#include <cstring>

#include "so/core/label_frame.h"

class LabelQueue {
 public:
  static constexpr int kCapacity = 300;

  int Count() const { return count_; }

  // False, keeping nothing, when the queue is full.
  bool Push(const LabelFrame& frame) {
    if (count_ == kCapacity) return false;
    LabelFrame& slot = slots_[(head_ + count_) % kCapacity];
    std::memcpy(slot.FrameBuffer, frame.FrameBuffer, frame.FrameLength);
    slot.FrameLength = frame.FrameLength;
    slot.FrameBuffer[slot.FrameLength] = 0;
    ++count_;
    return true;
  }

  // Moves the oldest label into `out`; false when the queue is empty.
  bool Pop(LabelFrame& out) {
    if (count_ == 0) return false;
    const LabelFrame& slot = slots_[head_];
    std::memcpy(out.FrameBuffer, slot.FrameBuffer, slot.FrameLength + 1);
    out.FrameLength = slot.FrameLength;
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return true;
  }

  void Clear() {
    head_ = 0;
    count_ = 0;
  }

 private:
  LabelFrame slots_[kCapacity];
  int head_ = 0;
  int count_ = 0;
};
