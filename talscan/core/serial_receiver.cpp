#include "talscan/core/serial_receiver.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "talscan/core/scanner_warnings.h"

namespace {

constexpr uint32_t kPauseMs = 250;
constexpr int kIdleLimit = 10;
constexpr int kIdleCountMax = 255;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr long kScannerSilent = 900;

bool IsCodeLetter(uint8_t byte) {
  return byte != 0 && std::strchr("AEFGHIKLMNP", byte) != nullptr;
}

}  // namespace

SerialReceiver::SerialReceiver(ScannerState& state, SerialPort& port,
                               Clock& clock, Notifier& notifier,
                               EventPath& events, EventSink& sink,
                               ScannerProgrammer& programmer)
    : state_(state),
      port_(port),
      clock_(clock),
      notifier_(notifier),
      events_(events),
      sink_(sink),
      programmer_(programmer),
      portableType_(IsPortableType(state.Entry.ScannerType)),
      portable_(state, port, clock, notifier, events, sink, frame_) {}

void SerialReceiver::Run() {
  idleCount_ = 0;
  while (state_.ReceiveActive) {
    // Taken only after the port fell silent, so an idle port costs about
    // three wake-ups a second while a label is read as fast as it comes.
    clock_.Sleep(kPauseMs);
    ReadUntilIdle();
  }
}

void SerialReceiver::ReadUntilIdle() {
  for (;;) {
    if (!state_.ReceiveActive) {
      state_.PortableState = 0;
      return;
    }
    uint8_t byte = 0;
    const int count = ReadByte(byte);
    if (count < 0) return;  // programming holds the port
    if (count == 1) {
      idleCount_ = 0;
      // A byte dropped while the device is disabled breaks the label or
      // packet under way: what came before it must not be joined to what
      // comes after.
      if (state_.DeviceEnabled == 0 || events_.TakeFrameDiscardRequest()) {
        DropFrame();
      }
      if (state_.DeviceEnabled == 0) continue;
      if (portableType_) {
        portable_.TakeByte(byte);
      } else {
        TakeFixedByte(byte);
      }
      continue;
    }
    if (!IdleStep()) return;
  }
}

// 1 when a byte arrived, 0 when none did (time-out or failed read), -1
// when a programming run holds the port and nothing was read.
int SerialReceiver::ReadByte(uint8_t& byte) {
  std::lock_guard<std::mutex> gate(programmer_.ReadGate());
  if (state_.ProgrammingActive) return -1;
  return port_.Read(&byte, 1) == 1 ? 1 : 0;
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
  // One or two stray bytes followed by silence are noise.
  if (frame_.FrameLength == 1 || frame_.FrameLength == 2) {
    frame_.ResetFrame();
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

// Silence counts while a packet is open or an operation is pending; a
// scanner silent for more than ten reads in the middle of an operation
// has gone away (status 900). Only a received byte clears the count.
bool SerialReceiver::PortableIdleStep() {
  long operation = state_.PortableState;
  if (!portable_.BetweenPackets() || operation > 0) {
    idleCount_ = std::min(idleCount_ + 1, kIdleCountMax);
  }
  const bool waitingForScanner = operation == 2 || operation == 3 ||
                                 operation == 11 || operation == 21 ||
                                 operation == 31 || operation == 41;
  if (idleCount_ > kIdleLimit && waitingForScanner) {
    portable_.AbandonPacket();
    if (state_.PortableState.compare_exchange_strong(operation, 0)) {
      sink_.FireSOStatusUpdate(kScannerSilent);
    }
  }
  return false;
}
