// What the library keeps for the whole process: its module handle, the
// count of live objects and server locks, and the one scanner service with
// its platform (one scanner per process).
#pragma once

#include <windows.h>

class ScannerService;

namespace module {

HMODULE Handle();
void SetHandle(HMODULE handle);

void AddObject();
void RemoveObject();
// True while only the object being destroyed is alive.
bool IsLastObject();
void Lock(bool lock);
// True when no object, no lock, no call and no thread of the library
// keeps it.
bool CanUnload();

// Counts as a call inside the library for as long as it lives.
class CallInProgress {
 public:
  CallInProgress();
  ~CallInProgress();
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;
};

ScannerService& Service();

}  // namespace module
