// A label frame: the bytes of one label as a receive path assembles it
// (optional time stamp, code letter or letters, label data), at most 128
// bytes and always followed by a NUL.
#pragma once

#include <cstdint>
#include <cstring>

struct LabelFrame {
  static constexpr int kCapacity = 128;

  uint8_t FrameBuffer[kCapacity + 1] = {};
  int FrameLength = 0;

  // False, changing nothing, when the frame already holds 128 bytes.
  bool AppendFrameByte(uint8_t byte) {
    if (FrameLength >= kCapacity) return false;
    FrameBuffer[FrameLength++] = byte;
    FrameBuffer[FrameLength] = 0;
    return true;
  }

  void ResetFrame() {
    FrameBuffer[0] = 0;
    FrameLength = 0;
  }
};

// The longest label a receive path hands on: a portable scanner's record
// with its 13-character time stamp, its code letter and the text of a
// Code 128 symbol, which can be longer than a frame.
constexpr int kMaxLabelLength = 13 + 1 + 255;

// A finished label as it is delivered or waits in the queue.
struct Label {
  uint8_t Bytes[kMaxLabelLength + 1] = {};
  int Length = 0;

  void Assign(const uint8_t* bytes, int length) {
    Length = length < kMaxLabelLength ? length : kMaxLabelLength;
    std::memcpy(Bytes, bytes, static_cast<size_t>(Length));
    Bytes[Length] = 0;
  }
};
