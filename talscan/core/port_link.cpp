#include "talscan/core/port_link.h"

#include <algorithm>
#include <chrono>

#include "talscan/core/serial_transport.h"

namespace {

// A scanner that keeps sending would keep a drain pass reading for ever;
// a pass ends after this many bytes (over a second of input at 9600 baud)
// and the drain then reports that the port did not go quiet.
constexpr int kDrainPassLimit = 1024;
// A hold waits this long for one in force on the other thread: longer
// than any programming run takes.
constexpr std::chrono::seconds kHoldWaitLimit(15);

}  // namespace

PortLink::PortLink(SerialPort& port, Clock& clock, Opening& opening)
    : port_(port), clock_(clock), opening_(opening) {}

PortLink::WriteTurn::WriteTurn(PortLink& link)
    : link_(link), lock_(link.writeMutex_) {}

bool PortLink::WriteTurn::Write(const uint8_t* data, int count) {
  if (!link_.portOpen_) return false;
  int written = 0;
  return !link_.port_.Write(data, count, written).Failed() && written == count;
}

bool PortLink::WriteTurn::Signal(LineSignal signal) {
  return link_.portOpen_ && !link_.port_.Signal(signal).Failed();
}

bool PortLink::WriteByte(uint8_t byte) {
  WriteTurn turn(*this);
  return turn.Write(&byte, 1);
}

int PortLink::ReadSome(uint8_t* buffer, int capacity) {
  if (!portOpen_) return -1;
  int count = 0;
  return port_.Read(buffer, capacity, count).Failed() ? -1 : count;
}

bool PortLink::TakeSlot() {
  std::unique_lock<std::mutex> lock(slotMutex_);
  if (!slotFreed_.wait_for(lock, kHoldWaitLimit,
                           [this] { return !slotTaken_; })) {
    return false;
  }
  slotTaken_ = true;
  return true;
}

void PortLink::GiveSlot() {
  std::lock_guard<std::mutex> lock(slotMutex_);
  slotTaken_ = false;
  slotFreed_.notify_one();
}

PortLink::Hold::Hold(PortLink& link) : link_(link), taken_(link.TakeSlot()) {
  if (!taken_) return;
  link_.opening_.ProgrammingActive = true;
  // Waits for a read the receive thread may have begun before the flag;
  // a wait for input is ended, not waited out.
  link_.Interrupt();
  std::lock_guard<std::mutex> wait(link_.readGate_);
}

PortLink::Hold::~Hold() {
  if (!taken_) return;
  link_.opening_.ProgrammingActive = false;
  link_.GiveSlot();
}

int PortLink::ReadReply(uint8_t* buffer, int capacity) {
  return std::max(ReadSome(buffer, capacity), 0);
}

bool PortLink::Drain() {
  uint8_t byte = 0;
  for (int pass = 0; pass < 3; ++pass) {
    for (int n = 0; n < kDrainPassLimit && ReadSome(&byte, 1) == 1; ++n) {
    }
    clock_.Sleep(150);
  }
  return ReadSome(&byte, 1) == 0;
}

bool PortLink::DrainPort() {
  Hold hold(*this);
  return hold.Taken() && Drain();
}

PortLink::ReadResult PortLink::ReceiveByte(uint8_t& byte) {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return ReadResult::kHeld;
  const int count = ReadSome(&byte, 1);
  if (count == 1) return ReadResult::kByte;
  if (count < 0 || !port_.Present()) return ReadResult::kFailed;
  return ReadResult::kNone;
}

PortLink::ReadResult PortLink::AwaitByte(uint8_t& byte, uint32_t timeoutMs) {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return ReadResult::kHeld;
  if (!portOpen_) return ReadResult::kFailed;
  SerialPort::Wait outcome = SerialPort::Wait::kSilence;
  if (port_.WaitForByte(byte, timeoutMs, outcome).Failed()) {
    return ReadResult::kFailed;
  }
  switch (outcome) {
    case SerialPort::Wait::kByte: return ReadResult::kByte;
    case SerialPort::Wait::kInterrupted: return ReadResult::kInterrupted;
    case SerialPort::Wait::kSilence: break;
  }
  return ReadResult::kNone;
}

void PortLink::Interrupt() { port_.Interrupt(); }

// Not while a hold reads the port: its reads go on, and fail, until it
// ends, and the port is tried again after it.
bool PortLink::Reopen() {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return false;
  std::lock_guard<std::mutex> writing(writeMutex_);
  if (portOpen_) port_.Close();
  portOpen_ = false;
  OpenFailure ignored;
  portOpen_ = OpenSerialPort(port_, opening_.Entry, ignored);
  return portOpen_;
}

bool PortLink::Close() {
  std::lock_guard<std::mutex> writing(writeMutex_);
  if (!portOpen_) return true;  // vanished: nothing left to close
  if (port_.Close().Failed()) return false;
  portOpen_ = false;
  return true;
}
