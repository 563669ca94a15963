#include "talscan/core/scan_data.h"

#include <algorithm>
#include <string_view>

#include "common/opos/opos.h"

namespace {

constexpr size_t kTimeStampLength = 13;

struct CodeLetter {
  long type;
  size_t prefixLength;
};

// `length` counts the code letters and the data: the thresholds are set for
// a label without a time stamp, and a stamp must not turn a plain UPC-A
// into one with a supplement.
CodeLetter DecodeCodeLetter(const uint8_t* letters, size_t length) {
  const uint8_t first = length > 0 ? letters[0] : 0;
  switch (first) {
    case 'A':
      return {length <= 14 ? opos::sdt::UPCA : opos::sdt::UPCA_S, 1};
    case 'E':
      return {length <= 10 ? opos::sdt::UPCE : opos::sdt::UPCE_S, 1};
    case 'F':
      if (length > 1 && letters[1] == 'F') {
        return {length <= 11 ? opos::sdt::EAN8 : opos::sdt::EAN8_S, 2};
      }
      return {length <= 15 ? opos::sdt::EAN13 : opos::sdt::EAN13_S, 1};
    case 'I':
      return {opos::sdt::ITF, 1};
    case 'N':
      return {opos::sdt::Codabar, 1};
    case 'M':
      return {opos::sdt::Code39, 1};
    case 'L':
      return {opos::sdt::Code93, 1};
    case 'K':
      return {opos::sdt::Code128, 1};
    case 'G':
    case 'H':
    case 'P':
      return {opos::sdt::Other, 1};
    default:
      return {opos::sdt::Unknown, 0};
  }
}

// Code-identifier prefixes of modes 1 to 3 for the types 101 to 110.
constexpr const char* kCodeIdTable[3][10] = {
    // METROLOGIC
    {"c", "d", "g", "h", " ", "e", "a", "b", "i", "j"},
    // BEETLE
    {"A", "C", "B", "A", "H", "I", "N", "M", "L", "K"},
    // SYMBOL
    {"A", "A", "A", "A", "G", "F", "C", "B", "E", "D"},
};

// Modes 1 to 3 replace the native letters of the types 101 to 110; every
// other mode ("KVX" included) and every other type keep the letters as
// they came, since no other code identifiers are defined for them.
const char* CodeIdPrefix(long mode, long type) {
  if (mode < 1 || mode > 3) return nullptr;
  if (type < opos::sdt::UPCA || type > opos::sdt::Code128) return nullptr;
  return kCodeIdTable[mode - 1][type - opos::sdt::UPCA];
}

void AppendConverted(const uint8_t* bytes, size_t count, long conversion,
                     std::string& out) {
  for (size_t i = 0; i < count; ++i) {
    const unsigned value = bytes[i];
    if (conversion == 0) {
      out.push_back(static_cast<char>(value));
    } else if (conversion == 1) {
      out.push_back(static_cast<char>(0x30 + (value >> 4)));
      out.push_back(static_cast<char>(0x30 + (value & 0x0F)));
    } else {
      out.push_back(static_cast<char>('0' + value / 100));
      out.push_back(static_cast<char>('0' + value / 10 % 10));
      out.push_back(static_cast<char>('0' + value % 10));
    }
  }
}

}  // namespace

void BuildScanData(const uint8_t* frame, size_t length,
                   const ScanDataSettings& settings, ScanResult& result) {
  const size_t offset =
      length > 0 && frame[0] == 'T' ? std::min(kTimeStampLength, length) : 0;
  const CodeLetter code = DecodeCodeLetter(frame + offset, length - offset);
  const size_t prefixLength = std::min(offset + code.prefixLength, length);
  const uint8_t* label = frame + prefixLength;
  const size_t labelLength = length - prefixLength;

  result.ScanData.clear();
  if (const char* codeId = CodeIdPrefix(settings.CompatibilityMode, code.type)) {
    const std::string_view id(codeId);
    AppendConverted(reinterpret_cast<const uint8_t*>(id.data()), id.size(),
                    settings.BinaryConversion, result.ScanData);
  } else {
    AppendConverted(frame, prefixLength, settings.BinaryConversion,
                    result.ScanData);
  }
  const size_t prefixEnd = result.ScanData.size();
  AppendConverted(label, labelLength, settings.BinaryConversion,
                  result.ScanData);

  if (settings.DecodeData) {
    result.ScanDataLabel.assign(result.ScanData, prefixEnd);
    result.ScanDataType = code.type;
  } else {
    result.ScanDataLabel.clear();
    result.ScanDataType = opos::sdt::Unknown;
  }
}
