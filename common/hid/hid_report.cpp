#include "common/hid/hid_report.h"

#include <cstring>

namespace hid {

namespace {

constexpr int kDataStart = 5;

struct Trailer {
  uint8_t code;
  const char* letters;
};

// One-byte trailers, tested first on byte L alone.
constexpr Trailer kOneByte[] = {
    {0x16, "F"}, {0x0C, "FF"}, {0x0D, "A"}, {0x0A, "E"},
};

// Three-byte trailers 0x00, S, 0x0B: the symbology byte S.
constexpr Trailer kThreeByte[] = {
    {0x0A, "M"}, {0x0C, "D"},  {0x0D, "I"}, {0x0E, "N"},  {0x11, "A"},
    {0x12, "E"}, {0x13, "F"},  {0x14, "E"}, {0x15, "F"},  {0x16, "A"},
    {0x17, "FF"}, {0x18, "K"}, {0x19, "L"}, {0x1D, "FF"}, {0x25, "C"},
};

// Known only to the JavaPOS bridge, whose Java side reads the letters.
constexpr Trailer kJavaPosThreeByte[] = {{0x2A, "RS"}, {0x2B, "RX"}};

template <size_t N>
const char* Find(const Trailer (&table)[N], uint8_t code) {
  for (const Trailer& trailer : table) {
    if (trailer.code == code) return trailer.letters;
  }
  return nullptr;
}

int Compose(const char* letters, const uint8_t* data, int dataCount,
            uint8_t (&label)[kMaxReportLabel]) {
  const int letterCount = static_cast<int>(std::strlen(letters));
  std::memcpy(label, letters, static_cast<size_t>(letterCount));
  std::memcpy(label + letterCount, data, static_cast<size_t>(dataCount));
  return letterCount + dataCount;
}

}  // namespace

int DecodeReport(const uint8_t* report, int count, Trailers trailers,
                 uint8_t (&label)[kMaxReportLabel]) {
  if (count < kMinimumReportSize) return 0;
  const int last = report[1];
  // Byte L and everything before it must lie inside what was read.
  if (last >= count || last >= kInputReportSize) return 0;

  if (last >= kDataStart) {
    if (const char* letters = Find(kOneByte, report[last])) {
      return Compose(letters, report + kDataStart, last - kDataStart, label);
    }
  }
  if (last >= kDataStart + 2 && report[last - 2] == 0x00 &&
      report[last] == 0x0B) {
    const uint8_t symbology = report[last - 1];
    const char* letters = Find(kThreeByte, symbology);
    if (letters == nullptr && trailers == Trailers::kJavaPos) {
      letters = Find(kJavaPosThreeByte, symbology);
    }
    if (letters != nullptr) {
      return Compose(letters, report + kDataStart, last - 2 - kDataStart,
                     label);
    }
  }
  return 0;
}

}  // namespace hid
