// The HID platform on Linux: hidraw devices, found in sysfs.
#pragma once

#include <string>
#include <vector>

#include "common/hid/hid_device.h"

namespace hid {

class HidrawBus : public Bus {
 public:
  uint32_t Begin() override;
  Next Interface(uint32_t index, std::string& path, uint32_t& error) override;
  std::unique_ptr<Device> Open(const std::string& path,
                               uint32_t& error) override;
  bool Attributes(Device& device, uint16_t& vendor, uint16_t& product,
                  uint32_t& error) override;
  void End() override { names_.clear(); }

 private:
  std::vector<std::string> names_;  // hidraw0, hidraw1, ...
};

}  // namespace hid
