#include "common/hid/hid_search.h"

#include <string>

namespace hid {

std::unique_ptr<Device> FindScanner(Bus& bus, SearchReporter& reporter,
                                    uint32_t& error) {
  error = bus.Begin();
  if (error != 0) return nullptr;
  std::unique_ptr<Device> found;
  for (uint32_t index = 0;; ++index) {
    std::string path;
    const Bus::Next next = bus.Interface(index, path, error);
    if (next == Bus::Next::kEnd) {
      error = kErrorNoMoreItems;
      break;
    }
    if (next == Bus::Next::kFailed) break;
    uint32_t openError = 0;
    std::unique_ptr<Device> device = bus.Open(path, openError);
    if (!device) {
      reporter.OpenFailed(openError);
      continue;
    }
    uint16_t vendor = 0;
    uint16_t product = 0;
    if (!bus.Attributes(*device, vendor, product, error)) {
      reporter.AttributesFailed();
      device->Close();
      break;
    }
    if (vendor == kScannerVendor && product == kScannerProduct) {
      found = std::move(device);
      error = 0;
      break;
    }
    device->Close();
  }
  bus.End();
  return found;
}

}  // namespace hid
