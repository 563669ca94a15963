// Turning a label frame into the three OPOS scan properties.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "talscan/core/label_frame.h"

struct ScanDataSettings {
  long CompatibilityMode = 0;
  long BinaryConversion = 0;
  bool DecodeData = false;
};

struct ScanResult {
  long ScanDataType = 0;
  std::string ScanData;
  std::string ScanDataLabel;
};

// Longest ScanData a label can give: the decimal conversion triples every
// byte of the longest label. The properties are sized for it so that no
// converted label is ever cut.
constexpr size_t kMaxScanDataLength = 3 * kMaxLabelLength;

// Fills result from the frame bytes. Reuses the result's string storage,
// so a result reserved to kMaxScanDataLength allocates nothing per label.
void BuildScanData(const uint8_t* frame, size_t length,
                   const ScanDataSettings& settings, ScanResult& result);
