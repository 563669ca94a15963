// Finding the USB scanner among the present HID interfaces by its vendor
// and product identifiers.
#pragma once

#include <cstdint>
#include <memory>

#include "common/hid/hid_device.h"

namespace hid {

constexpr uint16_t kScannerVendor = 0x0000;
constexpr uint16_t kScannerProduct = 0x000A;

// How the callers tell about a failing candidate: the service object shows
// a message box, the JavaPOS bridge prints.
class SearchReporter {
 public:
  virtual ~SearchReporter() = default;
  virtual void OpenFailed(const PlatformError& error) = 0;
  virtual void AttributesFailed() = 0;
};

// Opens the scanner into `scanner`, or fails with the error that ended the
// search (syserr::kNoMoreItems when no interface was the scanner). An
// interface that cannot be opened is passed over; one whose attributes
// cannot be read ends the search.
PlatformError FindScanner(Bus& bus, SearchReporter& reporter,
                          std::unique_ptr<Device>& scanner);

}  // namespace hid
