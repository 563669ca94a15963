// The packet protocol of the portable scanners, as the service object
// writes it: packets of a start byte, a sequence byte, a body, an end byte
// and an XOR check byte, written one byte per write.
#pragma once

#include <cstdint>

#include "talscan/core/clock.h"
#include "talscan/core/device_entry.h"
#include "talscan/core/port_link.h"

namespace portable {

// PortableState values: the operation DirectIO requested and how far the
// receive thread got with it.
enum Operation : long {
  kIdle = 0,
  kDownloadRequested = 1,
  kAwaitingHeader = 2,
  kReceivingRecords = 3,
  kConfigurationRequested = 10,
  kAwaitingConfigurationAck = 11,
  kClockRequested = 20,
  kAwaitingClockAck = 21,
  kUserIDRequested = 30,
  kAwaitingUserIDAck = 31,
  kStatusRequested = 40,
  kAwaitingStatus = 41,
  kGQueryRequested = 50,
  kAwaitingGReply = 51,
};

// States in which the scanner owes an answer: silence there ends the
// operation.
inline bool AwaitsScanner(long operation) {
  return operation == kAwaitingHeader || operation == kReceivingRecords ||
         operation == kAwaitingConfigurationAck ||
         operation == kAwaitingClockAck || operation == kAwaitingUserIDAck ||
         operation == kAwaitingStatus;
}

// DirectIO commands and the operation each requests; false for any other
// command.
bool RequestedOperation(long command, long& operation);
// The clock and G commands exist on the M-20 only.
inline bool IsM20OnlyCommand(long command) {
  return command == 202 || command == 205;
}
constexpr long kCommandStop = 100;

// SOStatusUpdate codes that end an operation.
constexpr long kDownloadFailed = 700;
constexpr long kConfigurationFailed = 701;
constexpr long kClockFailed = 702;
constexpr long kUserIDFailed = 703;
constexpr long kStatusReplyBad = 704;
constexpr long kGReplyBad = 705;
constexpr long kDownloadComplete = 800;
constexpr long kConfigurationDone = 801;
constexpr long kClockDone = 802;
constexpr long kUserIDDone = 803;
constexpr long kScannerSilent = 900;

// SODirectIO event numbers.
constexpr long kHeaderFirstText = 500;
constexpr long kHeaderSecondText = 501;
constexpr long kHeaderRecordCount = 502;
constexpr long kStatusEvent = 504;
constexpr long kGReplyEvent = 505;

constexpr uint8_t kStart = 0x82;
constexpr uint8_t kEnd = 0x83;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kEndOfDownload = 0x04;

// Each packet is written in one turn of the port's writers.
// True when every byte was written.
bool SendPacket(PortLink& link, uint8_t sequence, const uint8_t* body,
                int count);
// The body is the command byte and each data byte as two nibbles (high,
// low), so that no data byte can look like a start or end byte.
bool SendNibblePacket(PortLink& link, uint8_t sequence, uint8_t command,
                      const uint8_t* data, int count);

// Wakes an M-20 whose configuration asks for it (byte 18) with its line
// signals and "UU"; does nothing for any other scanner.
void WakePortableScanner(PortLink& link, Clock& clock,
                         const DeviceEntry& entry);

// The clock body: month, day, year modulo 100, hour, minute and second as
// twelve digits, then configuration bytes 16 to 18.
void ClockBody(const LocalTime& now, const PortableConfigurationBytes& config,
               uint8_t (&body)[15]);

}  // namespace portable
