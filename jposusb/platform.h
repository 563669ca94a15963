// The platform of the bridge this library was built for.
#pragma once

#include "jposusb/bridge.h"

namespace jposusb {

// Made on first use and never destroyed: at process exit, or when the
// library is unloaded, nothing may wait for a thread or a call.
Platform& ThePlatform();

// Keeps the library loaded until the process ends. A caller's thread that
// waits inside it cannot give back a hold on it without returning into
// code that may be gone by then.
void StayLoaded();

}  // namespace jposusb
