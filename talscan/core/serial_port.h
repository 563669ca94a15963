// The one serial port of the service object. Opening goes in the steps
// whose failures have messages of their own. Reads and writes run under
// the port time-outs, which the caller may change between reads; a read
// made to wait for input can be ended by another thread. Failures are
// PlatformErrors.
#pragma once

#include <cstdint>
#include <string>

#include "common/platform/platform_error.h"

// The line settings the driver sets; every other setting keeps the value
// the port reported.
struct LineSettings {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  bool TwoStopBits = true;  // no parity either way
  bool RtsDisabled = true;
  bool AbortOnError = false;
};

// The time-out value that, in ReadInterval and ReadTotalMultiplier
// together, makes a read return at its first byte (Win32's MAXDWORD).
constexpr uint32_t kMaxTimeout = 0xFFFFFFFFu;

struct PortTimeouts {
  uint32_t ReadInterval = 0;
  uint32_t ReadTotalMultiplier = 0;
  uint32_t ReadTotalConstant = 0;
  uint32_t WriteTotalMultiplier = 0;
  uint32_t WriteTotalConstant = 0;
};

enum class LineSignal { kSetRts, kSetDtr, kClearDtr };

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual PlatformError Open(const std::string& name) = 0;
  virtual PlatformError SetBufferSizes(uint32_t input, uint32_t output) = 0;
  virtual PlatformError ReadLineSettings() = 0;
  virtual PlatformError WriteLineSettings(const LineSettings& settings) = 0;
  virtual PlatformError ReadTimeouts() = 0;
  virtual PlatformError WriteTimeouts(const PortTimeouts& timeouts) = 0;
  virtual bool IsOpen() const = 0;
  // Fails (ERROR_INVALID_HANDLE) when no port is open.
  virtual PlatformError Close() = 0;

  // At most `capacity` bytes under the port time-outs; `count` is 0 when
  // the time-out passed with nothing.
  virtual PlatformError Read(uint8_t* buffer, int capacity, int& count) = 0;
  virtual PlatformError Write(const uint8_t* data, int count, int& written) = 0;

  enum class Wait { kByte, kSilence, kInterrupted };
  // One read of one byte under the time-outs in force, which the caller
  // has set to return at the first byte, that Interrupt() can end: waits
  // at most `timeoutMs`. A byte that arrives as the wait ends is never
  // lost. A driver may end such a read early with nothing; the caller
  // finds that out by the time it took.
  virtual PlatformError WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                                    Wait& outcome) = 0;
  // From any thread: ends a wait in progress at once, or else the next
  // one, so that a wake-up is never missed.
  virtual void Interrupt() = 0;
  virtual PlatformError Signal(LineSignal signal) = 0;
  // False once the device behind the open port has gone (a USB-to-serial
  // adapter pulled out): its state can no longer be asked for. Reads of
  // such a port may fail or may just find nothing, depending on the driver.
  virtual bool Present() = 0;
};
