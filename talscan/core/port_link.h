// The serial port of one opening as its users share it: the caller's thread
// (the enable byte, the portable wake-up, programming from DirectIO and
// ClearInput's drain) and the receive thread (its one-byte reads, portable
// requests and acknowledgements, programming after a bad frame).
//
// - Writes take turns: the bytes written in one turn (a command, a packet)
//   are never interleaved with another writer's.
// - A hold (programming run or drain) has the port to itself for reading:
//   the receive thread does not read while one is in force, and waits for
//   it to end. A hold ends the receive thread's wait for input first. One
//   hold at a time; a hold waits a bounded time for another, never for
//   ever.
// - The receive thread waits for input in the way the port's driver allows:
//   a read that returns at the first byte, where the driver takes such
//   time-outs and honours them, else reads under the port time-outs, so
//   that the port is still read about every 100 ms.
// - A read that fails on a port that is still there counts as an empty
//   one; only a port whose state can no longer be read has gone.
// - A port that vanished (a USB-to-serial adapter pulled) is reopened and
//   configured again in the same way as at opening.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "talscan/core/clock.h"
#include "talscan/core/opening.h"
#include "talscan/core/serial_port.h"
#include "talscan/core/trace.h"

class PortLink {
 public:
  PortLink(SerialPort& port, Clock& clock, Opening& opening,
           Trace& trace = Trace::Off());

  class WriteTurn {
   public:
    explicit WriteTurn(PortLink& link);
    // True when every byte was written.
    bool Write(const uint8_t* data, int count);
    bool Signal(LineSignal signal);

   private:
    PortLink& link_;
    std::lock_guard<std::mutex> lock_;
  };

  // One byte in a turn of its own.
  bool WriteByte(uint8_t byte);

  class Hold {
   public:
    explicit Hold(PortLink& link);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // False when another hold did not end within the bound.
    bool Taken() const { return taken_; }

   private:
    PortLink& link_;
    const bool taken_;
  };

  // Under a hold: one read of a reply, under the port time-outs; the
  // count read, 0 when nothing came or the read failed.
  int ReadReply(uint8_t* buffer, int capacity);
  // Under a hold: discards pending input; true when the port was quiet at
  // the end.
  bool Drain();
  // Takes a hold and drains (ClearInput).
  bool DrainPort();

  enum class ReadResult { kByte, kNone, kHeld, kFailed, kInterrupted };
  // Receive thread: one byte under the port time-outs, unless a hold is in
  // force. kFailed when the port has gone.
  ReadResult ReceiveByte(uint8_t& byte);
  // Receive thread: waits at most `timeoutMs` for a byte and takes it the
  // moment it comes (within a read time-out where the driver cannot wait
  // so), unless a hold is in force. kInterrupted when the wait was ended
  // because the opening is closing or a hold begins.
  ReadResult AwaitByte(uint8_t& byte, uint32_t timeoutMs);
  // Any thread: ends the receive thread's wait, so that it sees at once
  // what has changed (Close, a hold). A requested portable operation
  // needs none: silence counts against the scanner only once its ready
  // packet has come, and that ends the wait.
  void Interrupt();

  // Receive thread, after a failed read: closes the port and tries once to
  // open and configure it again. True when it is back; else `failure`
  // says why.
  bool Reopen(OpenFailure& failure);
  // Closes the port when the opening ends; true unless the close failed.
  bool Close();

 private:
  // The count read, or -1 when the read failed.
  int ReadSome(uint8_t* buffer, int capacity);
  // What a read that brought no byte means: silence, unless the port has
  // gone.
  ReadResult NothingRead();
  bool TimeoutsInForce();
  bool WaitForFirstByte(uint8_t& byte, uint32_t timeoutMs,
                        ReadResult& result);
  ReadResult PollForByte(uint8_t& byte, uint64_t deadlineMs);
  bool TakeSlot();
  void GiveSlot();

  SerialPort& port_;
  Clock& clock_;
  Opening& opening_;
  Trace& trace_;
  std::mutex writeMutex_;
  // Held while the port is read, and by Close: a read never reaches a port
  // closed meanwhile, nor one opened again for a later opening.
  std::mutex readMutex_;
  // A wait's time-outs that could not be replaced by the port's own after
  // it; under the read lock.
  bool timeoutsLost_ = false;
  // The receive thread reads only inside this gate, so that a hold never
  // begins while a read may take a reply's bytes.
  std::mutex readGate_;
  std::mutex slotMutex_;
  std::condition_variable slotFreed_;
  bool slotTaken_ = false;
  // Cleared when the port is closed or vanished, set again when it is
  // back; changed under the write and read locks.
  std::atomic<bool> portOpen_{true};
};
