// ExpandCode128 on any symbol values and counts, with and without text
// already in the string. The first input byte chooses the count and the
// text in front; the rest are the values. The values lie in a buffer of
// exactly `count` bytes, so a read past them is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "so/core/code128.h"

namespace {

// Text already in the string: none, short, and lengths around the bound.
constexpr size_t kPrefixLengths[] = {0, 0, 3, 128, 254, 255, 256, 400};

constexpr uint8_t kStartA = 103;
constexpr uint8_t kStartC = 105;
constexpr uint8_t kCodeB = 100;
constexpr uint8_t kCodeA = 101;

std::string Expand(const uint8_t* values, int count, std::string text) {
  ExpandCode128(values, count, text);
  return text;
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

  const std::string expanded = Expand(values.get(), count, std::string());
  FUZZ_CHECK(expanded.size() <= kMaxCode128Text, "text longer than its bound");

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
                   expanded.size() == kMaxCode128Text,
               "code set C gave half a pair");
  }

  // Text already in the string is kept, and what follows it is the same
  // expansion, cut short at most.
  const size_t prefixLength = kPrefixLengths[(options >> 2) & 7];
  std::string prefix;
  for (size_t i = 0; i < prefixLength; ++i) {
    prefix.push_back(static_cast<char>('a' + i % 26));
  }
  const std::string text = Expand(values.get(), count, prefix);
  FUZZ_CHECK(text.size() >= prefix.size() &&
                 text.compare(0, prefix.size(), prefix) == 0,
             "the text in front was changed");
  const std::string appended = text.substr(prefix.size());
  FUZZ_CHECK(appended.size() <= kMaxCode128Text,
             "more appended than the bound");
  FUZZ_CHECK(expanded.compare(0, appended.size(), appended) == 0,
             "the appended text differs from the expansion");
  return 0;
}
