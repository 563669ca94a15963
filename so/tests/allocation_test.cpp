// The receive path allocates nothing per label: a till runs for days, and
// a label must not wait for the heap. Every allocation of this program is
// counted while the measured code runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "so/core/event_path.h"
#include "so/core/scanner_programmer.h"
#include "so/core/serial_receiver.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// A sink and a clock that keep nothing, so that only the code under test
// can allocate.
class CountingSink : public EventSink {
 public:
  explicit CountingSink(ScannerState& state) : state_(state) {}
  // The application takes the first 500 labels at once; after that it
  // stops, and the next 300 fill the queue.
  void FireSOData(long) override {
    if (++dataEvents < 500) state_.DataEventEnabled = 1;
  }
  void FireSODirectIO(long, long&, std::string&) override {}
  void FireSOStatusUpdate(long) override {}
  int dataEvents = 0;

 private:
  ScannerState& state_;
};

class SilentClock : public fakes::VirtualClock {
 public:
  void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
};

TEST(Allocation, ReceivingAndDeliveringLabelsAllocatesNothing) {
  SilentClock clock;
  fakes::ScriptedSerialPort port(clock);
  fakes::RecordingNotifier notifier;
  ScannerState state;
  CountingSink sink(state);
  EventPath events(state, sink);
  ScannerProgrammer programmer(port, clock, state);
  SerialReceiver receiver(state, port, clock, notifier, events, sink, programmer);
  port.Open("COM1");
  state.ReceiveActive = true;
  state.DeviceEnabled = 1;
  state.DataEventEnabled = 1;
  state.DecodeData = 1;
  state.BinaryConversion = 2;  // the longest scan data
  for (int i = 0; i < 800; ++i) {
    port.Feed("K" + std::string(100, static_cast<char>('0' + i % 10)) + "\r\n");
  }
  ScannerState* stateRef = &state;
  port.OnIdleRead([stateRef](int reads) {
    if (reads > 3) stateRef->ReceiveActive = false;
  });

  allocations = 0;
  counting = true;
  receiver.Run();
  // The queued labels leave through the application's thread.
  while (events.DataCount() > 0) events.SetDataEventEnabled(1);
  counting = false;

  EXPECT_EQ(sink.dataEvents, 800);
  EXPECT_EQ(allocations, 0);
}

}  // namespace
