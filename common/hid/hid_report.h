// Input reports of the USB scanner: 65 bytes, a report identifier, the
// index L of the last byte of the label's trailer at byte 1, the label data
// from byte 5, and a trailer that names the symbology with the code letter
// or letters the label decoding knows.
#pragma once

#include <cstdint>

namespace hid {

constexpr int kInputReportSize = 65;
constexpr int kOutputReportSize = 12;
// A report shorter than this carries no label.
constexpr int kMinimumReportSize = 64;
// Letters and data of the longest label a report can carry: two letters
// and the data bytes 5 to 63 before a one-byte trailer at byte 64.
constexpr int kMaxReportLabel = 2 + (kInputReportSize - 1 - 5);

// Which trailers count: the service object's, or with the two more that
// the JavaPOS bridge knows.
enum class Trailers { kServiceObject, kJavaPos };

// Writes the code letters and data of the report's label to `label` and
// returns their count; 0 when the report carries no label (too short, no
// known trailer, or L leaving no room for trailer and data inside the
// bytes read).
int DecodeReport(const uint8_t* report, int count, Trailers trailers,
                 uint8_t (&label)[kMaxReportLabel]);

}  // namespace hid
