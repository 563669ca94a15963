#include "talscan/core/port_link.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "talscan/core/serial_transport.h"

namespace {

// A scanner that keeps sending would keep a drain pass reading for ever;
// a pass ends after this many bytes (over a second of input at 9600 baud)
// and the drain then reports that the port did not go quiet.
constexpr int kDrainPassLimit = 1024;
// A hold waits this long for one in force on the other thread: longer
// than any programming run takes.
constexpr std::chrono::seconds kHoldWaitLimit(15);
// Close waits this long for a reader or a writer, longer than any read or
// write takes under the port time-outs: a thread stopped by force never
// lets go.
constexpr std::chrono::seconds kPortUserWaitLimit(3);
// A read under the port time-outs gives up after about this long.
constexpr uint64_t kReadTimeoutMs = 101;

// Locked when it could be before the end; otherwise not locked.
std::unique_lock<std::mutex> LockBefore(
    std::mutex& mutex, std::chrono::steady_clock::time_point end) {
  std::unique_lock<std::mutex> lock(mutex, std::try_to_lock);
  while (!lock.owns_lock() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.try_lock();
  }
  return lock;
}

}  // namespace

PortLink::PortLink(SerialPort& port, Clock& clock, Opening& opening,
                   Trace& trace)
    : port_(port), clock_(clock), opening_(opening), trace_(trace) {}

PortLink::WriteTurn::WriteTurn(PortLink& link)
    : link_(link), lock_(link.writeMutex_) {}

bool PortLink::WriteTurn::Write(const uint8_t* data, int count) {
  if (!link_.portOpen_) return false;
  int written = 0;
  const bool done =
      !link_.port_.Write(data, count, written).Failed() && written == count;
  link_.trace_.Bytes(done ? "wrote" : "write failed after", data,
                     static_cast<size_t>(written > 0 ? written : 0));
  return done;
}

bool PortLink::WriteTurn::Signal(LineSignal signal) {
  return link_.portOpen_ && !link_.port_.Signal(signal).Failed();
}

bool PortLink::WriteByte(uint8_t byte) {
  WriteTurn turn(*this);
  return turn.Write(&byte, 1);
}

