// The HID platform on Windows: SetupAPI for the present HID interfaces, the
// HID class driver for attributes, and two handles per device.
#pragma once

#include "common/hid/hid_device.h"

namespace hid {

class Win32Bus : public Bus {
 public:
  ~Win32Bus() override;
  PlatformError Begin() override;
  PlatformError Interface(uint32_t index, std::string& path) override;
  PlatformError Open(const std::string& path,
                     std::unique_ptr<Device>& device) override;
  PlatformError Attributes(Device& device, uint16_t& vendor,
                           uint16_t& product) override;
  void End() override;

 private:
  void* devices_ = nullptr;  // the SetupAPI device information set
};

}  // namespace hid
