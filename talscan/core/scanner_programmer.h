// Programming a fixed serial scanner with the command sequence of its type,
// so that it sends labels in the form the decoding expects. A run holds the
// port (the receive thread reads nothing of its replies) and writes each
// command in one turn, so no other writer's byte lands inside a command.
#pragma once

#include <cstdint>

#include "talscan/core/clock.h"
#include "talscan/core/opening.h"
#include "talscan/core/port_link.h"

class ScannerProgrammer {
 public:
  ScannerProgrammer(PortLink& link, Clock& clock, Opening& opening);

  // Runs the sequence of the entry's scanner type; true only when every
  // reply the sequence reads was accepted. A run stops early, false, when
  // the device is being closed.
  bool ProgramScanner();

 private:
  bool RunSequence();
  bool SendAndCheckOk(const char* command);
  bool SendWithRetry(const char* command);
  bool SendUnchecked(const char* command);
  bool Stopping() const;
  int ReadReply();

  PortLink& link_;
  Clock& clock_;
  Opening& opening_;
  uint8_t reply_[16] = {};
};
