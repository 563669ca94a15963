// A serial port that plays a scanner from a script: bytes to be read,
// stretches of silence, replies to what the driver writes, and failures of
// any opening step. Every write is recorded with the virtual time at which
// it happened, so tests check bytes and pauses exactly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "talscan/core/serial_port.h"
#include "testing/fakes/virtual_clock.h"

namespace fakes {

struct WrittenByte {
  uint64_t timeMs;
  uint8_t byte;
};

class ScriptedSerialPort : public SerialPort {
 public:
  enum class Step {
    kOpen,
    kSetBufferSizes,
    kReadLineSettings,
    kWriteLineSettings,
    kReadTimeouts,
    kWriteTimeouts,
    kClose
  };
  static constexpr uint32_t kReadTimeoutMs = 101;

  explicit ScriptedSerialPort(VirtualClock& clock) : clock_(clock) {}

  // SerialPort
  PlatformError Open(const std::string& name) override;
  PlatformError SetBufferSizes(uint32_t input, uint32_t output) override;
  PlatformError ReadLineSettings() override;
  PlatformError WriteLineSettings(const LineSettings& settings) override;
  PlatformError ReadTimeouts() override;
  PlatformError WriteTimeouts(const PortTimeouts& timeouts) override;
  bool IsOpen() const override;
  PlatformError Close() override;
  PlatformError Read(uint8_t* buffer, int capacity, int& count) override;
  bool Present() override;
  PlatformError Write(const uint8_t* data, int count, int& written) override;
  PlatformError Signal(LineSignal signal) override;
  // Takes a byte that is there, or that arrives (FeedAt) within the wait,
  // at once; else the virtual clock sleeps the whole wait, which the
  // test sees as a pause.
  PlatformError WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                            Wait& outcome) override;
  void Interrupt() override;

  // Drivers differ in what they do with a read that is to return at its
  // first byte: they honour it, refuse its time-outs, or end it at once.
  enum class FirstByteReads { kHonoured, kRefused, kEndedAtOnce };

  // Script.
  void FailStep(Step step, uint32_t error);
  void SetFirstByteReads(FirstByteReads reads);
  // The next `count` reads fail while the port stays present.
  void FailReads(int count);
  void FailWrites(bool fail);
  // A vanished port (its adapter pulled out) fails every read and write,
  // and cannot be opened, until it is back.
  void Vanish(bool vanished);
  // Bytes the scanner sends; one read takes at most the bytes up to the
  // next Silence().
  void Feed(const std::string& bytes);
  void Feed(const std::vector<uint8_t>& bytes);
  // Bytes that arrive at that virtual time: a read or wait under way then
  // takes them at that moment.
  void FeedAt(uint64_t timeMs, const std::string& bytes);
  // One read that returns no byte after the read time-out.
  void Silence(int reads = 1);
  // Waits block in real time, as on a real port, until input is fed or
  // Interrupt() comes, whatever their bound: for tests whose other
  // threads must wake the receive thread. A wait that nothing ends gives
  // up after ten seconds and is counted.
  void BlockWaits(bool block);
  int WaitsInProgress() const;
  int WaitsNobodyEnded() const;
  // Called for every byte written; may Feed a reply.
  void OnWrite(std::function<void(uint8_t)> responder);
  // Called on every read that finds nothing scripted, with the number of
  // such reads in a row since it was set; a test ends the receive loop
  // from here.
  void OnIdleRead(std::function<void(int)> handler);

  // Inspection.
  std::string OpenedName() const;
  std::optional<LineSettings> Settings() const;
  // The time-outs the port was configured with; a wait's first-byte
  // time-outs are not among them.
  std::optional<PortTimeouts> Timeouts() const;
  uint32_t InputQueueSize() const;
  int Opens() const;
  std::vector<WrittenByte> Written() const;
  std::string WrittenText() const;
  std::vector<LineSignal> Signals() const;
  void ClearWritten();
  size_t PendingInput() const;

 private:
  PlatformError StepResult(Step step) const;

  VirtualClock& clock_;
  mutable std::mutex mutex_;
  bool open_ = false;
  bool failWrites_ = false;
  bool vanished_ = false;
  int opens_ = 0;
  std::string name_;
  std::vector<std::pair<Step, uint32_t>> failures_;
  std::optional<LineSettings> settings_;
  std::optional<PortTimeouts> timeouts_;
  FirstByteReads firstByteReads_ = FirstByteReads::kHonoured;
  int failingReads_ = 0;
  uint32_t inputQueueSize_ = 0;
  // A value of -1 marks one silent read.
  std::deque<int> input_;
  std::vector<WrittenByte> written_;
  std::vector<LineSignal> signals_;
  std::function<void(uint8_t)> responder_;
  std::function<void(int)> idleHandler_;
  int idleReads_ = 0;
  struct Arrival {
    uint64_t timeMs;
    std::string bytes;
  };
  std::deque<Arrival> arrivals_;
  bool interrupted_ = false;
  bool blockWaits_ = false;
  int waitsInProgress_ = 0;
  int waitsNobodyEnded_ = 0;
  std::condition_variable inputChanged_;

  // Under the mutex: moves the first arrival due within `withinMs` of
  // now into the input, the clock advanced to its time.
  bool ArrivalWithin(uint64_t withinMs);
  bool TakeByte(uint8_t& byte);
  PlatformError BlockingWait(std::unique_lock<std::mutex>& lock,
                             uint8_t& byte, Wait& outcome);
};

}  // namespace fakes
