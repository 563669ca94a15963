// ExpandCode128 on any symbol values and counts. The first input bytes
// choose the count; the rest are the values. The values lie in a buffer of
// exactly `count` bytes, so a read past them is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "talscan/core/code128.h"

namespace {

constexpr uint8_t kStartA = 103;
constexpr uint8_t kStartC = 105;
constexpr uint8_t kCodeB = 100;
constexpr uint8_t kCodeA = 101;

std::string Expand(const uint8_t* values, int count) {
  char text[kMaxCode128Text + 1];
  const int length = ExpandCode128(values, count, text);
  FUZZ_CHECK(length >= 0 && length <= kMaxCode128Text,
             "text longer than its bound");
  FUZZ_CHECK(text[length] == 0, "no NUL after the text");
  return std::string(text, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t options = data[0];
  const uint8_t countByte = data[1];
  const uint8_t* input = data + 2;
  const int available = static_cast<int>(std::min<size_t>(size - 2, 4096));

  int count = available;
  switch (options & 3) {
    case 0: break;                                        // every value
    case 1: count = countByte % (available + 1); break;   // fewer
    case 2: count = 0; break;
    case 3: count = -1 - countByte; break;                // negative
  }
  const size_t bufferSize = count > 0 ? static_cast<size_t>(count) : 0;
  std::unique_ptr<uint8_t[]> values(new uint8_t[bufferSize]);
  std::copy(input, input + bufferSize, values.get());

  const std::string expanded = Expand(values.get(), count);

  const bool started = count > 0 && values[0] >= kStartA &&
                       values[0] <= kStartC;
  if (!started) {
    FUZZ_CHECK(expanded.empty(), "text without a start code");
  } else {
    // No value gives more than two characters; the start code gives none.
    FUZZ_CHECK(expanded.size() <= 2 * static_cast<size_t>(count - 1),
               "more text than the values can encode");
  }
  for (const char c : expanded) {
    // Function values, FNC4 included, produce no text: only ASCII comes out.
    FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80, "a character above 0x7F");
  }
  if (started && values[0] == kStartC &&
      std::none_of(values.get() + 1, values.get() + count,
                   [](uint8_t v) { return v == kCodeA || v == kCodeB; })) {
    // Never leaving code set C: digit pairs only, the last one possibly cut
    // by the bound.
    FUZZ_CHECK(std::all_of(expanded.begin(), expanded.end(),
                           [](char c) { return c >= '0' && c <= '9'; }),
               "code set C gave a character other than a digit");
    FUZZ_CHECK(expanded.size() % 2 == 0 ||
                   expanded.size() == static_cast<size_t>(kMaxCode128Text),
               "code set C gave half a pair");
  }
  return 0;
}

