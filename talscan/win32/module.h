// What the library keeps for the whole process: its module handle, the
// count of live objects and server locks, and the one scanner service with
// its platform (one scanner per process).
#pragma once

#include <windows.h>

class EventDriver;
class ScannerService;

namespace module {

HMODULE Handle();
void SetHandle(HMODULE handle);

void AddObject();
// The number of objects still alive.
long RemoveObject();
void Lock(bool lock);
// True when no object, no lock and no open device keeps the library.
bool CanUnload();

ScannerService& Service();
EventDriver& Events();

}  // namespace module
