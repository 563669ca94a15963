#include "talscan/core/serial_receiver.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/opos/opos.h"
#include "talscan/core/portable/protocol.h"
#include "talscan/core/scanner_warnings.h"

namespace {

constexpr uint32_t kPauseMs = 250;
// With nothing under way the silence counts for nothing: the first byte,
// Close or a programming run ends the wait, and this bound only keeps it
// from lasting for ever.
constexpr uint32_t kNothingPendingWaitMs = 30000;
constexpr int kIdleLimit = 10;
constexpr int kIdleCountMax = 255;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
// A vanished port is tried again about once a second.
constexpr uint32_t kReopenIntervalMs = 1000;

bool IsCodeLetter(uint8_t byte) {
  return byte != 0 && std::strchr("AEFGHIKLMNP", byte) != nullptr;
}

}  // namespace

SerialReceiver::SerialReceiver(ScannerState& state, Opening& opening,
                               PortLink& link, Clock& clock, Notifier& notifier,
                               EventPath& events, EventSink& sink,
                               ScannerProgrammer& programmer, Trace& trace)
    : state_(state),
      opening_(opening),
      link_(link),
      clock_(clock),
      notifier_(notifier),
      events_(events),
      sink_(sink),
      programmer_(programmer),
      trace_(trace),
      portableType_(IsPortableType(opening.Entry.ScannerType)),
      portable_(opening, link, clock, notifier, events, sink, frame_) {}

// The pause after the port fell silent is a wait that ends the moment a
// byte comes, so a label is taken at once whenever it starts. A silent
// pause and the empty read after it still make one period of silence, as
// long as the pause always was, for the rules that count periods.
void SerialReceiver::Run() {
  idleCount_ = 0;
  while (opening_.ReceiveActive) {
    uint8_t byte = 0;
    const uint32_t pauseMs = SilenceCounts() ? kPauseMs : kNothingPendingWaitMs;
    switch (link_.AwaitByte(byte, pauseMs)) {
      case PortLink::ReadResult::kHeld:
        clock_.Sleep(kPauseMs);  // a programming run has the port
        continue;
      case PortLink::ReadResult::kInterrupted:
        continue;  // something changed: look again before waiting
      case PortLink::ReadResult::kFailed:
        RecoverPort();
        continue;
      case PortLink::ReadResult::kByte:
        TakeByte(byte);
        break;
      case PortLink::ReadResult::kNone:
        break;
    }
    ReadUntilIdle();
  }
  opening_.PortableState = 0;  // the operation ends with the opening
}

// Whether the next silence counts: a frame or a portable packet is under
// way, or a portable operation waits. Otherwise the idle step has nothing
// to do, whenever it comes.
bool SerialReceiver::SilenceCounts() const {
  // A portable scanner's frame keeps its last packet after it was taken.
  if (portableType_) {
    return !portable_.BetweenPackets() || opening_.PortableState > 0;
  }
  return frame_.FrameLength > 0;
}

void SerialReceiver::TakeByte(uint8_t byte) {
  const bool silentSince = idleCount_ > 0;
  idleCount_ = 0;
  // A byte dropped while the device is disabled breaks the label or
  // packet under way: what came before it must not be joined to what
  // comes after.
  if (state_.DeviceEnabled == 0 || events_.TakeFrameDiscardRequest()) {
    DropFrame();
  }
  if (state_.DeviceEnabled == 0) return;
  if (portableType_) {
    // A start byte after silence begins a packet, whatever the one before
    // it left open: a scanner lifted in the middle of a record sends its
    // next packet from the start.
    if (silentSince && byte == portable::kStart) portable_.AbandonPacket();
    portable_.TakeByte(byte);
  } else {
    TakeFixedByte(byte);
  }
}

