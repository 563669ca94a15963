// What the fuzz targets share: a check that stops the run with a message
// libFuzzer shows beside the input, and the inverse of BinaryConversion so
// converted properties can be compared with the bytes they came from.
#pragma once

#include <cstdio>
#include <string>

[[noreturn]] inline void FuzzFailure(const char* file, int line,
                                     const char* what) {
  std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, what);
  std::fflush(stderr);
  __builtin_trap();
}

// Not assert(): the fuzz builds are RelWithDebInfo, where NDEBUG is set.
#define FUZZ_CHECK(condition, what)                         \
  do {                                                      \
    if (!(condition)) FuzzFailure(__FILE__, __LINE__, what); \
  } while (0)

// The bytes `text` was converted from: two characters 0x30 + nibble per
// byte for conversion 1, three decimal digits per byte for every value but
// 0 and 1, the bytes themselves for 0. False when `text` is not something
// the conversion can produce.
inline bool Unconvert(const std::string& text, long conversion,
                      std::string& bytes) {
  bytes.clear();
  if (conversion == 0) {
    bytes = text;
    return true;
  }
  if (conversion == 1) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
      const unsigned high = static_cast<unsigned char>(text[i]) - 0x30u;
      const unsigned low = static_cast<unsigned char>(text[i + 1]) - 0x30u;
      if (high > 0x0F || low > 0x0F) return false;
      bytes.push_back(static_cast<char>(high << 4 | low));
    }
    return true;
  }
  if (text.size() % 3 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 3) {
    unsigned value = 0;
    for (size_t k = i; k < i + 3; ++k) {
      const unsigned digit = static_cast<unsigned char>(text[k]) - '0';
      if (digit > 9) return false;
      value = value * 10 + digit;
    }
    if (value > 255) return false;
    bytes.push_back(static_cast<char>(value));
  }
  return true;
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
