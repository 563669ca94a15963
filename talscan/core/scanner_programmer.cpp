#include "talscan/core/scanner_programmer.h"

#include <chrono>
#include <cstring>
#include <string>

#include "talscan/core/device_entry.h"

namespace {

constexpr uint8_t kAck = 0x06;
// A scanner that keeps sending would keep a drain pass reading for ever;
// a pass ends after this many bytes (over a second of input at 9600 baud)
// and the drain then reports that the port did not go quiet.
constexpr int kDrainPassLimit = 1024;
// A run waits this long for one in progress on the other thread: longer
// than any run takes.
constexpr std::chrono::seconds kRunWaitLimit(15);

const char* const kModel88Commands[] = {
    ">!IN",  ">5AD00", ">8AB0D0A", ">6AH01", ">BAH4D",
    ">DAH4B", ">IAH49", ">EAH4E",  ">NAH41", ">GAH46",
    ">CAH4C", ">OAH45", ">FAH4646", ">5AD07",
};

// The OK rule: four bytes starting with "OK", or five with "OK" at 1 and 2.
bool IsOkReply(const uint8_t* reply, int count) {
  if (count == 4) return reply[0] == 'O' && reply[1] == 'K';
  if (count == 5) return reply[1] == 'O' && reply[2] == 'K';
  return false;
}

}  // namespace

bool ScannerProgrammer::RunSlot::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!freed_.wait_for(lock, kRunWaitLimit, [this] { return !taken_; })) {
    return false;
  }
  taken_ = true;
  return true;
}

void ScannerProgrammer::RunSlot::Give() {
  std::lock_guard<std::mutex> lock(mutex_);
  taken_ = false;
  freed_.notify_one();
}

// The slot for the length of one run.
class ScannerProgrammer::RunTurn {
 public:
  explicit RunTurn(RunSlot& slot) : slot_(slot), taken_(slot.Take()) {}
  ~RunTurn() {
    if (taken_) slot_.Give();
  }
  bool Taken() const { return taken_; }

 private:
  RunSlot& slot_;
  const bool taken_;
};

ScannerProgrammer::ScannerProgrammer(SerialPort& port, Clock& clock,
                                     ScannerState& state)
    : port_(port), clock_(clock), state_(state) {}

void ScannerProgrammer::PauseReceiveThread() {
  state_.ProgrammingActive = true;
  // Waits for a read the receive thread may have begun before the flag.
  std::lock_guard<std::mutex> wait(readGate_);
}

int ScannerProgrammer::ReadReply() {
  std::memset(reply_, 0, sizeof reply_);
  return port_.Read(reply_, sizeof reply_);
}

bool ScannerProgrammer::Stopping() const { return !state_.ReceiveActive; }

bool ScannerProgrammer::ProgramScanner() {
  RunTurn turn(runSlot_);
  if (!turn.Taken()) return false;
  PauseReceiveThread();
  const DeviceEntry& entry = state_.Entry;
  bool result = false;
  switch (entry.ScannerType) {
    case kTypeUnlisted: {
      std::string command = "\x01\r\nS0680\r\n\x04";
      if (SendAndCheckOk(command.c_str())) {
        command = std::string("\x01\r\n") + (entry.AutoScan ? "F0102" : "F0101") +
                  "\r\n\x04";
        result = SendAndCheckOk(command.c_str());
      }
      break;
    }
    case kTypeFixedLaser: {
      const bool first = SendWithRetry("\xAA----");
      const bool second = SendWithRetry("\xAAIS01");
      result = first && second;
      break;
    }
    case kTypeModel88: {
      bool firstCommand = true;
      for (const char* command : kModel88Commands) {
        if (!SendUnchecked((std::string(command) + "\r\n").c_str())) break;
        if (firstCommand) clock_.Sleep(3000);
        firstCommand = false;
      }
      SendUnchecked(entry.AutoScan ? ">7AA04\r\n" : ">7AA01\r\n");
      // No reply is read, so the run can never be confirmed.
      result = false;
      break;
    }
    default:
      break;
  }
  if (Stopping()) {
    // The device is closing: the run ends without its drain, so that the
    // receive thread running it ends within the bound of Close.
    state_.ProgrammingActive = false;
    return false;
  }
  DrainPortLocked();
  return result;
}

bool ScannerProgrammer::SendAndCheckOk(const char* command) {
  if (Stopping()) return false;
  for (const char* p = command; *p; ++p) {
    const uint8_t byte = static_cast<uint8_t>(*p);
    port_.Write(&byte, 1);
    clock_.Sleep(2);
  }
  clock_.Sleep(1000);
  const int count = ReadReply();
  return IsOkReply(reply_, count);
}

bool ScannerProgrammer::SendWithRetry(const char* command) {
  for (int attempt = 0; attempt < 2 && !Stopping(); ++attempt) {
    for (const char* p = command; *p; ++p) {
      const uint8_t byte = static_cast<uint8_t>(*p);
      if (port_.Write(&byte, 1) != 1) return false;
      clock_.Sleep(1);
      clock_.Sleep(1);
      clock_.Sleep(1);
    }
    clock_.Sleep(1000);
    if (ReadReply() == 1 && reply_[0] == kAck) return true;
  }
  return false;
}

// False, sending nothing, once the device is closing.
bool ScannerProgrammer::SendUnchecked(const char* command) {
  if (Stopping()) return false;
  for (const char* p = command; *p; ++p) {
    const uint8_t byte = static_cast<uint8_t>(*p);
    port_.Write(&byte, 1);
  }
  clock_.Sleep(450);
  return true;
}

bool ScannerProgrammer::DrainPort() {
  RunTurn turn(runSlot_);
  if (!turn.Taken()) return false;
  PauseReceiveThread();
  return DrainPortLocked();
}

bool ScannerProgrammer::DrainPortLocked() {
  uint8_t byte = 0;
  for (int pass = 0; pass < 3; ++pass) {
    for (int n = 0; n < kDrainPassLimit && port_.Read(&byte, 1) == 1; ++n) {
    }
    clock_.Sleep(150);
  }
  const int last = port_.Read(&byte, 1);
  state_.ProgrammingActive = false;
  return last == 0;
}

bool ScannerProgrammer::WritePortByte(uint8_t byte) {
  port_.Write(&byte, 1);
  return true;
}
