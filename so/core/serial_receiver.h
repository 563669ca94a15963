// The serial receive thread: reads the port one byte at a time. For the
// fixed scanner types it assembles each label frame (code letter, data,
// line feed) and hands it to the event path; a portable scanner's bytes go
// to the packet receiver.
#pragma once

#include <cstdint>

#include "so/core/clock.h"
#include "so/core/event_path.h"
#include "so/core/label_frame.h"
#include "so/core/notifier.h"
#include "so/core/portable_receiver.h"
#include "so/core/scanner_programmer.h"
#include "so/core/scanner_state.h"
#include "so/core/serial_port.h"

class SerialReceiver {
 public:
  SerialReceiver(ScannerState& state, SerialPort& port, Clock& clock,
                 Notifier& notifier, EventPath& events, EventSink& sink,
                 ScannerProgrammer& programmer);

  // The thread body; returns once ReceiveActive has been cleared.
  void Run();

 private:
  void ReadUntilIdle();
  int ReadByte(uint8_t& byte);
  void TakeFixedByte(uint8_t byte);
  bool IdleStep();
  bool PortableIdleStep();
  void DropFrame();

  ScannerState& state_;
  SerialPort& port_;
  Clock& clock_;
  Notifier& notifier_;
  EventPath& events_;
  EventSink& sink_;
  ScannerProgrammer& programmer_;
  const bool portableType_;
  LabelFrame frame_;
  PortableReceiver portable_;
  int idleCount_ = 0;
};