void SerialReceiver::ReadUntilIdle() {
  for (;;) {
    if (!opening_.ReceiveActive) return;
    uint8_t byte = 0;
    const PortLink::ReadResult read = link_.ReceiveByte(byte);
    if (read == PortLink::ReadResult::kHeld) return;
    if (read == PortLink::ReadResult::kFailed) {
      RecoverPort();
      return;
    }
    if (read == PortLink::ReadResult::kByte) {
      TakeByte(byte);
      continue;
    }
    if (!IdleStep()) return;
  }
}

void SerialReceiver::TakeFixedByte(uint8_t byte) {
  if (byte == kCR) return;
  if (byte == kLF) {
    if (IsCodeLetter(frame_.FrameBuffer[0])) {
      events_.DeliverFrame(frame_);
    } else {
      ReportScannerNotSetUp(frame_, notifier_, programmer_);
    }
    return;
  }
  if (!frame_.AppendFrameByte(byte)) {
    ReportScannerNotSetUp(frame_, notifier_, programmer_);
  }
}

void SerialReceiver::DropFrame() {
  frame_.ResetFrame();
  portable_.AbandonPacket();
}

// True when the port should be read again at once, without the pause.
bool SerialReceiver::IdleStep() {
  if (state_.DeviceEnabled == 0) return false;
  if (events_.TakeFrameDiscardRequest()) DropFrame();
  // One or two stray bytes followed by silence are noise; a packet they
  // began is given up too, or the next one would be read shifted.
  if (frame_.FrameLength == 1 || frame_.FrameLength == 2) {
    DropFrame();
    return true;
  }
  if (portableType_) return PortableIdleStep();
  if (frame_.FrameLength > 0) {
    idleCount_ = std::min(idleCount_ + 1, kIdleCountMax);
    // A frame whose line feed never comes would otherwise wait for ever
    // and be joined to the next label.
    if (idleCount_ > kIdleLimit) {
      idleCount_ = 0;
      ReportScannerNotSetUp(frame_, notifier_, programmer_);
    }
  }
  return false;
}

// Silence counts while a packet is open or an operation is pending. More
// than ten silent reads end a packet, as they end a fixed scanner's frame,
// whatever is pending; in the middle of an operation they mean the scanner
// has gone away (status 900). Only a received byte clears the count.
bool SerialReceiver::PortableIdleStep() {
  long operation = opening_.PortableState;
  if (!portable_.BetweenPackets() || operation > 0) {
    idleCount_ = std::min(idleCount_ + 1, kIdleCountMax);
  }
  if (idleCount_ <= kIdleLimit) return false;
  DropFrame();
  if (portable::AwaitsScanner(operation) &&
      opening_.PortableState.compare_exchange_strong(operation, 0)) {
    sink_.FireSOStatusUpdate(portable::kScannerSilent);
  }
  return false;
}

bool SerialReceiver::SleepUnlessClosing(uint32_t milliseconds) {
  for (uint32_t slept = 0; slept < milliseconds; slept += kPauseMs) {
    if (!opening_.ReceiveActive) return false;
    clock_.Sleep(std::min(kPauseMs, milliseconds - slept));
  }
  return opening_.ReceiveActive;
}

// A read that fails, rather than finding nothing, means the port itself
// is gone (a USB-to-serial adapter pulled out). The application hears of
// it, and of its return, as it does of a USB scanner's; what was under way
// is dropped, as it cannot be joined to what comes after.
void SerialReceiver::RecoverPort() {
  DropFrame();
  sink_.FireSOStatusUpdate(opos::sue::PowerOffOffline);
  for (;;) {
    if (!SleepUnlessClosing(kReopenIntervalMs)) return;
    OpenFailure failure;
    if (link_.Reopen(failure)) break;
    // Once a second while the port is gone: the trace counts the repeats.
    if (trace_.Wants(trace_level::kOpening)) {
      trace_.Write(trace_level::kOpening,
                   "reopening: " + failure.message + "; error " +
                       std::to_string(failure.error.code) + ": " +
                       TraceErrorText(notifier_, failure.error.code));
    }
  }
  sink_.FireSOStatusUpdate(opos::sue::PowerOnline);
}
