// The HID platform on Linux: hidraw devices, found in sysfs.
#pragma once

#include <string>
#include <vector>

#include "common/hid/hid_device.h"

namespace hid {

class HidrawBus : public Bus {
 public:
  PlatformError Begin() override;
  PlatformError Interface(uint32_t index, std::string& path) override;
  PlatformError Open(const std::string& path,
                     std::unique_ptr<Device>& device) override;
  PlatformError Attributes(Device& device, uint16_t& vendor,
                           uint16_t& product) override;
  void End() override { names_.clear(); }

 private:
  std::vector<std::string> names_;  // hidraw0, hidraw1, ...
};

}  // namespace hid
