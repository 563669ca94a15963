#include "talscan/core/portable/protocol.h"

#include <cstdio>

namespace portable {

namespace {

class PacketWriter {
 public:
  explicit PacketWriter(PortLink& link) : turn_(link) {}

  bool Put(uint8_t byte) {
    if (!ok_) return false;
    ok_ = turn_.Write(&byte, 1);
    check_ ^= byte;
    return ok_;
  }
  bool Finish() {
    Put(kEnd);
    return Put(check_);
  }

 private:
  PortLink::WriteTurn turn_;
  uint8_t check_ = 0;
  bool ok_ = true;
};

}  // namespace

bool RequestedOperation(long command, long& operation) {
  switch (command) {
    case kCommandStop: operation = kIdle; return true;
    case 200: operation = kDownloadRequested; return true;
    case 201: operation = kConfigurationRequested; return true;
    case 202: operation = kClockRequested; return true;
    case 203: operation = kUserIDRequested; return true;
    case 204: operation = kStatusRequested; return true;
    case 205: operation = kGQueryRequested; return true;
    default: return false;
  }
}

bool SendPacket(PortLink& link, uint8_t sequence, const uint8_t* body,
                int count) {
  PacketWriter packet(link);
  packet.Put(kStart);
  packet.Put(sequence);
  for (int i = 0; i < count; ++i) packet.Put(body[i]);
  return packet.Finish();
}

bool SendNibblePacket(PortLink& link, uint8_t sequence, uint8_t command,
                      const uint8_t* data, int count) {
  PacketWriter packet(link);
  packet.Put(kStart);
  packet.Put(sequence);
  packet.Put(command);
  for (int i = 0; i < count; ++i) {
    packet.Put(static_cast<uint8_t>(data[i] >> 4));
    packet.Put(static_cast<uint8_t>(data[i] & 0x0F));
  }
  return packet.Finish();
}

void WakePortableScanner(PortLink& link, Clock& clock,
                         const DeviceEntry& entry) {
  if (entry.ScannerType != kTypePortableM20 ||
      entry.PortableConfiguration[18] == 0) {
    return;
  }
  // One turn: no packet of the receive thread goes out in the middle.
  PortLink::WriteTurn turn(link);
  turn.Signal(LineSignal::kSetRts);
  clock.Sleep(100);
  turn.Signal(LineSignal::kClearDtr);
  clock.Sleep(300);
  turn.Signal(LineSignal::kSetDtr);
  clock.Sleep(300);
  const uint8_t wake[2] = {0x55, 0x55};
  turn.Write(wake, 2);
  turn.Signal(LineSignal::kClearDtr);
}

void ClockBody(const LocalTime& now, const PortableConfigurationBytes& config,
               uint8_t (&body)[15]) {
  char digits[32];
  snprintf(digits, sizeof digits, "%2d%2d%2d%2d%2d%2d", now.Month % 100,
           now.Day % 100, now.Year % 100, now.Hour % 100, now.Minute % 100,
           now.Second % 100);
  for (int i = 0; i < 12; ++i) {
    body[i] = static_cast<uint8_t>(digits[i] == ' ' ? '0' : digits[i]);
  }
  body[12] = config[16];
  body[13] = config[17];
  body[14] = config[18];
}

}  // namespace portable
