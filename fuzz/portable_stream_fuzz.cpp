// A portable scanner's byte stream of any content, read by the serial
// receive loop of an M-20 or M-40 in any pending operation, with operations
// requested in the middle of it: the receiver must answer, time out and
// deliver without reading or writing out of bounds, and every event it
// fires must be one the protocol has.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "talscan/core/event_path.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/serial_receiver.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"

namespace {

constexpr long kOperations[] = {0,  1,  2,  3,  10, 11, 20,
                                21, 30, 31, 40, 41, 50, 51};
// 0xFD and the next byte: an operation requested (DirectIO) at that point.
// 0xFE and the next byte: that many empty reads.
constexpr uint8_t kRequest = 0xFD;
constexpr uint8_t kSilence = 0xFE;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 22) return 0;
  fakes::VirtualClock clock;
  fakes::ScriptedSerialPort port(clock);
  fakes::RecordingNotifier notifier;
  fakes::RecordingEventSink sink;
  ScannerState state;
  Opening opening{DeviceEntry()};
  EventPath events(state, opening, sink);
  PortLink link(port, clock, opening);
  ScannerProgrammer programmer(link, clock, opening);

  const uint8_t options = data[0];
  opening.Entry.ScannerType = options & 1 ? kTypePortableM40 : kTypePortableM20;
  opening.Entry.CompatibilityMode = (options >> 1) % 5;
  opening.PortableState = kOperations[data[1] % 14];
  for (int i = 0; i < 20; ++i)
    opening.Entry.PortableConfiguration[i] = data[2 + i];
  opening.ReceiveActive = true;
  state.DeviceEnabled = 1;
  state.DataEventEnabled = 1;
  state.DecodeData = 1;
  state.BinaryConversion = options >> 4 & 3;
  port.Open("COM1");

  // The application takes a label now and then, so the queue fills too.
  int dataEvents = 0;
  sink.OnEvent([&](const fakes::FiredEvent& event) {
    if (event.kind != fakes::FiredEvent::kData) return;
    ++dataEvents;
    const std::string scanData = events.ScanData();
    FUZZ_CHECK(scanData.size() <= kMaxScanDataLength, "scan data bound");
    if (dataEvents % 3 != 0) state.DataEventEnabled = 1;
  });

  // The stream, cut into chunks at the requests; each request is made when
  // the loop finds the port silent before the chunk after it.
  struct Chunk {
    std::vector<uint8_t> bytes;
    long request = -1;
  };
  auto chunks = std::make_shared<std::vector<Chunk>>(1);
  for (size_t i = 22; i < size; ++i) {
    if (data[i] == kRequest && i + 1 < size) {
      chunks->push_back({{}, kOperations[data[++i] % 14]});
    } else if (data[i] == kSilence && i + 1 < size) {
      const int reads = data[++i] % 16;
      port.Feed(chunks->back().bytes);
      chunks->back().bytes.clear();
      if (chunks->size() == 1) port.Silence(reads);
    } else {
      chunks->back().bytes.push_back(data[i]);
    }
  }
  port.Feed((*chunks)[0].bytes);
  size_t next = 1;
  port.OnIdleRead([&, chunks](int reads) {
    if (next < chunks->size()) {
      if ((*chunks)[next].request >= 0) {
        opening.PortableState = (*chunks)[next].request;
      }
      port.Feed((*chunks)[next].bytes);
      ++next;
    } else if (reads > 40) {
      opening.ReceiveActive = false;
    }
  });
  // The loop must end: a budget of virtual time it may not exceed.
  clock.OnSleep([&](uint32_t) {
    FUZZ_CHECK(clock.NowMs() < 100000000, "the receive loop never ends");
  });

  SerialReceiver receiver(state, opening, link, clock, notifier, events, sink,
                          programmer);
  receiver.Run();

  static const std::set<long> kStatuses = {700, 701, 702, 703, 704, 705,
                                           800, 801, 802, 803, 900};
  static const std::set<long> kDirectIO = {500, 501, 502, 504, 505};
  for (const auto& event : sink.Events()) {
    if (event.kind == fakes::FiredEvent::kStatusUpdate) {
      FUZZ_CHECK(kStatuses.count(event.number), "a known status");
    } else if (event.kind == fakes::FiredEvent::kDirectIO) {
      FUZZ_CHECK(kDirectIO.count(event.number), "a known event number");
      if (event.number == 504) {
        FUZZ_CHECK(event.text.size() >= 35 && event.text[32] == ',',
                   "the status text starts with 32 hex digits");
      }
    }
  }
  FUZZ_CHECK(events.DataCount() <= 300, "queue bound");
  bool known = false;
  for (long operation : kOperations)
    known |= opening.PortableState == operation;
  FUZZ_CHECK(known, "a known operation state");
  return 0;
}
