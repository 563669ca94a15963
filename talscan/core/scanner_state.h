// The shared state record: every OPOS property of the service object, the
// device entry and the flags through which the caller's thread and the
// receive thread coordinate. Numeric fields are atomics so that either
// thread may read or write them at any time; decisions that span several
// fields (queue or deliver a label) are taken under EventPath's mutex.
#pragma once

#include <atomic>

#include "talscan/core/device_entry.h"
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

  // The receive thread runs while ReceiveActive is set; it does not read
  // the port while ProgrammingActive is set.
  std::atomic<bool> ReceiveActive{false};
  std::atomic<bool> ProgrammingActive{false};
  std::atomic<long> PortableState{0};

  // Written by OpenService only while no receive thread runs, or under
  // EventPath's mutex when an opening is already in force.
  DeviceEntry Entry;
};
