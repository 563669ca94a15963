// The New device dialog (template 130): asks for a new entry's name, type,
// compatibility, port and AutoScan. It writes nothing itself.
#pragma once

#include <windows.h>

#include "varnconf/core/device_config.h"

// True, with what was chosen, when the dialog ended with OK.
bool RunNewDeviceDialog(HINSTANCE instance, HWND owner, NewDevice& chosen);
