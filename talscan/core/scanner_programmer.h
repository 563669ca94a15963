// Programming a fixed serial scanner with the command sequence of its type,
// and the small port operations the sequence shares with the rest of the
// service object (draining input, writing one byte).
#pragma once

#include <cstdint>
#include <condition_variable>
#include <mutex>

#include "talscan/core/clock.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/serial_port.h"

class ScannerProgrammer {
 public:
  ScannerProgrammer(SerialPort& port, Clock& clock, ScannerState& state);

  // Runs the sequence of the entry's scanner type; true only when every
  // reply the sequence reads was accepted. A run stops early, false, when
  // the device is being closed.
  bool ProgramScanner();

  // Discards pending input; true when the port was quiet at the end.
  bool DrainPort();

  bool WritePortByte(uint8_t byte);

  // The receive thread reads the port only inside this gate, so that a
  // programming run never starts while a read may take a reply's bytes.
  std::mutex& ReadGate() { return readGate_; }

 private:
  bool SendAndCheckOk(const char* command);
  bool SendWithRetry(const char* command);
  bool SendUnchecked(const char* command);
  bool DrainPortLocked();
  bool Stopping() const;
  void PauseReceiveThread();
  int ReadReply();

  SerialPort& port_;
  Clock& clock_;
  ScannerState& state_;
  // One run at a time: the caller's thread (DirectIO, ClearInput) and the
  // receive thread (a scanner found not set up) may both start one. A run
  // waits a bounded time for the other, never for ever, as one stopped by
  // force would never let go.
  class RunSlot {
   public:
    bool Take();
    void Give();

   private:
    std::mutex mutex_;
    std::condition_variable freed_;
    bool taken_ = false;
  };
  class RunTurn;
  RunSlot runSlot_;
  std::mutex readGate_;
  uint8_t reply_[16] = {};
};
