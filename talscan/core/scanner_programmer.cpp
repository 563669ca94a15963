#include "talscan/core/scanner_programmer.h"

#include <cstring>
#include <string>

#include "talscan/core/device_entry.h"

namespace {

constexpr uint8_t kAck = 0x06;

const char* const kModel88Commands[] = {
    ">!IN",   ">5AD00", ">8AB0D0A", ">6AH01", ">BAH4D", ">DAH4B",   ">IAH49",
    ">EAH4E", ">NAH41", ">GAH46",   ">CAH4C", ">OAH45", ">FAH4646", ">5AD07",
};

// The OK rule: four bytes starting with "OK", or five with "OK" at 1 and 2.
bool IsOkReply(const uint8_t* reply, int count) {
  if (count == 4) return reply[0] == 'O' && reply[1] == 'K';
  if (count == 5) return reply[1] == 'O' && reply[2] == 'K';
  return false;
}

}  // namespace

ScannerProgrammer::ScannerProgrammer(PortLink& link, Clock& clock,
                                     Opening& opening)
    : link_(link), clock_(clock), opening_(opening) {}

int ScannerProgrammer::ReadReply() {
  std::memset(reply_, 0, sizeof reply_);
  return link_.ReadReply(reply_, sizeof reply_);
}

bool ScannerProgrammer::Stopping() const { return !opening_.ReceiveActive; }

bool ScannerProgrammer::ProgramScanner() {
  PortLink::Hold hold(link_);
  if (!hold.Taken()) return false;
  const bool result = RunSequence();
  // The device is closing: the run ends without its drain, so that the
  // receive thread running it ends within the bound of Close.
  if (Stopping()) return false;
  link_.Drain();
  return result;
}

bool ScannerProgrammer::RunSequence() {
  const DeviceEntry& entry = opening_.Entry;
  switch (entry.ScannerType) {
    case kTypeUnlisted: {
      std::string command = "\x01\r\nS0680\r\n\x04";
      if (!SendAndCheckOk(command.c_str())) return false;
      command = std::string("\x01\r\n") + (entry.AutoScan ? "F0102" : "F0101") +
                "\r\n\x04";
      return SendAndCheckOk(command.c_str());
    }
    case kTypeFixedLaser: {
      const bool first = SendWithRetry("\xAA----");
      const bool second = SendWithRetry("\xAAIS01");
      return first && second;
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
      return false;
    }
    default: return false;
  }
}

bool ScannerProgrammer::SendAndCheckOk(const char* command) {
  if (Stopping()) return false;
  {
    PortLink::WriteTurn turn(link_);
    for (const char* p = command; *p; ++p) {
      const uint8_t byte = static_cast<uint8_t>(*p);
      turn.Write(&byte, 1);
      clock_.Sleep(2);
    }
  }
  clock_.Sleep(1000);
  const int count = ReadReply();
  return IsOkReply(reply_, count);
}

bool ScannerProgrammer::SendWithRetry(const char* command) {
  for (int attempt = 0; attempt < 2 && !Stopping(); ++attempt) {
    {
      PortLink::WriteTurn turn(link_);
      for (const char* p = command; *p; ++p) {
        const uint8_t byte = static_cast<uint8_t>(*p);
        if (!turn.Write(&byte, 1)) return false;
        clock_.Sleep(1);
        clock_.Sleep(1);
        clock_.Sleep(1);
      }
    }
    clock_.Sleep(1000);
    if (ReadReply() == 1 && reply_[0] == kAck) return true;
  }
  return false;
}

// False, sending nothing, once the device is closing.
bool ScannerProgrammer::SendUnchecked(const char* command) {
  if (Stopping()) return false;
  {
    PortLink::WriteTurn turn(link_);
    for (const char* p = command; *p; ++p) {
      const uint8_t byte = static_cast<uint8_t>(*p);
      turn.Write(&byte, 1);
    }
  }
  clock_.Sleep(450);
  return true;
}
