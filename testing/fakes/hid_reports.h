// Input reports of the USB scanner for tests: 65 bytes with the label's
// data from byte 5 and its trailer ending at byte L (byte 1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fakes {

inline std::vector<uint8_t> HidReport(const std::string& data,
                                      const std::vector<uint8_t>& trailer) {
  std::vector<uint8_t> report(65, 0);
  const size_t last = 5 + data.size() + trailer.size() - 1;
  report[1] = static_cast<uint8_t>(last);
  std::copy(data.begin(), data.end(), report.begin() + 5);
  std::copy(trailer.begin(), trailer.end(), report.begin() + 5 + data.size());
  return report;
}

// A UPC-A label with its one-byte trailer.
inline std::vector<uint8_t> UpcReport(const std::string& digits) {
  return HidReport(digits, {0x0D});
}

}  // namespace fakes
