#include "talscan/core/portable/protocol.h"

#include <cstdio>

namespace portable {

namespace {

class PacketWriter {
 public:
  explicit PacketWriter(SerialPort& port) : port_(port) {}

  bool Put(uint8_t byte) {
    if (!ok_) return false;
    ok_ = port_.Write(&byte, 1) == 1;
    check_ ^= byte;
    return ok_;
  }
  bool Finish() {
    Put(kEnd);
    return Put(check_);
  }

 private:
  SerialPort& port_;
  uint8_t check_ = 0;
  bool ok_ = true;
};

}  // namespace

bool SendPacket(SerialPort& port, uint8_t sequence, const uint8_t* body,
                int count) {
  PacketWriter packet(port);
  packet.Put(kStart);
  packet.Put(sequence);
  for (int i = 0; i < count; ++i) packet.Put(body[i]);
  return packet.Finish();
}

bool SendNibblePacket(SerialPort& port, uint8_t sequence, uint8_t command,
                      const uint8_t* data, int count) {
  PacketWriter packet(port);
  packet.Put(kStart);
  packet.Put(sequence);
  packet.Put(command);
  for (int i = 0; i < count; ++i) {
    packet.Put(static_cast<uint8_t>(data[i] >> 4));
    packet.Put(static_cast<uint8_t>(data[i] & 0x0F));
  }
  return packet.Finish();
}

void WakePortableScanner(SerialPort& port, Clock& clock,
                         const DeviceEntry& entry) {
  if (entry.ScannerType != kTypePortableM20 ||
      entry.PortableConfiguration[18] == 0) {
    return;
  }
  port.Signal(LineSignal::kSetRts);
  clock.Sleep(100);
  port.Signal(LineSignal::kClearDtr);
  clock.Sleep(300);
  port.Signal(LineSignal::kSetDtr);
  clock.Sleep(300);
  const uint8_t wake[2] = {0x55, 0x55};
  port.Write(wake, 2);
  port.Signal(LineSignal::kClearDtr);
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
