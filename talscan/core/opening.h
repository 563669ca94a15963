// What belongs to one opening of the device: the entry it was opened with
// and the flags through which the caller's thread and this opening's
// receive thread coordinate. A new opening gets a new one, so nothing a
// receive thread left behind (stopped by force, or still finishing a
// handler) reaches the next opening.
#pragma once

#include <atomic>

#include "talscan/core/device_entry.h"

struct Opening {
  explicit Opening(const DeviceEntry& entry) : Entry(entry) {}

  // Replaced under EventPath's mutex when a second opening of an open USB
  // scanner succeeds; otherwise fixed for the opening's life.
  DeviceEntry Entry;
  // The receive thread runs while ReceiveActive is set; it does not read
  // the port while ProgrammingActive is set.
  std::atomic<bool> ReceiveActive{false};
  std::atomic<bool> ProgrammingActive{false};
  std::atomic<long> PortableState{0};
};
