// The platform of the bridge this library was built for.
#pragma once

#include "jposusb/bridge.h"

namespace jposusb {

// Lives as long as the library.
Platform& ThePlatform();

}  // namespace jposusb
