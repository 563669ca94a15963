// Host cost of turning a frame into scan data, and of the whole hand-off
// of a label to the application.
#include <benchmark/benchmark.h>

#include <string>

#include "talscan/core/event_path.h"
#include "talscan/core/scan_data.h"

namespace {

void BM_BuildScanData(benchmark::State& state) {
  const std::string frames[] = {"A012345678905", "F4006381333931",
                                "KShop till 128", "FF96385074"};
  const ScanDataSettings settings{state.range(0), state.range(1), true};
  ScanResult result;
  result.ScanData.reserve(kMaxScanDataLength);
  result.ScanDataLabel.reserve(kMaxScanDataLength);
  size_t i = 0;
  for (auto _ : state) {
    const std::string& frame = frames[i++ % 4];
    BuildScanData(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(),
                  settings, result);
    benchmark::DoNotOptimize(result.ScanData.data());
  }
  state.SetItemsProcessed(state.iterations());
}
// Arguments: compatibility mode, binary conversion.
BENCHMARK(BM_BuildScanData)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({0, 1})
    ->Args({0, 2});

class NullSink : public EventSink {
 public:
  void FireSOData(long) override {}
  void FireSODirectIO(long, long&, std::string&) override {}
  void FireSOStatusUpdate(long) override {}
};

void BM_DeliverFrameAtOnce(benchmark::State& state) {
  ScannerState scanner;
  Opening opening{DeviceEntry()};
  NullSink sink;
  EventPath path(scanner, opening, sink);
  opening.ReceiveActive = true;
  scanner.DecodeData = 1;
  LabelFrame frame;
  const std::string label = "A012345678905";
  for (auto _ : state) {
    for (char c : label) frame.AppendFrameByte(static_cast<uint8_t>(c));
    scanner.DataEventEnabled = 1;
    path.DeliverFrame(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeliverFrameAtOnce);

void BM_QueueAndDrain(benchmark::State& state) {
  ScannerState scanner;
  Opening opening{DeviceEntry()};
  NullSink sink;
  EventPath path(scanner, opening, sink);
  opening.ReceiveActive = true;
  scanner.DecodeData = 1;
  LabelFrame frame;
  const std::string label = "A012345678905";
  for (auto _ : state) {
    for (char c : label) frame.AppendFrameByte(static_cast<uint8_t>(c));
    path.DeliverFrame(frame);     // queued: data events are disabled
    path.SetDataEventEnabled(1);  // delivered from the queue
    scanner.DataEventEnabled = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueueAndDrain);

}  // namespace

BENCHMARK_MAIN();
