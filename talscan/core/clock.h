// Time as the service object uses it: pauses of the scanner protocols, a
// monotonic count of milliseconds to measure waits, and the local date and
// time for a portable scanner's clock. Tests substitute a virtual clock.
#pragma once

#include <cstdint>

struct LocalTime {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual uint64_t NowMs() const = 0;
  virtual LocalTime Local() = 0;
};
