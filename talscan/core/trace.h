// The trace of one device for field engineers: off unless the device
// entry's TraceLevel asks for it, then one file per device with a header at
// each opening and one line per event (local time to the millisecond, the
// thread, the text). A line repeated in a burst is written once, then
// "repeated N times". At kTraceFileLimit the file is moved aside, and
// kOlderTraceFiles older ones are kept. When the file cannot be written the
// trace goes off for the rest of the opening, tells the system, and says
// why in Stopped(). The receive path asks Wants() before it formats
// anything, so a trace that is off costs it one load.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/platform_error.h"
#include "talscan/core/clock.h"
#include "talscan/core/notifier.h"
#include "talscan/core/trace_files.h"

namespace trace_level {
constexpr int kOff = 0;
constexpr int kOpening = 1;  // the opening's life, status updates, failures
constexpr int kData = 2;     // also labels and DirectIO
constexpr int kWire = 3;     // also every byte read or written
}  // namespace trace_level

constexpr uint64_t kTraceFileLimit = 1024 * 1024;
constexpr int kOlderTraceFiles = 4;
// Repeats that come closer together than this make a burst: a vanished
// port's reopening, once a second, is one. A long burst's count is written
// at least this often, so that it is not lost with the power.
constexpr uint64_t kTraceBurstGapMs = 5000;
constexpr uint64_t kTraceCountEveryMs = 60000;

class Trace {
 public:
  Trace(TraceFiles& files, Clock& clock) : files_(&files), clock_(&clock) {}
  // The trace of parts made outside an opening (tests, benchmarks): it is
  // never on.
  static Trace& Off();

  // Turns the trace on at `level` for the device's file in `folder` (the
  // default folder when empty) and writes the opening's header. False when
  // the trace stays off: level 0, or the file cannot be written.
  bool Begin(int level, const std::string& folder, const std::string& device,
             const std::vector<std::string>& header);
  bool Wants(int level) const {
    return level_.load(std::memory_order_relaxed) >= level && level > 0;
  }
  void Write(int level, const std::string& text);
  // Bytes on the wire, in hex: "<direction> <n> bytes: 02 41 0D".
  void Bytes(const char* direction, const uint8_t* bytes, size_t count);
  // Writes the count of a burst that is still held back.
  void End();
  // The receive thread was stopped by force, perhaps inside a write: the
  // trace is never touched again (its lock may be held for good).
  void Abandon();

  // Why the trace went off while it was on; empty otherwise.
  std::string Stopped() const;

 private:
  std::string Stamp();
  std::string LineStart();
  void Append(std::string bytes);
  void Stop(std::string reason);
  void Rotate(size_t adding);
  std::string Older(int generation) const;
  std::string HeldBackCount();

  Trace() = default;

  TraceFiles* files_ = nullptr;
  Clock* clock_ = nullptr;
  std::atomic<int> level_{trace_level::kOff};
  std::atomic<bool> abandoned_{false};
  mutable std::mutex mutex_;
  std::string folder_;
  std::string name_;
  uint64_t size_ = 0;
  std::string lastText_;
  uint64_t lastAtMs_ = 0;
  uint64_t countedAtMs_ = 0;
  uint64_t repeats_ = 0;
  std::string stopped_;
};

// The default folder under the system's data folder of all users.
std::string DefaultTraceFolder(TraceFiles& files);

// Text from outside (a label, a message) on one line of the trace: line
// breaks and other control bytes as \xNN.
std::string TraceText(const std::string& text);

// The system's text for an error on one line, without the line end the
// system puts after it.
std::string TraceErrorText(Notifier& notifier, uint32_t error);

// An opening's messages: each goes to the trace before its box.
class TracingNotifier : public Notifier {
 public:
  TracingNotifier(Notifier& target, Trace& trace)
      : target_(target), trace_(trace) {}
  void ShowWarning(const std::string& caption,
                   const std::string& text) override {
    trace_.Write(trace_level::kOpening, "message: " + TraceText(text));
    target_.ShowWarning(caption, text);
  }
  std::string SystemErrorText(uint32_t error) override {
    return target_.SystemErrorText(error);
  }
  std::string ApplicationName() override { return target_.ApplicationName(); }

 private:
  Notifier& target_;
  Trace& trace_;
};
