// The receive path allocates nothing per label: a till runs for days, and
// a label must not wait for the heap. Every allocation of this program is
// counted while the measured code runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "talscan/core/event_path.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/serial_receiver.h"
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
  Opening opening{DeviceEntry()};
  CountingSink sink(state);
  EventPath events(state, opening, sink);
  PortLink link(port, clock, opening);
  ScannerProgrammer programmer(link, clock, opening);
  SerialReceiver receiver(state, opening, link, clock, notifier, events, sink,
                          programmer);
  port.Open("COM1");
  opening.ReceiveActive = true;
  state.DeviceEnabled = 1;
  state.DataEventEnabled = 1;
  state.DecodeData = 1;
  state.BinaryConversion = 2;  // the longest scan data
  for (int i = 0; i < 800; ++i) {
    port.Feed("K" + std::string(100, static_cast<char>('0' + i % 10)) + "\r\n");
  }
  Opening* openingRef = &opening;
  port.OnIdleRead([openingRef](int reads) {
    if (reads > 3) openingRef->ReceiveActive = false;
  });

  allocations = 0;
  counting = true;
  receiver.Run();
  // The queued labels leave through the application's thread; the opening
  // is still in force, only its loop was stopped.
  opening.ReceiveActive = true;
  while (events.DataCount() > 0) events.SetDataEventEnabled(1);
  counting = false;

  EXPECT_EQ(sink.dataEvents, 800);
  EXPECT_EQ(allocations, 0);
}

// A port that plays a prepared byte stream and forgets what is written,
// so that only the code under test can allocate.
class PreparedPort : public SerialPort {
 public:
  PreparedPort(std::vector<uint8_t> bytes, Opening& opening)
      : bytes_(std::move(bytes)), opening_(opening) {}
  PlatformError Open(const std::string&) override { return {}; }
  PlatformError SetBufferSizes(uint32_t, uint32_t) override { return {}; }
  PlatformError ReadLineSettings() override { return {}; }
  PlatformError WriteLineSettings(const LineSettings&) override { return {}; }
  PlatformError ReadTimeouts() override { return {}; }
  PlatformError WriteTimeouts(const PortTimeouts&) override { return {}; }
  bool IsOpen() const override { return true; }
  PlatformError Close() override { return {}; }
  PlatformError Read(uint8_t* buffer, int capacity, int& count) override {
    count = 0;
    if (next_ == bytes_.size()) {
      opening_.ReceiveActive = false;  // the stream is spent
      return {};
    }
    while (count < capacity && next_ < bytes_.size())
      buffer[count++] = bytes_[next_++];
    return {};
  }
  PlatformError Write(const uint8_t*, int count, int& written) override {
    written = count;
    return {};
  }
  PlatformError Signal(LineSignal) override { return {}; }
  bool Present() override { return true; }
  PlatformError WaitForByte(uint8_t& byte, uint32_t, Wait& outcome) override {
    int count = 0;
    Read(&byte, 1, count);
    outcome = count == 1 ? Wait::kByte : Wait::kSilence;
    return {};
  }
  void Interrupt() override {}

 private:
  std::vector<uint8_t> bytes_;
  size_t next_ = 0;
  Opening& opening_;
};

std::vector<uint8_t> Packet(uint8_t sequence,
                            const std::vector<uint8_t>& body) {
  std::vector<uint8_t> packet{0x82, sequence};
  packet.insert(packet.end(), body.begin(), body.end());
  packet.push_back(0x83);
  uint8_t check = 0;
  for (uint8_t byte : packet) check ^= byte;
  packet.push_back(check);
  return packet;
}

TEST(Allocation, DownloadingCode128RecordsAllocatesNothing) {
  ScannerState state;
  Opening opening{DeviceEntry()};
  opening.Entry.ScannerType = kTypePortableM40;
  opening.ReceiveActive = true;
  state.DeviceEnabled = 1;
  state.DataEventEnabled = 1;
  state.DecodeData = 1;
  opening.PortableState = 1;  // a download requested
  // Ready, header, 100 Code 128 records of 40 values each, end.
  std::vector<uint8_t> stream = Packet(0, {'R'});
  auto add = [&stream](const std::vector<uint8_t>& packet) {
    stream.insert(stream.end(), packet.begin(), packet.end());
  };
  add(Packet(1, std::vector<uint8_t>(16, 'H')));
  for (uint8_t sequence = 2; sequence < 102; ++sequence) {
    std::vector<uint8_t> record{'K', 105};
    record.resize(41, 12);  // code set C: "12" forty times
    add(Packet(sequence, record));
  }
  add(Packet(102, {0x04}));
  SilentClock clock;
  PreparedPort port(std::move(stream), opening);
  fakes::RecordingNotifier notifier;
  CountingSink sink(state);
  EventPath events(state, opening, sink);
  PortLink link(port, clock, opening);
  ScannerProgrammer programmer(link, clock, opening);
  SerialReceiver receiver(state, opening, link, clock, notifier, events, sink,
                          programmer);

  allocations = 0;
  counting = true;
  receiver.Run();
  counting = false;

  EXPECT_EQ(sink.dataEvents, 100);
  EXPECT_EQ(allocations, 0);
}

}  // namespace
