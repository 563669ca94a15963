// The packet protocol of the portable scanners, as the service object
// writes it: packets of a start byte, a sequence byte, a body, an end byte
// and an XOR check byte, written one byte per write.
#pragma once

#include <cstdint>

#include "talscan/core/clock.h"
#include "talscan/core/device_entry.h"
#include "talscan/core/serial_port.h"

namespace portable {

constexpr uint8_t kStart = 0x82;
constexpr uint8_t kEnd = 0x83;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kEndOfDownload = 0x04;

// True when every byte was written.
bool SendPacket(SerialPort& port, uint8_t sequence, const uint8_t* body,
                int count);
// The body is the command byte and each data byte as two nibbles (high,
// low), so that no data byte can look like a start or end byte.
bool SendNibblePacket(SerialPort& port, uint8_t sequence, uint8_t command,
                      const uint8_t* data, int count);

// Wakes an M-20 whose configuration asks for it (byte 18) with its line
// signals and "UU"; does nothing for any other scanner.
void WakePortableScanner(SerialPort& port, Clock& clock,
                         const DeviceEntry& entry);

// The clock body: month, day, year modulo 100, hour, minute and second as
// twelve digits, then configuration bytes 16 to 18.
void ClockBody(const LocalTime& now, const PortableConfigurationBytes& config,
               uint8_t (&body)[15]);

}  // namespace portable
