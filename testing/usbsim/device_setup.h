// Plugging and unplugging the virtual scanner in the running prefix: its
// root device is installed with the driver beside this program, or removed.
#pragma once

#include <string>

namespace usbsim {

// The driver file goes to the system's driver folder, the root device is
// created and the driver installed on it. Returns "" or what failed.
std::string Plug(const std::string& programFolder);
// Removes the root device, if there is one. Returns "" or what failed.
std::string Unplug();
// Whether a HID interface of the scanner's identity is present.
bool InterfacePresent();

}  // namespace usbsim
