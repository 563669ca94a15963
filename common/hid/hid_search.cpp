#include "common/hid/hid_search.h"

#include <string>

namespace hid {

PlatformError FindScanner(Bus& bus, SearchReporter& reporter,
                          std::unique_ptr<Device>& scanner) {
  PlatformError error = bus.Begin();
  if (error.Failed()) return error;
  for (uint32_t index = 0;; ++index) {
    std::string path;
    error = bus.Interface(index, path);
    if (error.Failed()) break;  // the end of the set, or a failure
    std::unique_ptr<Device> device;
    const PlatformError openError = bus.Open(path, device);
    if (openError.Failed()) {
      reporter.OpenFailed(openError);
      continue;
    }
    uint16_t vendor = 0;
    uint16_t product = 0;
    error = bus.Attributes(*device, vendor, product);
    if (error.Failed()) {
      reporter.AttributesFailed();
      device->Close();
      break;
    }
    if (vendor == kScannerVendor && product == kScannerProduct) {
      scanner = std::move(device);
      break;
    }
    device->Close();
  }
  bus.End();
  return error;
}

}  // namespace hid
