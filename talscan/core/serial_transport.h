// Opening and configuring the serial port of a fixed or portable scanner.
#pragma once

#include "talscan/core/device_entry.h"
#include "talscan/core/open_failure.h"
#include "talscan/core/serial_port.h"

// The line settings for a scanner type: 2400 baud for the M-40, 9600 for
// all others; 8 data bits, no parity, two stop bits, RTS disabled.
LineSettings ScannerLineSettings(long scannerType);

// Read returns after 1 ms between bytes or about 101 ms of silence; a
// write of n bytes gives up after 20 n + 100 ms.
PortTimeouts ScannerPortTimeouts();

// The read time-outs of a wait for input: a read returns as soon as a byte
// is there, else after `waitMs` (the documented MAXDWORD, MAXDWORD and
// constant form); the write time-outs stay the scanner's.
PortTimeouts FirstByteTimeouts(uint32_t waitMs);

// Opens entry.PortName and configures it. On failure fills `failure` with
// the failing step's message and leaves no port open.
bool OpenSerialPort(SerialPort& port, const DeviceEntry& entry,
                    OpenFailure& failure);
