// HID input reports of any length and content, decoded as the service
// object and as the JavaPOS bridge decode them. The report lies in a
// buffer of exactly the bytes read, so a read past them is caught.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/hid/hid_report.h"
#include "fuzz/fuzz_check.h"

namespace {

bool KnownLetters(const std::string& letters) {
  static const char* const kLetters[] = {"F", "FF", "A", "E", "M", "D", "I",
                                         "N", "K", "L", "C", "RS", "RX"};
  for (const char* known : kLetters) {
    if (letters == known) return true;
  }
  return false;
}

void Check(const std::vector<uint8_t>& report, hid::Trailers trailers) {
  uint8_t label[hid::kMaxReportLabel];
  const int length = hid::DecodeReport(report.data(),
                                       static_cast<int>(report.size()),
                                       trailers, label);
  FUZZ_CHECK(length >= 0 && length <= hid::kMaxReportLabel, "label bound");
  if (report.size() < static_cast<size_t>(hid::kMinimumReportSize)) {
    FUZZ_CHECK(length == 0, "a short report carries no label");
  }
  if (length == 0) return;
  // One or two known letters, then the data from byte 5 on, unchanged.
  bool matches = false;
  for (int letters = 1; letters <= 2 && letters <= length; ++letters) {
    const int dataLength = length - letters;
    matches |=
        KnownLetters(std::string(reinterpret_cast<char*>(label), letters)) &&
        5 + dataLength < static_cast<int>(report.size()) &&
        std::memcmp(label + letters, report.data() + 5, dataLength) == 0;
  }
  FUZZ_CHECK(matches, "known letters followed by the report's data");
  if (trailers == hid::Trailers::kServiceObject) {
    FUZZ_CHECK(label[0] != 'R', "the bridge's letters stay the bridge's");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t count = data[0] % (hid::kInputReportSize + 1);
  std::vector<uint8_t> report(count);
  for (size_t i = 0; i < count; ++i) report[i] = i + 1 < size ? data[i + 1] : 0;
  Check(report, hid::Trailers::kServiceObject);
  Check(report, hid::Trailers::kJavaPos);

  // What the service object takes, the bridge takes the same way.
  uint8_t service[hid::kMaxReportLabel];
  uint8_t bridge[hid::kMaxReportLabel];
  const int serviceLength = hid::DecodeReport(
      report.data(), static_cast<int>(count), hid::Trailers::kServiceObject,
      service);
  const int bridgeLength = hid::DecodeReport(
      report.data(), static_cast<int>(count), hid::Trailers::kJavaPos, bridge);
  if (serviceLength > 0) {
    FUZZ_CHECK(serviceLength == bridgeLength &&
                   std::memcmp(service, bridge, serviceLength) == 0,
               "the bridge decodes every report the service object does");
  }
  return 0;
}
