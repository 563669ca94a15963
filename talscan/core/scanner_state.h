// The shared state record: every OPOS property of the service object.
// What lives only while the device is open is in Opening. Numeric fields
// are atomics so that either thread may read or write them at any time;
// decisions that span several fields (queue or deliver a label) are taken
// under EventPath's mutex.
#pragma once

#include <atomic>

#include "common/opos/opos.h"

struct ScannerState {
  std::atomic<long> ResultCode{opos::kClosed};
  std::atomic<long> State{opos::kStateClosed};
  std::atomic<long> Claimed{0};
  std::atomic<long> DataEventEnabled{0};
  std::atomic<long> DeviceEnabled{0};
  std::atomic<long> FreezeEvents{0};
  std::atomic<long> AutoDisable{0};
  std::atomic<long> BinaryConversion{0};
  std::atomic<long> DecodeData{0};
  std::atomic<bool> COEventsFrozen{false};
};