int PortLink::ReadSome(uint8_t* buffer, int capacity) {
  std::lock_guard<std::mutex> reading(readMutex_);
  if (!portOpen_ || !TimeoutsInForce()) return -1;
  int count = 0;
  if (port_.Read(buffer, capacity, count).Failed()) return -1;
  if (count > 0) trace_.Bytes("read", buffer, static_cast<size_t>(count));
  return count;
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

// The reads need the port's own time-outs: under a wait's, a read could
// last as long as that wait, and no Close could end it. Until they are
// back every read fails.
bool PortLink::TimeoutsInForce() {
  if (timeoutsLost_) {
    timeoutsLost_ = port_.WriteTimeouts(ScannerPortTimeouts()).Failed();
  }
  return !timeoutsLost_;
}

// A single failed read is noise on the line or a driver's hiccup; the
// port has gone only when its state can no longer be read.
PortLink::ReadResult PortLink::NothingRead() {
  std::lock_guard<std::mutex> reading(readMutex_);
  return portOpen_ && port_.Present() ? ReadResult::kNone
                                      : ReadResult::kFailed;
}

PortLink::ReadResult PortLink::ReceiveByte(uint8_t& byte) {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return ReadResult::kHeld;
  return ReadSome(&byte, 1) == 1 ? ReadResult::kByte : NothingRead();
}

PortLink::ReadResult PortLink::AwaitByte(uint8_t& byte, uint32_t timeoutMs) {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return ReadResult::kHeld;
  if (!portOpen_) return ReadResult::kFailed;
  const uint64_t start = clock_.NowMs();
  ReadResult result = ReadResult::kNone;
  if (WaitForFirstByte(byte, timeoutMs, result)) return result;
  return PollForByte(byte, start + timeoutMs);
}

// The port's own wait: the read time-outs become "return at the first
// byte" and are put back after it. False when the wait must be made by
// reading instead: the driver refused those time-outs, or ended the read
// with nothing long before its time.
bool PortLink::WaitForFirstByte(uint8_t& byte, uint32_t timeoutMs,
                                ReadResult& result) {
  std::unique_lock<std::mutex> reading(readMutex_);
  if (!portOpen_) return false;
  if (port_.WriteTimeouts(FirstByteTimeouts(timeoutMs)).Failed()) {
    // Whatever of them the driver took is put back before the next read.
    timeoutsLost_ = true;
    return false;
  }
  const uint64_t start = clock_.NowMs();
  SerialPort::Wait outcome = SerialPort::Wait::kSilence;
  const bool waited = !port_.WaitForByte(byte, timeoutMs, outcome).Failed();
  timeoutsLost_ = port_.WriteTimeouts(ScannerPortTimeouts()).Failed();
  reading.unlock();
  if (!waited) return false;  // a failed read: the rest of the wait reads
  switch (outcome) {
    case SerialPort::Wait::kByte:
      trace_.Bytes("read", &byte, 1);
      result = ReadResult::kByte;
      return true;
    case SerialPort::Wait::kInterrupted:
      result = ReadResult::kInterrupted;
      return true;
    case SerialPort::Wait::kSilence: break;
  }
  result = ReadResult::kNone;
  return clock_.NowMs() - start >= timeoutMs / 2;
}

// Reads under the port time-outs until the deadline, so that a byte is
// taken within a read time-out; what would have ended the port's own wait
// ends this one between two reads. The time left when no whole read fits
// is slept, so that the wait lasts as long as the port's own would.
PortLink::ReadResult PortLink::PollForByte(uint8_t& byte, uint64_t deadlineMs) {
  for (;;) {
    if (!opening_.ReceiveActive || opening_.ProgrammingActive) {
      return ReadResult::kInterrupted;
    }
    const uint64_t before = clock_.NowMs();
    if (before >= deadlineMs) return ReadResult::kNone;
    if (deadlineMs - before < kReadTimeoutMs) {
      clock_.Sleep(static_cast<uint32_t>(deadlineMs - before));
      return ReadResult::kNone;
    }
    if (ReadSome(&byte, 1) == 1) return ReadResult::kByte;
    const ReadResult nothing = NothingRead();
    if (nothing != ReadResult::kNone) return nothing;
    // A driver that ignores the read time-outs too returns at once: the
    // read's time is slept out, or the wait would spin.
    const uint64_t readTime = clock_.NowMs() - before;
    if (readTime < kReadTimeoutMs) {
      clock_.Sleep(static_cast<uint32_t>(kReadTimeoutMs - readTime));
    }
  }
}

void PortLink::Interrupt() { port_.Interrupt(); }

// Not while a hold reads the port: its reads go on, and fail, until it
// ends, and the port is tried again after it.
bool PortLink::Reopen(OpenFailure& failure) {
  std::lock_guard<std::mutex> gate(readGate_);
  if (opening_.ProgrammingActive) return false;
  std::lock_guard<std::mutex> writing(writeMutex_);
  std::lock_guard<std::mutex> reading(readMutex_);
  if (portOpen_) port_.Close();
  portOpen_ = false;
  portOpen_ = OpenSerialPort(port_, opening_.Entry, failure);
  timeoutsLost_ = false;  // the opening set them
  return portOpen_;
}

bool PortLink::Close() {
  const auto end = std::chrono::steady_clock::now() + kPortUserWaitLimit;
  std::unique_lock<std::mutex> writing = LockBefore(writeMutex_, end);
  std::unique_lock<std::mutex> reading = LockBefore(readMutex_, end);
  if (!portOpen_) return true;  // vanished: nothing left to close
  if (port_.Close().Failed()) return false;
  portOpen_ = false;
  return true;
}
