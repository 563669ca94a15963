// A label frame: the bytes of one label as a receive path assembles it
// (optional time stamp, code letter or letters, label data), at most 128
// bytes and always followed by a NUL.
#pragma once

#include <cstdint>

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
