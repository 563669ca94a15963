#include "talscan/win32/module.h"

#include <atomic>

#include "common/hid/win32/win32_hid.h"
#include "common/registry/win32/win32_registry.h"
#include "talscan/core/scanner_service.h"
#include "talscan/win32/win32_platform.h"
#include "talscan/win32/win32_trace_files.h"

namespace module {

namespace {

HMODULE moduleHandle = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
std::atomic<long> callsInProgress{0};

// Built on first use, after DllMain, and kept until the process ends: the
// receive thread may still run it when the last object is released.
struct ProcessService {
  ProcessService()
      : notifier(moduleHandle),
        traceFiles(moduleHandle),
        platform{registry, notifier, clock, threads, serial, hid, traceFiles},
        service(platform) {}

  reg::Win32Registry registry;
  Win32Notifier notifier;
  Win32Clock clock;
  Win32ThreadLauncher threads;
  Win32SerialPort serial;
  hid::Win32Bus hid;
  Win32TraceFiles traceFiles;
  Platform platform;
  ScannerService service;
};

ProcessService& Instance() {
  static ProcessService* instance = new ProcessService();
  return *instance;
}

}  // namespace

HMODULE Handle() { return moduleHandle; }
void SetHandle(HMODULE handle) { moduleHandle = handle; }

void AddObject() { ++liveObjects; }
void RemoveObject() { --liveObjects; }
bool IsLastObject() { return liveObjects == 1; }
void Lock(bool lock) { lock ? ++serverLocks : --serverLocks; }

bool CanUnload() {
  return liveObjects == 0 && serverLocks == 0 && callsInProgress == 0 &&
         Win32ThreadLauncher::Running() == 0;
}

CallInProgress::CallInProgress() { ++callsInProgress; }
CallInProgress::~CallInProgress() { --callsInProgress; }

ScannerService& Service() { return Instance().service; }

}  // namespace module
