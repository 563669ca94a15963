// The serial receive thread: waits for the port's first byte and then
// reads it one byte at a time. For the
// fixed scanner types it assembles each label frame (code letter, data,
// line feed) and hands it to the event path; a portable scanner's bytes go
// to the packet receiver. A port that vanished is reported and reopened.
#pragma once

#include <cstdint>

#include "talscan/core/clock.h"
#include "talscan/core/event_path.h"
#include "talscan/core/label_frame.h"
#include "talscan/core/notifier.h"
#include "talscan/core/opening.h"
#include "talscan/core/port_link.h"
#include "talscan/core/portable/receiver.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/trace.h"

class SerialReceiver {
 public:
  SerialReceiver(ScannerState& state, Opening& opening, PortLink& link,
                 Clock& clock, Notifier& notifier, EventPath& events,
                 EventSink& sink, ScannerProgrammer& programmer,
                 Trace& trace = Trace::Off());

  // The thread body; returns once ReceiveActive has been cleared.
  void Run();

 private:
  bool SilenceCounts() const;
  void ReadUntilIdle();
  void TakeByte(uint8_t byte);
  void TakeFixedByte(uint8_t byte);
  bool IdleStep();
  bool PortableIdleStep();
  void DropFrame();
  void RecoverPort();
  // Sleeps in pause-sized steps; false once the opening is closing.
  bool SleepUnlessClosing(uint32_t milliseconds);

  ScannerState& state_;
  Opening& opening_;
  PortLink& link_;
  Clock& clock_;
  Notifier& notifier_;
  EventPath& events_;
  EventSink& sink_;
  ScannerProgrammer& programmer_;
  Trace& trace_;
  const bool portableType_;
  LabelFrame frame_;
  PortableReceiver portable_;
  int idleCount_ = 0;
};
