// BuildScanData on any label a receive path can hand on (0 to
// kMaxLabelLength bytes: a fixed scanner's frame of at most 128, or a
// portable scanner's longer record), under every compatibility mode and
// binary conversion, with and without
// DecodeData. The three properties must stay inside the storage reserved
// for them and agree with each other and with the frame.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "talscan/core/label_frame.h"
#include "common/opos/opos.h"
#include "talscan/core/scan_data.h"

namespace {

// 5, -1 and the extremes stand for every value outside 0..4.
constexpr long kModes[] = {0, 1, 2, 3, 4, 5, -1, LONG_MIN, LONG_MAX};
constexpr long kConversions[] = {0, 1, 2, -1, 100, LONG_MIN};
// A time stamp: 'T' and twelve digits in front of the letters.
constexpr size_t kTimeStampLength = 13;
// Time stamp and the two letters of an EAN-8: the most a prefix can take.
constexpr size_t kLongestPrefix = kTimeStampLength + 2;

bool IsKnownType(long type) {
  switch (type) {
    case opos::sdt::Unknown:
    case opos::sdt::UPCA:
    case opos::sdt::UPCE:
    case opos::sdt::EAN8:
    case opos::sdt::EAN13:
    case opos::sdt::ITF:
    case opos::sdt::Codabar:
    case opos::sdt::Code39:
    case opos::sdt::Code93:
    case opos::sdt::Code128:
    case opos::sdt::UPCA_S:
    case opos::sdt::UPCE_S:
    case opos::sdt::EAN8_S:
    case opos::sdt::EAN13_S:
    case opos::sdt::Other:
      return true;
    default:
      return false;
  }
}

bool HasCodeIdentifier(long type) {
  return type >= opos::sdt::UPCA && type <= opos::sdt::Code128;
}

bool SameResult(const ScanResult& a, const ScanResult& b) {
  return a.ScanDataType == b.ScanDataType && a.ScanData == b.ScanData &&
         a.ScanDataLabel == b.ScanDataLabel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t length = std::min(size, static_cast<size_t>(kMaxLabelLength));
  // Exactly `length` bytes on the heap, so a read past the label is caught.
  std::unique_ptr<uint8_t[]> frame(new uint8_t[length]);
  std::copy(data, data + length, frame.get());
  const std::string frameText(reinterpret_cast<const char*>(data), length);

  // A result that held a longer, different label before: reusing its
  // storage must not leak anything into the next one.
  ScanResult reused;
  long decodedType = -1;
  std::string decodedLabel;
  bool haveDecoded = false;

  for (const long mode : kModes) {
    std::string modeBytes;  // ScanData before conversion, per mode
    bool haveModeBytes = false;
    for (const long conversion : kConversions) {
      ScanResult plain;  // DecodeData false
      BuildScanData(frame.get(), length, {mode, conversion, false}, plain);
      ScanResult decoded;
      BuildScanData(frame.get(), length, {mode, conversion, true}, decoded);

      reused.ScanData.assign(kMaxScanDataLength, 'x');
      reused.ScanDataLabel.assign(kMaxScanDataLength, 'y');
      reused.ScanDataType = 999;
      BuildScanData(frame.get(), length, {mode, conversion, true}, reused);
      FUZZ_CHECK(SameResult(reused, decoded),
                 "a reused result differs from a fresh one");

      FUZZ_CHECK(plain.ScanData.size() <= kMaxScanDataLength,
                 "ScanData longer than its reserved storage");
      FUZZ_CHECK(plain.ScanDataLabel.empty(),
                 "ScanDataLabel filled with DecodeData off");
      FUZZ_CHECK(plain.ScanDataType == opos::sdt::Unknown,
                 "ScanDataType set with DecodeData off");
      FUZZ_CHECK(decoded.ScanData == plain.ScanData,
                 "DecodeData changed ScanData");
      FUZZ_CHECK(EndsWith(decoded.ScanData, decoded.ScanDataLabel),
                 "ScanDataLabel is not the end of ScanData");
      FUZZ_CHECK(IsKnownType(decoded.ScanDataType), "unknown ScanDataType");

      std::string bytes;
      FUZZ_CHECK(Unconvert(plain.ScanData, conversion, bytes),
                 "ScanData is not a valid conversion");
      std::string labelBytes;
      FUZZ_CHECK(Unconvert(decoded.ScanDataLabel, conversion, labelBytes),
                 "ScanDataLabel does not start on a converted byte");

      // The conversion changes the form, never the bytes.
      if (haveModeBytes) {
        FUZZ_CHECK(bytes == modeBytes, "conversions disagree on the bytes");
      }
      modeBytes = bytes;
      haveModeBytes = true;

      // The label and its type do not depend on mode or conversion.
      if (haveDecoded) {
        FUZZ_CHECK(labelBytes == decodedLabel,
                   "the label depends on mode or conversion");
        FUZZ_CHECK(decoded.ScanDataType == decodedType,
                   "the type depends on mode or conversion");
      }
      decodedLabel = labelBytes;
      decodedType = decoded.ScanDataType;
      haveDecoded = true;

      FUZZ_CHECK(EndsWith(frameText, labelBytes),
                 "the label is not the end of the frame");
      const size_t removed = length - labelBytes.size();
      FUZZ_CHECK(removed <= kLongestPrefix, "the label lost data bytes");
      if (decoded.ScanDataType == opos::sdt::Unknown) {
        FUZZ_CHECK(removed == 0 || frameText[0] == 'T',
                   "a label of unknown type lost bytes other than a stamp");
      }

      // A stamp is carried in ScanData or replaced with the letters, and
      // changes neither the label nor its type. (Only one stamp is taken
      // off, so what follows it is compared only when it is not a 'T' too.)
      if (length >= kTimeStampLength && frame[0] == 'T' &&
          (length == kTimeStampLength || frame[kTimeStampLength] != 'T')) {
        ScanResult unstamped;
        BuildScanData(frame.get() + kTimeStampLength,
                      length - kTimeStampLength, {mode, conversion, true},
                      unstamped);
        FUZZ_CHECK(decoded.ScanDataLabel == unstamped.ScanDataLabel &&
                       decoded.ScanDataType == unstamped.ScanDataType,
                   "the time stamp changed the label or its type");
        ScanResult stamp;
        BuildScanData(frame.get(), kTimeStampLength, {mode, conversion, false},
                      stamp);
        FUZZ_CHECK(decoded.ScanData == unstamped.ScanData ||
                       decoded.ScanData == stamp.ScanData + unstamped.ScanData,
                   "ScanData of a stamped frame is not stamp and label");
      }

      if (mode < 1 || mode > 3 || !HasCodeIdentifier(decoded.ScanDataType)) {
        FUZZ_CHECK(bytes == frameText, "the frame was not kept as it came");
      } else {
        // One code identifier in place of the stamp and letters.
        FUZZ_CHECK(bytes.size() == labelBytes.size() + 1 &&
                       bytes.compare(1, std::string::npos, labelBytes) == 0,
                   "the code identifier is not one byte before the label");
        FUZZ_CHECK(removed >= 1, "a code identifier replaced no letter");
      }
    }
  }
  return 0;
}
