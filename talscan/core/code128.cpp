#include "talscan/core/code128.h"

namespace {

enum CodeSet { kSetA, kSetB, kSetC };

constexpr uint8_t kFnc3 = 96;
constexpr uint8_t kFnc2 = 97;
constexpr uint8_t kShift = 98;
constexpr uint8_t kCodeC = 99;
constexpr uint8_t kCodeB = 100;  // FNC4 in set B
constexpr uint8_t kCodeA = 101;  // FNC4 in set A
constexpr uint8_t kFnc1 = 102;
constexpr uint8_t kStartA = 103;
constexpr uint8_t kStartC = 105;

// The text being written and its length.
struct Text {
  char (&chars)[kMaxCode128Text + 1];
  int length;
};

void Append(Text& text, char c) {
  if (text.length < kMaxCode128Text) text.chars[text.length++] = c;
}

// A data value of a code set; a value outside the set's data produces
// nothing.
void AppendData(Text& text, CodeSet set, uint8_t value) {
  switch (set) {
    case kSetA:
      if (value <= 63) Append(text, static_cast<char>(value + 0x20));
      else if (value <= 95) Append(text, static_cast<char>(value - 0x40));
      break;
    case kSetB:
      if (value <= 95) Append(text, static_cast<char>(value + 0x20));
      break;
    case kSetC:
      if (value <= 99) {
        Append(text, static_cast<char>('0' + value / 10));
        Append(text, static_cast<char>('0' + value % 10));
      }
      break;
  }
}

}  // namespace

int ExpandCode128(const uint8_t* values, int count,
                  char (&chars)[kMaxCode128Text + 1]) {
  Text text{chars, 0};
  chars[0] = 0;
  if (count <= 0 || values[0] < kStartA || values[0] > kStartC) return 0;
  CodeSet set = static_cast<CodeSet>(values[0] - kStartA);
  bool shifted = false;
  for (int i = 1; i < count; ++i) {
    const uint8_t value = values[i];
    // After a shift one value is read in the other of sets A and B.
    const CodeSet active =
        shifted ? (set == kSetA ? kSetB : kSetA) : set;
    shifted = false;
    if (active != kSetC && value == kShift) {
      shifted = true;
    } else if (active != kSetC && value == kCodeC) {
      set = kSetC;
    } else if (active != kSetB && value == kCodeB) {
      set = kSetB;
    } else if (active != kSetA && value == kCodeA) {
      set = kSetA;
    } else if (value == kFnc1 ||
               (active != kSetC && (value == kFnc3 || value == kFnc2 ||
                                    value == kCodeB || value == kCodeA))) {
      // Function values produce no text.
    } else {
      AppendData(text, active, value);
    }
  }
  chars[text.length] = 0;
  return text.length;
}
